// One locked step of the blacklist: its files' paths, the lock, the read
// of every source into the step's work, the write of blacklist.tsv, the
// book that publishing the work fills, and the hand-over to the install
// block. The changes and reads (store.h) are made of these.
#pragma once

#include <cstdint>

#include "block/block.h"
#include "rules/book.h"
#include "rules/wanted.h"
#include "store/status.h"
#include "sys/sys.h"

// Opens a step: the data files' paths, and the blacklist's lock, waited for
// a while. 0 when the paths cannot be made (nothing can be read there);
// *lock is null when the lock could not be had.
int step_open(sys_lock** lock);
void step_close(sys_lock* lock);

// Reads blacklist.tsv into the work table, whatever its size, and with it
// every other source: the rules file (unless the blacklist cannot be read,
// when what the rules are is unknown), the models file when an entry
// matches by name, policy (taken from its kept read while unchanged; a
// step with the lock keeps a new one), the administrator's allows. A
// missing file is an empty table; one that cannot be read whole is
// UNREADABLE, never a short table. OK, UNREADABLE, OVERFULL or BAD_LINES.
bl_status step_read(int locked);
// The step's table of entries as read and changed.
BlacklistEntry* step_entries(int** n);
// Writes the work table: a fresh temporary, then one replace step.
int step_write(void);
// The step's work becomes the book; the policy rules held for this pass
// stay in it with keep_held, else it holds none.
void step_publish(int keep_held);
// Once per pass, after publishing: the policy rules a refresh hid since
// the last pass are held in the book for this one (policy_hold).
void step_hold_policy(void);
// The book as published, to change in memory alone (a run that must
// change nothing): its entries, models and rules tables.
BlacklistEntry* book_entries(int** n);
BlacklistModel* book_models(int** n);
Rule* book_rules(int** n);

// What the book (with what a change is about to put) wants of the install
// block, and whether the task runs this copy, asked only when a block
// would be written; before the lock, so that a step holds the machine's
// lock once.
// What it gave up, and why, goes to *given_up when given.
void step_prepare_blocks(const RuleBook& with, block_caller who, GivenUpList* given_up = nullptr);
// Inside the step: the install block follows the rules as the book holds
// them now; `prepared`: as step_prepare_blocks left them. Models or rules
// that cannot be read change no model block, as an unreadable blacklist
// changes none; a policy that cannot be read whole changes no block at all
// that it may account for.
void step_sync_blocks(block_caller who, int prepared);
// 1 when the step's prepared wanted lists hold a model.
int step_wants_models(void);
// What the last sync did for an id of a list (NONE when it was not wanted),
// and for an entry: its id and its model.
block_outcome step_outcome(block_list l, const char* id);
BlockResult step_outcome_of(const BlacklistEntry& e, int model_lost);
