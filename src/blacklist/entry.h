// What the blacklist holds: its entries and the models of by-name entries.
// Types alone, under every other file of the blacklist.
#pragma once

#include <cstdint>

// One blacklisted device.
struct BlacklistEntry {
    char name[600];   // display name, ASCII lower-cased
    char inst[1200];  // instance id as stored
    char cls[128];
    int64_t until;    // expiry, seconds since 1970 UTC; in force while now < until
    int32_t byname;   // non-zero: also matches devices whose name contains `name`
};

constexpr int BL_MAX = 64;

// What the check of a by-name entry's model found when the entry was made.
enum model_verdict {
    MODEL_NONE,     // no hardware id names vendor and product: no model
    MODEL_OK,       // blocked while the entry is in force
    MODEL_SHARED,   // another device uses it, and no entry reaches it: never blocked
    MODEL_BUILTIN,  // a built-in/system device's: never blocked
    MODEL_UNKNOWN,  // the other devices could not be looked at: never blocked
    MODEL_NO_IDS,   // the device's hardware ids could not be read: no model
};

// The model of a by-name entry's device, by its instance id: the hardware
// id that every unit of the same model shares (blacklist-models.tsv).
struct BlacklistModel {
    char inst[sizeof(BlacklistEntry::inst)];
    char model[sizeof(BlacklistEntry::inst)];  // a hardware id, verbatim
    model_verdict verdict;                    // never NONE
};
