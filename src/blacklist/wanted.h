// Which entries of the blacklist want an install block.
#pragma once

#include <cstddef>
#include <cstdint>

#include "blacklist/entry.h"
#include "blacklist/rulefile.h"
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

// Everything the rules in force at `now` want of both lists: the entries
// and their models (as above), the rules file's models whose check passed
// (with `extra_rule`, one about to be put), and policy's instance ids and
// models. An id an approval protects is left out where the approval
// outranks the block: policy above the PC, and within one source the higher
// layer (instance over model over name); within one layer a block holds.
// An approved unit protects every hardware id it has, its composite
// device's id and, never seen here, the device id its instance id starts
// with: Windows would refuse it too. Each id once.
struct WantInput {
    const BlacklistEntry* t;
    int n;
    const BlacklistEntry* extra;
    const BlacklistModel* m;
    int nm;
    const BlacklistModel* extra_model;
    const Rule* r;
    int nr;
    const Rule* extra_rule;
};
void bl_wanted_all(const WantInput& in, int64_t now, BlockWant* out);
// 1 when this copy's block holds the entry's id now; or an instance id's.
int bl_blocked(const BlacklistEntry& e);
int bl_id_blocked(const char* inst);
// The entry's model id (null when it has none), and 1 when its block holds
// (with its composite device's, for a USB function).
const char* bl_model_id(const BlacklistEntry& e);
int bl_model_blocked(const BlacklistEntry& e);
// 1 when this copy's block holds a model's id (with its composite device's,
// for a USB function's model): for a model rule.
int bl_id_model_blocked(const char* model);
// A USB function's composite device id, blocked with its model, into out;
// null when the entry has no such model.
const char* bl_model_parent(const BlacklistEntry& e, char* out, size_t size);
