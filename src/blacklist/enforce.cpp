#include "blacklist/enforce.h"

#include <cstring>

#include "blacklist/store.h"
#include "common/shared.h"
#include "common/text.h"
#include "device/scan.h"
#include "device/syscmd.h"
#include "log/log.h"
#include "sys/sys.h"

namespace {

// Each present device's texts, converted and lower-cased once per pass
// rather than once per entry: the result is the same, the worst case
// (64 entries x 2000 devices) many times cheaper.
struct Lowered {
    char inst[1200];
    char name[1200];
};
Lowered g_low[DEV_MAX];

}  // namespace

int bl_matches(const BlacklistEntry& e, const char* lower_inst, const char* lower_name) {
    // An empty id names no device: it would match every device whose id
    // could not be read.
    if (e.inst[0] && ieq_ascii(e.inst, lower_inst)) return 1;
    return e.byname && e.name[0] && strstr(lower_name, e.name) != nullptr;
}

void enforce_walk(int64_t now) {
    for (int d = 0; d < g_n; d++) {
        if (!g_dev[d].present) continue;
        utf8(g_dev[d].inst, g_low[d].inst, sizeof g_low[d].inst);
        lower_ascii(g_low[d].inst);
        utf8(g_dev[d].name, g_low[d].name, sizeof g_low[d].name);
        lower_ascii(g_low[d].name);
    }
    for (int b = 0; b < g_bn; b++) {
        const BlacklistEntry& e = g_bl[b];
        if (now >= e.until) continue;
        for (int d = 0; d < g_n; d++) {
            if (!g_dev[d].present) continue;
            if (!bl_matches(e, g_low[d].inst, g_low[d].name)) continue;
            logline("后台命中拉黑 | %s | %s", g_low[d].name, g_low[d].inst);
            sys_removal r = remove_dev(g_dev[d].inst);
            if (r == SYS_REMOVED_RESTART)
                logline("后台已删除（需重启） | %s", g_low[d].name);
            else if (r == SYS_REMOVED)
                logline("后台已删除 | %s", g_low[d].name);
            else
                logline("后台删除失败 | %s", g_low[d].name);
        }
    }
}

int enforce_pass(void) {
    int dropped;
    bl_prune(&dropped);
    if (g_bn > 0) {  // an empty blacklist must not cost a device enumeration
        scan(1, 1);
        enforce_walk(sys_now());
    }
    if (dropped) logline("到期自动解除 %d 条", dropped);
    return 0;
}
