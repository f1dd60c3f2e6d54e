// Which present devices the entries in force reach: what the unattended
// pass removes and what the compliance check counts.
#pragma once

#include <cstdint>

#include "blacklist/match.h"
#include "device/scan.h"

// One present device, under the first entry in force that reaches it.
struct Reached {
    int entry;                  // index into g_bl
    bl_hit how;                 // by id, by name or by model
    char16_t inst[INST_UNITS];  // as the system reports them
    char16_t name[NAME_UNITS];  // as kept (DeviceEntry)
    char lower_name[DEV_TEXT_BYTES];  // as the log shows it
};

extern Reached g_reached[DEV_MAX];
extern int g_nreached;

// Forgets which devices were collected before, and empties g_reached.
void reach_reset(void);
// Refills g_reached with at most DEV_MAX present devices that entries in
// force at `now` reach, leaving out every device collected since the last
// reset. When an entry matches by name the present devices are walked;
// otherwise each entry's id is looked up, which costs next to nothing. A
// by-name entry whose model may be blocked also reaches a device, built-in
// ones aside, that has the model among its hardware ids, whatever its name.
// A device whose removal is already pending does not count. 0 when the
// device list cannot be had (*err holds the system's error number).
int reach_collect(int64_t now, uint32_t* err);

// After a lift: the first entry in force at `now` that still reaches the
// device with instance id `id`, present or not, by its id, its name or its
// model, with *how; -1 when none does. A device the system does not know is
// reached only by an entry with its id.
int bl_reaching(const char16_t* id, int64_t now, bl_hit* how);

// How many devices other than the one with instance id `own`, present or
// not and built-in ones left out, an entry matching by `lower_name` would
// reach; -1 when the device list cannot be had. Walks the system's device
// list; g_reached is left alone.
int bl_name_reach(const char* lower_name, const char16_t* own);
