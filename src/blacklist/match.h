// The one rule by which a blacklist entry reaches a device, for the table,
// the unattended pass and the consent question of the dialogue.
#pragma once

#include <cstdint>

#include "blacklist/store.h"
#include "device/device.h"

enum bl_hit { BL_NO_HIT, BL_BY_ID, BL_BY_NAME, BL_BY_MODEL };

// How entry e reaches a device, given the device's ASCII-lower-cased UTF-8
// instance id and name (see dev_lower). By id when the ids are equal, letter
// case aside; by name when the entry matches by name and the device's name
// contains the entry's, but never for a built-in device, which nobody may
// lose through a name it merely shares.
bl_hit bl_match(const BlacklistEntry& e, const char* lower_inst, const char* lower_name, int builtin);

