// Device records as the self-test reads and uninstalls them.
#include "selftest/devices.h"

#include <initializer_list>

#include "base/text.h"
#include "device/devset.h"
#include "device/walk.h"

dev_seen device_seen(const char16_t* id, uint32_t* problem) {
    *problem = 0;
    DevSetGuard set{sys_dev_open_id(id)};
    if (!set.s) return SEEN_NO_RECORD;
    switch (sys_dev_state_of(set.s, problem)) {
    case SYS_DEV_STARTED: return SEEN_STARTED;
    case SYS_DEV_NOT_PRESENT: return SEEN_NOT_PRESENT;
    default: return SEEN_NOT_STARTED;
    }
}

// DIF_REMOVE takes a record away whether its device is attached or not.
int device_uninstall(const char16_t* id) {
    {
        DevSetGuard set{sys_dev_open_id(id)};
        if (set.s) (void)sys_dev_remove(set.s);
    }
    DevSetGuard again{sys_dev_open_id(id)};
    return again.s == nullptr;
}

namespace {

// The ids found under the prefix, uninstalled after the walk: the walk
// holds the one device set there is.
char16_t g_found[64][INST_UNITS];

}  // namespace

int devices_uninstall_under(const char16_t* prefix) {
    DevWalk w;
    static WalkedDevice d;
    if (!dev_walk_open(&w, WALK_ALL)) return -1;
    int n = 0;
    while (dev_walk_next(&w, &d))
        if (wistarts(d.d.inst, prefix) && n < (int)countof(g_found)) wcopy(g_found[n++], INST_UNITS, d.d.inst);
    dev_walk_close(&w);
    int left = 0;
    for (int i = 0; i < n; i++) left += !device_uninstall(g_found[i]);
    return left;
}

int device_id_taken(const char16_t* prefix) {
    DevWalk w;
    static WalkedDevice d;
    static char16_t ids[IDS_UNITS];
    if (!dev_walk_open(&w, WALK_ALL)) return -1;
    int taken = 0, untold = 0;
    while (!taken && dev_walk_next(&w, &d)) {
        taken = wistarts(d.d.inst, prefix);
        for (sys_ids which : {SYS_IDS_HARDWARE, SYS_IDS_COMPATIBLE}) {
            sys_read r = dev_walk_ids(&w, which, ids, countof(ids));
            untold |= r == SYS_READ_FAILED;
            for (const char16_t* id = ids; r == SYS_READ_OK && *id && !taken; id += wlen(id) + 1)
                taken = wistarts(id, prefix);
        }
    }
    dev_walk_close(&w);
    return taken ? 1 : untold ? -1 : 0;
}
