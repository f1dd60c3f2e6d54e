// Removing a device by its instance id.
#pragma once

#include "sys/sys.h"

// Removes a device by instance id (class installer, pnputil as fallback) and
// checks that it is gone when no restart is pending. hardware, when given,
// gets the device's hardware ids (IDS_UNITS) as they were before it went;
// an empty list when they could not be read.
sys_removal remove_dev(const char16_t* instance_id, char16_t* hardware = nullptr);
