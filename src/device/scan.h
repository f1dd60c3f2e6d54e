// Device scan, keyword match and built-in classification.
#pragma once

#include <cstddef>

#include "common/shared.h"
#include "sys/sys.h"

extern const char16_t* const DEF_KEYS[8];
extern const char16_t* const PROT_CLASS[12];

// Stores a UTF-8 keyword, lower-cased, in g_key (longest whole-character
// prefix that fits in 127 units). An empty text leaves g_key empty.
void set_key(const char* text);
// Refills g_dev/g_n. all: include devices that are not attached;
// match_all: keep every device instead of testing the display name.
void scan(int all, int match_all);

// The keyword test on a lower-cased display name (g_key, else the defaults
// and the "smart" + "cam" pair).
int name_matches(const char16_t* lower_name);
// 1 when the class or the instance id mark a built-in/system device.
int is_builtin(const char16_t* cls, const char16_t* inst);
// Reads the current member of an open set into d: its texts, presence and
// built-in mark. 0 when it has neither a name nor an instance id.
int dev_read(sys_devset* s, DeviceEntry* d);
// A device text as the blacklist compares it: UTF-8, A-Z lower-cased.
void dev_lower(const char16_t* w, char* out, size_t size);
