// The blacklist table and its file blacklist.tsv beside the executable:
// every change and every read as one step under the blacklist's lock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "blacklist/entry.h"
#include "blacklist/modelfile.h"
#include "blacklist/rulefile.h"
#include "blacklist/tsv.h"
#include "block/block.h"

// What the install block did for an entry: its instance id, and its model;
// model_lost: the model could not be kept beside the blacklist, and so is
// neither blocked nor reached by.
struct BlockResult {
    block_outcome instance;
    block_outcome model;
    int model_lost;
};

// The blacklist as this process last read or wrote it. Changed only through
// the functions below.
extern BlacklistEntry g_bl[BL_MAX];
extern int g_bn;

enum bl_status {
    BL_OK,          // done; the file holds the result
    BL_FULL,        // an add found the file already holding 64 entries
    BL_GONE,        // the entry to remove is no longer in the file
    BL_FAILED,      // the file could not be locked or written
    BL_UNREADABLE,  // the file exists but cannot be read: it is left alone
    BL_OVERFULL,    // the file holds more than 64 entries: only the first 64
                    // count, and nothing is written over it
    BL_BAD_LINES,   // the file holds lines that are no entry (bl_bad_lines):
                    // its entries count, and nothing is written over it
    BL_RULES_REFUSED,  // a change of a rule, refused: the rules file cannot be read
                       // whole, holds lines that are no rule, or too many (bl_rules_last)
};

// Each change is one step under the blacklist's lock: the file is read again,
// exactly this change is applied to what was read, the result is written and
// is then what g_bl/g_bn hold. On failure the table in memory stays as it
// was; on OVERFULL it shows the file's first 64 entries.
// An add also brings the install block in line, and *block tells what that
// did for the entry's id and model. A model, when given, is kept for the
// entry's instance id (replacing one kept before).
bl_status bl_add(const BlacklistEntry& e, const BlacklistModel* model = nullptr, BlockResult* block = nullptr);
enum bl_put_result { BL_PUT_ADDED, BL_PUT_EXTENDED, BL_PUT_UNCHANGED };
// For scripts that run the same command again and again: an entry with e's
// id (letter case aside), or, when e has none, one without an id and with
// e's name, stays the one entry: its expiry becomes the later of the two,
// it matches by name when e does, and it keeps its name and class; the file
// is written only when that changed it. Otherwise e is added. *entry is the
// entry as it stands afterwards, *block what the install block did for it.
bl_status bl_put(const BlacklistEntry& e, const BlacklistModel* model, bl_put_result* what, BlacklistEntry* entry,
                 BlockResult* block);
// The same on the table in memory alone, for a run that must change
// nothing: the file, the install block and the log are left alone.
bl_status bl_put_in_memory(const BlacklistEntry& e, const BlacklistModel* model, bl_put_result* what,
                           BlacklistEntry* entry);
// A model rule or an approval, put as bl_put puts an entry: one of the same
// kind and id (letter case aside) stays the one rule, its end the later of
// the two; otherwise r is added (FULL when the rules file holds RULES_MAX).
// *what: 0 unchanged, 1 extended, 2 added; *after: the rule as it stands;
// *block: what the install block did for a model's id.
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
// already gone are skipped.
bl_status bl_remove_each(const BlacklistEntry* t, int n);
// Removes the entries the table shows now, each found by its fields, so
// that an entry another window added meanwhile stays. Entries already gone
// are skipped.
bl_status bl_clear(void);
// Reads the file into the table and drops the expired entries, writing only
// when it dropped some; *dropped is how many. On FAILED the drop could not be
// written and the table holds the file as it is; on UNREADABLE the table is
// empty; on OVERFULL it holds the first 64 entries, expired ones included.
bl_status bl_prune(int* dropped);
// Reads the file into the table as it stands: nothing is dropped and
// nothing is written. OK, UNREADABLE or OVERFULL.
bl_status bl_read(void);
// The unattended pass's step: in one hold of the lock and one read, the
// prune of bl_prune, then the install block brought in line with what the
// file holds (an unreadable file changes no block). *synced is FAILED when
// the lock could not be had (the file is then read without it and nothing
// is written), UNREADABLE when the file cannot be read, OK otherwise.
bl_status bl_pass_step(int* dropped, bl_status* synced);
// After the task was installed from this copy: in one locked step, the task
// is recorded as running this copy, every copy's blocks are lifted and this
// copy's are written. The lifting happens even without the lock. 0 when a
// block may still stand that no pass of this copy would lift.
int bl_blocks_take_over(void);
// Before the task is deleted: the task is recorded as being removed, so
// that no pass writes a block again, and every copy's blocks are lifted,
// under the lock when it can be had. 0 when a block may still stand.
int bl_blocks_give_up(void);
// What the last read of the file found: OK, UNREADABLE, OVERFULL or
// BAD_LINES (which wins when both hold).
bl_status bl_last_read(void);
// How many lines the last read found that are neither an entry, a comment
// nor blank; *first gets the line number of the first (from 1).
int bl_bad_lines(int* first);
// 1 when the last read found more than BL_MAX entries.
int bl_overfull(void);
// How many entries of the table are in force at `now`.
int bl_in_force(int64_t now);
// The index in g_bl of an entry with all of e's fields; -1 when none.
int bl_index_of(const BlacklistEntry& e);
