// The main screen: banner, elevation check and the device table.
#include "app/screen.h"

#include "version.h"

#include "app/console.h"
#include "app/show.h"
#include "rules/judge.h"
#include "store/store.h"
#include "base/text.h"
#include "device/scan.h"
#include "device/walk.h"
#include "files/exepath.h"
#include "log/log.h"
#include "sys/sys.h"

namespace {

const char RULE[] = "  ============================================================\n";

// The 已拉黑 column: 是 by id, 名 by name only, 型 by model, 准 approved.
const char* blacklisted(const Judge& j, const DeviceEntry& d) {
    int approved, policy;
    bl_hit h = judge_mark(j, d, &approved, &policy);
    return h == BL_BY_ID ? "是" : h == BL_BY_NAME ? "名" : h == BL_BY_MODEL ? "型" : approved ? "准" : "—";
}

}  // namespace

void banner(const Args& a) {
    out("\n");
    out("%s", RULE);
    out("     Quillfen  v%d   ·   扫描 / 手动删除 / 拉黑\n", QF_VERSION_MAJOR);
    out("     Quillfen 开发组 · 本机管理员专用\n");
    out("%s", RULE);
    out("   匹配关键词：");
    if (g_key[0]) {
        char k[256];
        shown_text(g_key, k, sizeof k);
        out("%s（自定义）", k);
    } else {
        for (const char16_t* key : DEF_KEYS) {
            char k[64];
            utf8(key, k, sizeof k);
            out("%s ", k);
        }
    }
    out("\n");
    out("   风险提示：%s\n", a.force ? "已关闭（--force）" : "开启（内置/系统设备会额外询问）");
    const RuleBook& b = bl_book();
    if (b.blacklist.state == SOURCE_UNREADABLE) {
        unreadable_line();
    } else {
        out("   拉黑名单：%d 条在用\n", book_entries_in_force(b, sys_now()));
        if (b.npolicy) out("   策略规则：%d 条在用（组策略/Intune 设定，本程序不修改）\n", b.npolicy);
        read_trouble_lines(b);
    }
    out("\n");
}

int elevation_check(void) {
    if (sys_is_elevated()) return 0;
    out("  [提示] 当前不是管理员，删除设备会失败。\n");
    out("  输入 e 以管理员身份重启，或直接回车继续（只能扫描）> ");
    char ans[32];
    if (read_line(ans, sizeof ans) && (ans[0] & ~0x20) == 'E') {
        char16_t exe[PATH_UNITS], args[16];
        utf16(ARG_ELEVATED, args, countof(args));
        if (exe_path(exe, countof(exe)) && sys_relaunch_elevated(exe, args)) return 1;
        out("  提权被取消。\n");
    }
    return 0;
}

void closing_lines(void) {
    out("\n  日志：device_cleanup_log.txt    拉黑名单：blacklist.tsv\n");
    out("  Vorin告辞，嗷呜——！\n\n");
}

void loop_head(const Args& a) {
    out("  正在扫描设备...\n");
    uint32_t code;
    if (!scan(a.scan_all ? SCAN_ALL : SCAN_PRESENT, &code)) out("  [错误] 枚举设备失败 (code %lu)\n", (unsigned long)code);
    if (g_n == 0) {
        out("  （没找到匹配的设备）\n\n");
    } else {
        out("  序号  状态   保护  已拉黑  %-32s %-14s %s\n", "设备名", "类别", "实例ID");
        int nb = 0;
        const Judge& j = judge_prepare(bl_book(), sys_now());
        for (int i = 0; i < g_n; i++) {
            const DeviceEntry& d = g_dev[i];
            char name[512], cls[128], inst[512];
            shown_text(d.name, name, sizeof name);
            shown_text(d.cls, cls, sizeof cls);
            shown_text(d.inst, inst, sizeof inst);
            out("  %-4d  %-4s  %-4s  %-6s  %-32s %-14s %s\n", i + 1, d.present ? "在场" : "离场",
                d.builtin ? "锁" : "—", blacklisted(j, d), name, cls, inst);
            if (d.builtin) nb++;
        }
        if (nb > 0)
            out("\n  [标记] %d 个属于内置/系统设备（列标「锁」），删除前会额外问你一句是否承担风险\n", nb);
        if (g_matched > g_n) out("\n  [提示] 匹配的设备共 %d 个，表中只列出前 %d 个。\n", g_matched, g_n);
        out("\n");
    }
    logline(LOG_FILE_ONLY, "扫描完成，命中 %d 个设备", g_n);
}
