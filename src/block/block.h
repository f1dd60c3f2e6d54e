// The install block: Windows' device installation restriction "Prevent
// installation of devices that match any of these device instance IDs",
// kept in step with the blacklist so that a blacklisted device cannot even
// install while its entry is in force. Quillfen writes only list values of
// its own, records each one, and lifts it when its entry goes.
#pragma once

#include "blacklist/store.h"

// Whether Windows honours the restriction here: build 19041 or later, and
// an edition that is not Home. Read once per process.
int block_applies(void);

// Before a change that may write a block, and before the blacklist's lock
// is taken: when the table (plus `extra`, an entry about to be added; may
// be null) has an id that is not blocked yet, asks once per process whether
// the task runs this copy. Only then may the locked step write.
void block_prepare(const BlacklistEntry* extra);

// The reconciling step, under the blacklist's lock, with the table as the
// step read it: lifts this copy's blocks whose entry is gone, and, while the
// task runs this copy, writes the missing ones.
void block_sync(const BlacklistEntry* t, int n);
// Under the blacklist's lock, when the task has just been installed from
// this copy: it runs this copy now (recorded as TaskCommand), and the blocks
// of every copy are lifted, for the other copies' task no longer runs.
void block_take_over(void);
// Under the blacklist's lock, before the task is deleted: it runs no copy
// from now on, and the blocks of every copy are lifted, for nothing would
// lift them afterwards.
void block_give_up(void);
// After the lock is dropped: when blocks were lifted, asks Windows to look
// for the hardware again, so that a device no longer blocked installs.
void block_rescan_if_lifted(void);

// The unattended pass: the two lines that say why nothing was written are
// never logged from it, or every run every five minutes would add them.
void block_unattended(void);

enum block_outcome {
    BLOCK_NONE,     // nothing was to be written: not applicable, no task, built-in, no id
    BLOCK_WRITTEN,  // this copy's block holds the id
    BLOCK_FAILED,   // it should have been written and could not be
};
// What the last sync did for this id.
block_outcome block_outcome_of(const char* inst);
// 1 when this copy's record holds the id and the list still does.
int block_holds(const char* inst);
// How many of this copy's recorded values the list still holds.
int block_count(void);
