// One device record as the program keeps it, and the built-in/system
// classification of a device.
#pragma once

#include <cstddef>
#include <cstdint>

// Room for each text of a device as kept, in UTF-16 units with the terminator.
constexpr size_t NAME_UNITS = 512, CLASS_UNITS = 128, INST_UNITS = 512;
// Room for a device text as UTF-8 (511 units, each up to three bytes).
constexpr size_t DEV_TEXT_BYTES = 1200;
// Room for a whole name as the system hands it out, and for it as UTF-8:
// every match is made on the whole name, which is cut only where it is
// shown or stored.
constexpr size_t WHOLE_NAME_UNITS = 4096;
constexpr size_t WHOLE_NAME_BYTES = 3 * (WHOLE_NAME_UNITS - 1) + 1;

struct DeviceEntry {
    char16_t name[NAME_UNITS];  // friendly name, else device description; may be empty
    char16_t cls[CLASS_UNITS];  // setup class name
    char16_t inst[INST_UNITS];  // device instance id
    int32_t present;     // attached now (0: a leftover record)
    int32_t builtin;     // built-in/system device
    int32_t name_cut;    // name holds only the start of a longer name
};

extern const char16_t* const PROT_CLASS[12];

// 1 when the class or the instance id mark a built-in/system device.
int is_builtin(const char16_t* cls, const char16_t* inst);
// A device text as the blacklist compares it: UTF-8, A-Z lower-cased.
void dev_lower(const char16_t* w, char* out, size_t size);
