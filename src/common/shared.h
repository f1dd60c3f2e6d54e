// The process-wide tables and flags that the parts of the program share.
#pragma once

#include <cstdint>

struct DeviceEntry {
    char16_t name[512];  // friendly name, else device description; may be empty
    char16_t cls[128];   // setup class name
    char16_t inst[512];  // device instance id
    int32_t present;     // attached now (0: a leftover record)
    int32_t builtin;     // built-in/system device
};

struct BlacklistEntry {
    char name[600];   // display name, ASCII lower-cased
    char inst[1200];  // instance id as stored
    char cls[128];
    int64_t until;    // expiry, seconds since 1970 UTC; in force while now < until
    int32_t byname;   // non-zero: also matches devices whose name contains `name`
};

constexpr int DEV_MAX = 2000;
constexpr int BL_MAX = 64;
constexpr int KEY_UNITS = 128;

extern DeviceEntry g_dev[DEV_MAX];
extern int g_n;
extern BlacklistEntry g_bl[BL_MAX];
extern int g_bn;
extern char16_t g_key[KEY_UNITS];
extern int g_force;
