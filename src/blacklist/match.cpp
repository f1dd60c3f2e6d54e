// How an entry reaches a device, and how far a name would reach.
#include "blacklist/match.h"

#include <cstring>

#include "base/text.h"
#include "device/devset.h"
#include "device/scan.h"

bl_hit bl_match(const BlacklistEntry& e, const char* lower_inst, const char* lower_name, int builtin) {
    // An empty id names no device: it would match every device whose id
    // could not be read.
    if (e.inst[0] && ieq_ascii(e.inst, lower_inst)) return BL_BY_ID;
    if (e.byname && e.name[0] && !builtin && strstr(lower_name, e.name)) return BL_BY_NAME;
    return BL_NO_HIT;
}

int bl_name_reach(const char* lower_name, const char16_t* own) {
    static BlacklistEntry probe;
    scopy(probe.name, sizeof probe.name, lower_name);
    probe.inst[0] = 0;
    probe.byname = 1;
    uint32_t err = 0;
    DevSetGuard set{sys_dev_open(1, &err)};
    if (!set.s) return 0;
    int n = 0;
    static DeviceEntry d;
    static char inst[DEV_TEXT_BYTES], name[DEV_TEXT_BYTES];
    for (uint32_t idx = 0; sys_dev_next(set.s, idx); idx++) {
        if (!dev_read(set.s, &d) || wicmp(d.inst, own) == 0) continue;
        dev_lower(d.inst, inst, sizeof inst);
        dev_lower(d.name, name, sizeof name);
        if (bl_match(probe, inst, name, d.builtin) == BL_BY_NAME) n++;
    }
    return n;
}
