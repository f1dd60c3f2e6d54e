// The last scan's device table and the keyword it matches.
#pragma once

#include <cstdint>

#include "device/device.h"

constexpr int DEV_MAX = 2000;
constexpr int KEY_UNITS = 128;

// The devices of the last scan, in enumeration order; rewritten by every scan.
extern DeviceEntry g_dev[DEV_MAX];
extern int g_n;
// How many devices the last scan matched: more than g_n when the table was full.
extern int g_matched;
// The custom keyword, lower-cased; empty: the default keywords apply.
extern char16_t g_key[KEY_UNITS];

extern const char16_t* const DEF_KEYS[8];

// Stores a UTF-8 keyword, lower-cased, in g_key (longest whole-character
// prefix that fits in 127 units). An empty text empties g_key, and the
// default keywords apply again.
void set_key(const char* text);

enum scan_flags {
    SCAN_PRESENT = 0,    // devices attached now
    SCAN_ALL = 1,        // also the records of devices that are not attached
    SCAN_MATCH_ALL = 2,  // keep every device instead of testing the display name
};
// Refills g_dev/g_n (flags: scan_flags). 0 when the device list cannot be
// had: the table is then empty and *err holds the system's error number.
int scan(int flags, uint32_t* err);

// Refills g_dev/g_n with the present devices that have `model` among their
// hardware ids (whole string, letter case aside), as pnputil's
// /remove-device /deviceid picks them; a composite device counts by its own
// id although it is built-in. 0 when the device list cannot be had.
int scan_model(const char16_t* model, uint32_t* err);

// The keyword test on a lower-cased display name (g_key, else the defaults
// and the "smart" + "cam" pair).
int name_matches(const char16_t* lower_name);
