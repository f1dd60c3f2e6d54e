// Device scan, keyword match and built-in classification.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sys/sys.h"

// Room for each text of a device, in UTF-16 units with the terminator.
constexpr size_t NAME_UNITS = 512, CLASS_UNITS = 128, INST_UNITS = 512;

// One device the last scan kept.
struct DeviceEntry {
    char16_t name[NAME_UNITS];  // friendly name, else device description; may be empty
    char16_t cls[CLASS_UNITS];  // setup class name
    char16_t inst[INST_UNITS];  // device instance id
    int32_t present;     // attached now (0: a leftover record)
    int32_t builtin;     // built-in/system device
};

constexpr int DEV_MAX = 2000;
constexpr int KEY_UNITS = 128;
// Room for a device text as UTF-8 (511 units, each up to three bytes).
constexpr size_t DEV_TEXT_BYTES = 1200;

// The devices of the last scan, in enumeration order; rewritten by every scan.
extern DeviceEntry g_dev[DEV_MAX];
extern int g_n;
// The custom keyword, lower-cased; empty: the default keywords apply.
extern char16_t g_key[KEY_UNITS];

extern const char16_t* const DEF_KEYS[8];
extern const char16_t* const PROT_CLASS[12];

// Stores a UTF-8 keyword, lower-cased, in g_key (longest whole-character
// prefix that fits in 127 units). An empty text leaves g_key empty.
void set_key(const char* text);
// Refills g_dev/g_n. all: include devices that are not attached;
// match_all: keep every device instead of testing the display name.
// 0 when the device list cannot be had: the table is then empty and *err
// holds the system's error number.
int scan(int all, int match_all, uint32_t* err);

// The keyword test on a lower-cased display name (g_key, else the defaults
// and the "smart" + "cam" pair).
int name_matches(const char16_t* lower_name);
// 1 when the class or the instance id mark a built-in/system device.
int is_builtin(const char16_t* cls, const char16_t* inst);
