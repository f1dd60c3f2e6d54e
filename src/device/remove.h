// Removing a device by its instance id.
#pragma once

#include "sys/sys.h"

// Removes a device by instance id (class installer, pnputil as fallback) and
// checks that it is gone when no restart is pending.
sys_removal remove_dev(const char16_t* instance_id);
