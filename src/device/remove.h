// Removing a device by its instance id.
#pragma once

#include "device/walk.h"
#include "sys/sys.h"

// Removes a device by instance id (class installer, pnputil as fallback) and
// checks that it is gone when no restart is pending. hardware, when given,
// gets the device's hardware ids and its parent as they were before it went.
sys_removal remove_dev(const char16_t* instance_id, HardwareIds* hardware = nullptr);
