// Which entries of the blacklist want an install block.
#pragma once

#include <cstdint>

#include "blacklist/store.h"

// 1 when entry e wants a block at `now`, with its id in id (INST_UNITS):
// it is in force and has an id, and it is not a built-in device's, which
// nobody may lose the use of.
int bl_wants_block(const BlacklistEntry& e, int64_t now, char16_t* id);
// The ids that the table t[0..n) and `extra` (an entry about to be added;
// may be null) want blocked at `now`, each once, in table order.
void bl_wanted(const BlacklistEntry* t, int n, const BlacklistEntry* extra, int64_t now, BlockIds* out);
// 1 when this copy's block holds the entry's id now.
int bl_blocked(const BlacklistEntry& e);
