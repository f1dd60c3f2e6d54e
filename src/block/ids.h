// What a caller wants of the install block and what it did, by list: the
// types the block's files and their callers share.
#pragma once

#include "device/device.h"

enum block_outcome {
    BLOCK_NONE,     // nothing was to be written: not applicable, no task, built-in, no id
    BLOCK_WRITTEN,  // this copy's block holds the id
    BLOCK_FAILED,   // it should have been written and could not be
};

// The ids a blacklist wants blocked, each once, and what the last sync did
// for each.
// Room for the entries' ids and models, the rules', and policy's.
constexpr int BLOCK_MAX_IDS = 512;
struct BlockIds {
    char16_t id[BLOCK_MAX_IDS][INST_UNITS];
    block_outcome outcome[BLOCK_MAX_IDS];
    int n;
    int untold;  // what is wanted cannot be told: the list is left as it stands
    int keep;    // what is wanted is known in part: the ids are written, nothing is lifted
};

// Windows' two deny lists and the allow list of instance ids, each with its
// own switch, and what is wanted of each.
enum block_list { BLOCK_INSTANCE_IDS, BLOCK_DEVICE_IDS, BLOCK_ALLOW_IDS, BLOCK_LISTS };
struct BlockWant {
    BlockIds list[BLOCK_LISTS];
};

// Who asks: the unattended pass logs neither of the two lines that say why
// nothing was written, or every run every five minutes would add them; and
// it alone takes over a task that an older version installed, since that
// task is what runs it.
enum block_caller { BLOCK_AT_CONSOLE, BLOCK_UNATTENDED };
