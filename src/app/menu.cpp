// The command menu: number lists, all, keyword change, quit.
#include "app/console.h"
#include "app/blmenu.h"
#include "app/dialog.h"
#include "app/menu.h"
#include "device/scan.h"

namespace {

// The positions typed: static, as a whole table's are 8 KB.
int g_sel[DEV_MAX];

void nothing_selected(void) { out("  没有选中任何设备。\n\n"); }

void keyword_change(void) {
    out("  输入新的匹配关键词（直接回车恢复默认）> ");
    char line[256];
    if (!read_line(line, sizeof line)) return;
    int n = 0;
    while (line[n]) n++;
    if (n > 0 && line[n - 1] == '\n') line[--n] = 0;
    set_key(line);  // an empty line: the default keywords again
}

}  // namespace

int parse_selection(const char* line, int n_dev, int* sel, int cap) {
    int count = 0;
    const char* p = line;
    while (*p && count < cap) {
        if (*p < '0' || *p > '9') {
            p++;
            continue;
        }
        // A run of digits; one beyond the 32-bit range is simply out of range.
        long long v = 0;
        int big = 0;
        for (; *p >= '0' && *p <= '9'; p++) {
            if (!big) v = v * 10 + (*p - '0');
            if (v > 2147483647LL) big = 1;
        }
        if (!big && v >= 1 && v <= n_dev) sel[count++] = (int)(v - 1);
    }
    return count;
}

int menu_step(const Args& a) {
    out("  操作：  1,2,3 = 删除指定序号    a = 全部    k = 换关键词\n");
    out("          b = 拉黑名单管理        r = 重新扫描  q = 退出\n");
    out("  > ");
    char line[256];
    if (!read_line(line, sizeof line) || line[0] == 0) return 0;
    switch (line[0]) {
    case 'q': case 'Q':
        return 0;
    case 'r': case 'R':
        return 1;
    case 'k': case 'K':
        keyword_change();
        return 1;
    case 'b': case 'B':
        bl_menu(a);
        return 1;
    case 'a': case 'A': {
        if (g_n < 1) {
            nothing_selected();
            return 1;
        }
        for (int i = 0; i < g_n; i++) g_sel[i] = i;
        removal_dialog(a, g_sel, g_n);
        return 1;
    }
    default: {
        int n = parse_selection(line, g_n, g_sel, DEV_MAX);
        if (n == 0) nothing_selected();
        else removal_dialog(a, g_sel, n);
        return 1;
    }
    }
}
