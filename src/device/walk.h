// One walk over the system's devices, for every place that walks them: the
// scan, the by-name reach of a blacklist entry and the unattended pass.
#pragma once

#include <cstdint>

#include "device/device.h"
#include "sys/sys.h"

enum walk_flags {
    WALK_PRESENT = 0,  // devices attached now
    WALK_ALL = 1,      // every record of every class, present or not
    WALK_LOWER = 2,    // hand out the lower-cased texts too (the keyword scan needs none)
};

// A cursor the caller advances; one is open at a time, like the set under it.
struct DevWalk {
    sys_devset* set;
    uint32_t index;
    uint32_t err;  // the system's error number when the open failed
    int lower;     // fill the lower-cased texts too
};

// One device as the walk hands it out: its texts as kept, its whole name,
// and, when the walk was opened with WALK_LOWER, the id and the whole name
// lower-cased as UTF-8 (dev_lower).
struct WalkedDevice {
    DeviceEntry d;
    char16_t whole[WHOLE_NAME_UNITS];
    sys_presence presence;
    char inst[DEV_TEXT_BYTES];
    char name[WHOLE_NAME_BYTES];
    char16_t parent[INST_UNITS];  // its parent's instance id; only a lookup by id reads it
};

// flags: walk_flags. 0 when the device list cannot be had (w->err says why).
int dev_walk_open(DevWalk* w, int flags);
// The next device with a name or an id; 0 at the end.
int dev_walk_next(DevWalk* w, WalkedDevice* out);
void dev_walk_close(DevWalk* w);

// Reads the current member of an open set into w: its texts, presence and
// built-in mark. 0 when it has neither a name nor an instance id.
int dev_read(sys_devset* s, WalkedDevice* w);

// Opens the one device with this instance id: 1 with it in *out, 0 when the
// system knows no such device.
int dev_lookup(const char16_t* id, WalkedDevice* out);

// Room for one of a device's id lists (a multi-string), in units: some
// devices list a hundred ids and more; a longer list is read as no answer.
constexpr size_t IDS_UNITS = 16384;
// One of the id lists of the device the walk is on (see sys_dev_ids).
sys_read dev_walk_ids(DevWalk* w, sys_ids which, char16_t* buf, uint32_t units);
// A device's hardware ids, and how their read went: an empty list unless
// read whole; and, where the caller asked, its parent's instance id (empty
// when it has none).
struct HardwareIds {
    char16_t ids[IDS_UNITS];
    sys_read read;
    char16_t parent[INST_UNITS];
};
// The hardware ids of the device with this instance id, and its compatible
// ids when `compatible` is given; 0 when the system knows no such device.
int dev_lookup_ids(const char16_t* id, HardwareIds* hw, HardwareIds* compatible = nullptr);
// The ids a unit is known by: its hardware ids (looked up where look_up is
// 1), or else the device id its instance id starts with, which the bus
// makes of them. 0 when neither: hw is then empty.
int dev_unit_ids(const char16_t* inst, HardwareIds* hw, int look_up);
// The instance id of the parent of the device the walk is on, into buf
// (INST_UNITS); 0 when it has none.
int dev_walk_parent(DevWalk* w, char16_t* buf);
