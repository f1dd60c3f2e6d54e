// Which entries of the blacklist want an install block.
#pragma once

#include <cstddef>
#include <cstdint>

#include "blacklist/entry.h"
#include "block/ids.h"

// 1 when entry e wants a block at `now`, with its id in id (INST_UNITS):
// it is in force and has an id, and it is not a built-in device's, which
// nobody may lose the use of.
int bl_wants_block(const BlacklistEntry& e, int64_t now, char16_t* id);
// The ids that the table t[0..n) and `extra` (an entry about to be added;
// may be null) want blocked at `now`, each once, in table order.
void bl_wanted(const BlacklistEntry* t, int n, const BlacklistEntry* extra, int64_t now, BlockIds* out);
// The models that the table t[0..n) and `extra` want blocked at `now`, with
// the models m[0..nm) and `extra_model` (either extra may be null): those of
// entries in force that match by name, whose model passed its check (no
// other device uses it), never a built-in device's, and with a USB
// function's model its composite device's id; each once.
void bl_wanted_models(const BlacklistEntry* t, int n, const BlacklistEntry* extra, const BlacklistModel* m, int nm,
                      const BlacklistModel* extra_model, int64_t now, BlockIds* out);
// 1 when this copy's block holds the entry's id now.
int bl_blocked(const BlacklistEntry& e);
// The entry's model id (null when it has none), and 1 when its block holds
// (with its composite device's, for a USB function).
const char* bl_model_id(const BlacklistEntry& e);
int bl_model_blocked(const BlacklistEntry& e);
// A USB function's composite device id, blocked with its model, into out;
// null when the entry has no such model.
const char* bl_model_parent(const BlacklistEntry& e, char* out, size_t size);
