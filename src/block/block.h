// The install block: Windows' device installation restrictions "Prevent
// installation of devices that match any of these device instance IDs" and
// "... device IDs" (hardware or compatible ids: a model), kept in step with
// the ids its caller wants blocked, so that a blacklisted device, or another
// unit of its model, cannot even install while its entry is in force.
// Quillfen writes only list values of its own, records each one, and lifts
// it when its id is no longer wanted.
#pragma once

#include <cstddef>

#include "device/device.h"
#include "task/owner.h"

enum block_outcome {
    BLOCK_NONE,     // nothing was to be written: not applicable, no task, built-in, no id
    BLOCK_WRITTEN,  // this copy's block holds the id
    BLOCK_FAILED,   // it should have been written and could not be
};

// The ids a blacklist wants blocked, each once, and what the last sync did
// for each.
constexpr int BLOCK_MAX_IDS = 64;
struct BlockIds {
    char16_t id[BLOCK_MAX_IDS][INST_UNITS];
    block_outcome outcome[BLOCK_MAX_IDS];
    int n;
    int untold;  // what is wanted cannot be told: the list is left as it stands
};

// Windows' two lists, each with its own switch, and what is wanted of each.
enum block_list { BLOCK_INSTANCE_IDS, BLOCK_DEVICE_IDS, BLOCK_LISTS };
struct BlockWant {
    BlockIds list[BLOCK_LISTS];
};

// Who asks: the unattended pass logs neither of the two lines that say why
// nothing was written, or every run every five minutes would add them; and
// it alone takes over a task that an older version installed, since that
// task is what runs it.
enum block_caller { BLOCK_AT_CONSOLE, BLOCK_UNATTENDED };

// Whether Windows honours the restriction here: build 19041 or later, and
// an edition that is not Home. Read once per process; 0 also while it
// cannot be read.
int block_applies(void);

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

// For the screens and the documents, which read once per drawing: reads the
// values, the records and the switch. The queries below read it themselves
// when nothing was read since the last change.
void block_look(void);
// 1 when this copy's record holds the id, the list still does, and the
// switch is on (DWORD 1): only then does Windows refuse the device.
int block_holds(block_list list, const char16_t* id);
// How many values this copy left standing at their entries' end because
// they may be an administrator's (a policy refresh wrote the list since),
// in both lists.
int block_kept(void);

// The registry texts the block reads back. A record's data as we write it,
// "<instance id>\t<path of the blacklist>" with "\t?" after it when the
// value may be someone else's: 1 with the id in id (INST_UNITS units), the
// path in path (units) and *unsure; 0 when it is no such record.
int block_record_parse(const char16_t* data, char16_t* id, char16_t* path, size_t units, int* unsure);
// The number a list value's name stands for: plain decimal digits, 1 to
// 4294967295; 0 for any other name.
uint32_t block_value_number(const char16_t* name);
// How many of this copy's recorded values the list still holds, while the
// switch is on.
int block_count(block_list list);
