// How an entry reaches a device, and how far a name would reach.
#include "blacklist/match.h"

#include <cstring>

#include "base/text.h"
#include "device/walk.h"

bl_hit bl_match(const BlacklistEntry& e, const char* lower_inst, const char* lower_name, int builtin) {
    // An empty id names no device: it would match every device whose id
    // could not be read.
    if (e.inst[0] && ieq_ascii(e.inst, lower_inst)) return BL_BY_ID;
    if (e.byname && e.name[0] && !builtin && strstr(lower_name, e.name)) return BL_BY_NAME;
    return BL_NO_HIT;
}

namespace {

// A device's texts as compared, and a device looked up for its whole name:
// static, as they are 22 KB.
char g_inst[DEV_TEXT_BYTES], g_name[DEV_TEXT_BYTES];
WalkedDevice g_whole;

}  // namespace

bl_hit bl_device_mark(const DeviceEntry& d, int64_t now) {
    dev_lower(d.inst, g_inst, sizeof g_inst);
    // A name the table holds cut is matched whole, as the pass matches it,
    // when an entry matches by name at all.
    int by_name = 0;
    for (int i = 0; i < g_bn; i++) by_name |= g_bl[i].byname && g_bl[i].name[0];
    const char* name = g_name;
    if (by_name && d.name_cut && dev_lookup(d.inst, &g_whole)) name = g_whole.name;
    else dev_lower(d.name, g_name, sizeof g_name);
    bl_hit mark = BL_NO_HIT;
    for (int i = 0; i < g_bn; i++) {
        bl_hit h = bl_match(g_bl[i], g_inst, name, d.builtin);
        if (h == BL_BY_ID) return BL_BY_ID;
        if (h == BL_BY_NAME && now < g_bl[i].until) mark = BL_BY_NAME;
    }
    return mark;
}
