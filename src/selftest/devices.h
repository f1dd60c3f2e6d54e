// The software devices of a run and the records Windows keeps of them:
// what state a record is in, uninstalling it, and whether an id is taken.
#pragma once

#include <cstdint>

#include "device/device.h"

enum dev_seen {
    SEEN_NO_RECORD,    // Windows keeps no record of it
    SEEN_NOT_PRESENT,  // a record, unplugged
    SEEN_STARTED,      // installed, its driver running
    SEEN_NOT_STARTED,  // attached without a driver running: not installed
};
// The record of the device with this id; *problem: its problem code, if any.
dev_seen device_seen(const char16_t* id, uint32_t* problem);
// Uninstalls the record; 1 when none is left.
int device_uninstall(const char16_t* id);
// Uninstalls every record whose instance id starts with `prefix` (A-Z
// taken as a-z). How many could not be; -1 when the records cannot be read.
int devices_uninstall_under(const char16_t* prefix);
// Whether a device, present or recorded, has a hardware or compatible id
// that starts with `prefix`, or an instance id that does: 1 yes, 0 no, -1
// when the devices cannot be read.
int device_id_taken(const char16_t* prefix);
