// How an entry reaches a device, and how far a name would reach.
#include "blacklist/match.h"

#include <cstring>

#include "base/text.h"

bl_hit bl_match(const BlacklistEntry& e, const char* lower_inst, const char* lower_name, int builtin) {
    // An empty id names no device: it would match every device whose id
    // could not be read.
    if (e.inst[0] && ieq_ascii(e.inst, lower_inst)) return BL_BY_ID;
    if (e.byname && e.name[0] && !builtin && strstr(lower_name, e.name)) return BL_BY_NAME;
    return BL_NO_HIT;
}
