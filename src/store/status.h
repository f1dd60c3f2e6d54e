// What a step of the blacklist says of itself: its status, what the
// install block did for an entry, and the book of the rules in force it
// left.
#pragma once

#include "block/ids.h"
#include "rules/book.h"
#include "rules/wanted.h"

// What the install block did for an entry: its instance id, and its model;
// model_lost: the model could not be kept beside the blacklist, and so is
// neither blocked nor reached by.
struct BlockResult {
    block_outcome instance;
    block_outcome model;
    int model_lost;
};

enum bl_status {
    BL_OK,          // done; the file holds the result
    BL_FULL,        // an add found the file already holding 64 entries
    BL_GONE,        // the entry to remove is no longer in the file
    BL_FAILED,      // the file could not be locked or written
    BL_UNREADABLE,  // the file exists but cannot be read: it is left alone
    BL_OVERFULL,    // the file holds more than 64 entries: only the first 64
                    // count, and nothing is written over it
    BL_BAD_LINES,   // the file holds lines that are no entry: its entries
                    // count, and nothing is written over it
    BL_RULES_REFUSED,  // a change of a rule, refused: the rules file cannot be read
                       // whole, holds lines that are no rule, or too many
};

// The rules in force as the last step read or left them; a change that
// failed leaves them as they were. Handed down, read only, to whoever
// decides; changed only through the steps of store.h.
const RuleBook& bl_book(void);
// The blacklist's read as a step's status: OK, UNREADABLE, OVERFULL or
// BAD_LINES (which wins when both hold).
bl_status bl_read_status(const RuleBook& b);
bl_status bl_read_status(const SourceRead& r);
