// The install block: Windows' device installation restrictions "Prevent
// installation of devices that match any of these device instance IDs" and
// "... device IDs" (hardware or compatible ids: a model), kept in step with
// the ids its caller wants blocked, so that a blacklisted device, or another
// unit of its model, cannot even install while its entry is in force.
// Quillfen writes only list values of its own, records each one, and lifts
// it when its id is no longer wanted.
#pragma once

#include "block/ids.h"
#include "task/owner.h"

// Whether Windows honours either list here: an edition that is not Home,
// and a build from the one each list needs (instance ids: 19041; device
// ids: every build we run on). Read once per process; 0 also while it
// cannot be read.
int block_applies(void);
// The same for one list: 1 applies, 0 does not, -1 cannot be told.
int block_list_applies(block_list l);

// Before a step that may write a block, and before the blacklist's lock is
// taken: 1 when an id of `want` is not blocked yet, or a switch is to be
// turned on again, so that the step would write if the task runs this copy.
// A look without the machine's lock: it writes nothing.
int block_would_write(const BlockWant* want);
// The reconciling step, under the blacklist's lock, with the ids the
// blacklist wants as the step read it: lifts this copy's blocks whose id is
// no longer wanted, and, while `runs` says the task runs this copy (and
// TaskCommand, read afresh under the machine's lock, agrees), writes the
// missing ones. Fills want->outcome.
void block_sync(BlockWant* want, block_caller who, task_runs runs);
// Under the blacklist's lock, when the task has just been installed from
// this copy: it runs this copy now (recorded as TaskCommand), and the blocks
// of every copy are lifted, for the other copies' task no longer runs.
// 0 when a block may still stand that no pass of this copy would lift.
int block_take_over(void);
// Under the blacklist's lock, before the task is deleted: TaskCommand says
// it is being removed, so that no pass writes a block again, and the blocks
// of every copy are lifted, for nothing would lift them afterwards. 0 when
// a block may still stand.
int block_give_up(void);
// After the deletion was tried: a task that is gone runs no copy; one that
// stays is given back its TaskCommand, so that it runs on as before. 0
// when TaskCommand could not be settled.
int block_give_up_end(int task_gone);
// After the lock is dropped: when blocks were lifted, asks Windows to look
// for the hardware again, so that a device no longer blocked installs.
void block_rescan_if_lifted(void);
// 1 when the last sync, take-over or give-up left something it should
// have lifted (a block, a record, our switch, TaskCommand) that may still
// stand, because it could not be read or deleted, or because what is wanted
// of a list holding values of ours could not be told. The next one tries
// again.
int block_left(void);
