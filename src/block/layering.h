// Windows' layered order of evaluation for the device installation
// restrictions ("Apply layered order of evaluation for Allow and Prevent
// device installation policies across all device match criteria",
// AllowDenyLayered): an instance id on "Allow installation of devices that
// match any of these device instance IDs" then outranks a prevention by
// device id. It lets an approved unit install while its model stays
// blocked. Quillfen uses it only where the build honours it and nothing an
// administrator set would change meaning.
#pragma once

#include <cstdint>

#include "block/registry.h"

extern const char16_t LAYERED[];
// Under PRODUCT_KEY: DWORD 1 while Quillfen turned LAYERED on.
extern const char16_t LAYERED_MARK[];

// The running Windows: its build, its update revision (UBR) and whether it
// is a Home edition, read once per process. read: 0 while it cannot be read.
struct WindowsVersion {
    int read;
    int64_t build;
    int64_t ubr;
    int home;
};
const WindowsVersion& windows_version(void);

// 1 when this build and update revision honour layered evaluation: the
// builds Policy CSP's EnableInstallationPolicyLayering lists (1809 from
// 17763.2145, 1903 from 18362.1714, 2004 to 22H2 from 1904x.1151, Server
// 2022 from 20348.256, every build from 22000 on).
int layering_build_ok(int64_t build, int64_t ubr);

enum layering_state {
    LAYERING_USABLE,        // Quillfen may write allow values (turning layering on where it is absent)
    LAYERING_UNSUPPORTED,   // the build, its update revision or the edition does not honour it
    LAYERING_PREVENTIONS,   // an administrator's prevention would be outranked by an allow of ours
    LAYERING_ADMIN_ALLOWS,  // it is off, and turning it on would change what the administrator's allows mean
    LAYERING_OFF,           // the administrator turned it, or the instance-id allow list, off (DWORD 0)
    LAYERING_UNTOLD,        // what holds cannot be read
};
// What holds now, read afresh: the version, the administrator's own
// preventions (DenyUnspecified, DenyRemovableDevices, DenyDeviceClasses,
// DenyDeviceIDs values of no copy of Quillfen), their allows (AllowDeviceIDs,
// AllowDeviceClasses, AllowInstanceIDs values of no copy) and the switches.
layering_state block_layering(void);

// Under the machine's lock, before an allow value of ours is written: the
// layered switch holds DWORD 1, the administrator's or ours (marked before
// it is set). 1 on; 0 when it is not ours to turn on; -1 when it could not
// be read or written.
int layering_switch_on(void);
// Once no copy has an allow value left (br holds the allow list's records):
// our layered switch goes; one that no longer holds DWORD 1 is the
// administrator's, and only our mark goes. 0 when it should have settled
// and could not.
int layering_switch_settle(BlockRead& br);
// 1 while the layered switch is ours (for --check --json).
int layering_set_by_us(void);
