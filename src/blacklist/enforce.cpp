// The unattended pass: every present device against the entries in force.
#include "blacklist/enforce.h"

#include "blacklist/match.h"
#include "blacklist/store.h"
#include "base/text.h"
#include "device/devset.h"
#include "device/scan.h"
#include "device/syscmd.h"
#include "log/log.h"
#include "sys/sys.h"

namespace {

// One device to remove, under the first entry that reaches it.
struct Hit {
    int entry;
    char16_t inst[INST_UNITS];
    char name[DEV_TEXT_BYTES];  // lower-cased, as the log shows it
};
Hit g_hits[DEV_MAX];
int g_nhits;

// Walks every device record once and keeps the present devices that an
// unexpired entry reaches; absent records take no room. 0 when the list
// cannot be had (the reason is logged).
int collect(int64_t now) {
    g_nhits = 0;
    uint32_t err = 0;
    DevSetGuard set{sys_dev_open(1, &err)};
    if (!set.s) {
        logline(EV_ENUM_FAILED, "枚举设备失败 (code %lu)", (unsigned long)err);
        return 0;
    }
    static DeviceEntry d;
    static char inst[DEV_TEXT_BYTES], name[DEV_TEXT_BYTES];
    for (uint32_t idx = 0; g_nhits < DEV_MAX && sys_dev_next(set.s, idx); idx++) {
        // A device whose removal is already pending is left to the restart.
        if (sys_dev_presence(set.s) != SYS_PRESENT || !dev_read(set.s, &d)) continue;
        dev_lower(d.inst, inst, sizeof inst);
        dev_lower(d.name, name, sizeof name);
        for (int b = 0; b < g_bn; b++) {
            if (now >= g_bl[b].until || bl_match(g_bl[b], inst, name, d.builtin) == BL_NO_HIT) continue;
            Hit& h = g_hits[g_nhits++];
            h.entry = b;
            wcopy_zero(h.inst, d.inst, countof(h.inst) - 1);
            h.inst[countof(h.inst) - 1] = 0;
            scopy(h.name, sizeof h.name, name);
            break;  // each device once, under the first entry
        }
    }
    return 1;
}

}  // namespace

int enforce_pass(void) {
    int dropped;
    if (bl_prune(&dropped) == BL_UNREADABLE) {
        // An entry we cannot read could be any device: remove none.
        logline(EV_BLACKLIST_UNREADABLE, "读取拉黑名单失败");
        return 0;
    }
    int64_t now = sys_now();
    int live = 0;
    for (int b = 0; b < g_bn; b++) live += now < g_bl[b].until;
    // An empty blacklist must not cost a device enumeration. The set is
    // closed before anything is removed: a removal opens its own.
    if (live && collect(now)) {
        for (int b = 0; b < g_bn; b++) {
            for (int k = 0; k < g_nhits; k++) {
                const Hit& h = g_hits[k];
                if (h.entry != b) continue;
                char inst[DEV_TEXT_BYTES];
                dev_lower(h.inst, inst, sizeof inst);
                logline(EV_HIT, "后台命中拉黑 | %s | %s", h.name, inst);
                sys_removal r = remove_dev(h.inst);
                if (r == SYS_REMOVED_RESTART) logline(EV_ENFORCED_RESTART, "后台已删除（需重启） | %s", h.name);
                else if (r == SYS_REMOVED) logline(EV_ENFORCED, "后台已删除 | %s", h.name);
                else logline(EV_ENFORCE_FAILED, "后台删除失败 | %s", h.name);
            }
        }
    }
    if (dropped) logline(EV_EXPIRED, "到期自动解除 %d 条", dropped);
    return 0;
}
