// The blacklist and the files beside it: every change and every read as
// one step under the blacklist's lock, each ending with the book of the
// rules in force as the step left them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "block/block.h"
#include "local/table.h"
#include "rules/book.h"
#include "store/status.h"

// Each change is one step under the blacklist's lock: the file is read again,
// exactly this change is applied to what was read, the result is written and
// is then what the book holds. On failure the book stays as it was; on
// OVERFULL it shows the file's first 64 entries.
// An add also brings the install block in line, and *block tells what that
// did for the entry's id and model. A model, when given, is kept for the
// entry's instance id (replacing one kept before).
bl_status bl_add(const BlacklistEntry& e, const BlacklistModel* model = nullptr, BlockResult* block = nullptr);
// For scripts that run the same command again and again: e put as
// table_put puts it, the file written only when that changed it. *entry is
// the entry as it stands afterwards, *block what the install block did.
bl_status bl_put(const BlacklistEntry& e, const BlacklistModel* model, bl_put_result* what, BlacklistEntry* entry,
                 BlockResult* block);
// The same on the book alone, for a run that must change nothing: the file,
// the install block and the log are left alone.
bl_status bl_put_in_memory(const BlacklistEntry& e, const BlacklistModel* model, bl_put_result* what,
                           BlacklistEntry* entry);
// A model rule or an approval, put as bl_put puts an entry: one of the same
// kind and id (letter case aside) stays the one rule, its end the later of
// the two; otherwise r is added (FULL when the rules file holds RULES_MAX).
// *what: 0 unchanged, 1 extended, 2 added; *after: the rule as it stands;
// *block: what the install block did for a model's id (model), or for an
// approved unit's allow value (instance).
bl_status bl_rule_put(const Rule& r, int* what, Rule* after, BlockResult* block);
// The same in memory alone, for a run that must change nothing.
bl_status bl_rule_put_in_memory(const Rule& r, int* what, Rule* after);
// Lifts the rules of this kind with this id (letter case aside), or every
// rule of the kind when id is null, each copied into gone (room for
// RULES_MAX); *n how many.
bl_status bl_rule_remove(rule_kind kind, const char* id, Rule* gone, int* n);
// Removes the first entry whose fields all equal e's.
bl_status bl_remove(const BlacklistEntry& e);
// Removes each of the n entries t holds, each found by its fields; entries
// already gone are skipped. t may be the book's own entries.
bl_status bl_remove_each(const BlacklistEntry* t, int n);
// Reads the file into the book and drops the expired entries, writing only
// when it dropped some; *dropped is how many. On FAILED the drop could not be
// written and the book holds the file as it is; on UNREADABLE it holds no
// entry; on OVERFULL the first 64 entries, expired ones included.
bl_status bl_prune(int* dropped);
// Reads the file into the book as it stands: nothing is dropped and
// nothing is written. OK, UNREADABLE or OVERFULL.
bl_status bl_read(void);

// What the unattended pass's step did.
struct PassStep {
    bl_status read;    // the blacklist's read, or FAILED when the drop could not be written
    int dropped;       // entries and rules that ended, dropped
    bl_status synced;  // the install block: FAILED when the lock could not be had
                       // (the file is then read without it and nothing is written),
                       // UNREADABLE when the file cannot be read, OK otherwise
    const GivenUpList* given_up;  // the blocks the rules want that were given up, and why
    int models_wanted;            // some rule wants a model blocked
};
// In one hold of the lock and one read: the prune of bl_prune, the rules a
// policy refresh hid held for this pass, then the install block brought in
// line with what the book holds (an unreadable file changes no block).
PassStep bl_pass_step(void);
// After the task was installed from this copy: in one locked step, the task
// is recorded as running this copy, every copy's blocks are lifted and this
// copy's are written. The lifting happens even without the lock. 0 when a
// block may still stand that no pass of this copy would lift.
int bl_blocks_take_over(void);
// Before the task is deleted: the task is recorded as being removed, so
// that no pass writes a block again, and every copy's blocks are lifted,
// under the lock when it can be had. 0 when a block may still stand.
int bl_blocks_give_up(void);
