// Device removal: the class installer, pnputil as its fallback, and a check
// that the device is gone.
#include "device/remove.h"

#include "base/text.h"
#include "device/devset.h"
#include "device/walk.h"
#include "proc/run.h"

namespace {

// pnputil's "removed, a restart finishes the job".
constexpr int PNPUTIL_REBOOT = 3010;

// 1 when the id can stand as one argument. A device picks its own serial
// number, so the id is untrusted input: a quote would end the argument
// early, and control characters have no business in an id.
int id_safe(const char16_t* id) {
    for (; *id; id++)
        if (*id == u'"' || *id < 0x20) return 0;
    return 1;
}

// 1 when the device with this id is still attached.
int still_there(const char16_t* id) {
    DevSetGuard set{sys_dev_open_id(id)};
    return set.s && sys_dev_presence(set.s) != SYS_ABSENT;
}

sys_removal class_installer_remove(const char16_t* id, HardwareIds* hardware) {
    DevSetGuard set{sys_dev_open_id(id)};
    if (!set.s) return SYS_REMOVE_FAILED;
    if (hardware) {
        hardware->read = sys_dev_ids(set.s, SYS_IDS_HARDWARE, hardware->ids, IDS_UNITS);
        (void)sys_dev_parent(set.s, hardware->parent, INST_UNITS);
    }
    return sys_dev_remove(set.s);
}

sys_removal pnputil_remove(const char16_t* id) {
    if (!id_safe(id)) return SYS_REMOVE_FAILED;
    char16_t args[RUN_LINE_UNITS] = {0};
    wcat8(args, countof(args), "/remove-device ");
    if (!add_arg(args, countof(args), id)) return SYS_REMOVE_FAILED;  // a cut id would name another device
    int rc;
    if (!run_silent("pnputil.exe", args, &rc)) return SYS_REMOVE_FAILED;
    if (rc == PNPUTIL_REBOOT) return SYS_REMOVED_RESTART;
    return rc == 0 ? SYS_REMOVED : SYS_REMOVE_FAILED;
}

}  // namespace

sys_removal remove_dev(const char16_t* instance_id, HardwareIds* hardware) {
    if (hardware) {
        hardware->ids[0] = hardware->ids[1] = 0;
        hardware->read = SYS_READ_FAILED;
        hardware->parent[0] = 0;
    }
    // An empty id would pick the first device whose id cannot be read.
    if (!instance_id[0]) return SYS_REMOVE_FAILED;
    sys_removal r = class_installer_remove(instance_id, hardware);
    if (r == SYS_REMOVE_FAILED) r = pnputil_remove(instance_id);
    // "Removed" without a pending restart must mean gone.
    if (r == SYS_REMOVED && still_there(instance_id)) r = SYS_REMOVE_FAILED;
    return r;
}
