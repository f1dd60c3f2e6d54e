// Which copy of Quillfen the scheduled task runs: the program's path,
// recorded as TaskCommand under our own registry key when the task is
// installed, so that copies in other folders leave its blocks alone; and
// whether the task runs this copy, as this process knows it.
#pragma once

#include <cstddef>

// Our own key under HKEY_LOCAL_MACHINE.
extern const char16_t PRODUCT_KEY[];

enum task_owner {
    OWNER_THIS_COPY,  // TaskCommand names this copy
    OWNER_OTHER,      // it names another copy
    OWNER_NONE,       // there is no TaskCommand: no task, or an older version's
    OWNER_REMOVING,   // the task is being deleted: no copy may write a block
    OWNER_UNKNOWN,    // it, or this copy's path, cannot be read
};

// Read afresh at every call: another process may have installed or removed
// the task since.
task_owner task_owner_get(void);
// Records this copy as the task's; 1 when it was written.
int task_owner_set(void);
// The task runs no copy from now on; 1 when TaskCommand is gone.
int task_owner_clear(void);
// While the task is being deleted: TaskCommand says so, so that neither a
// pass of its own nor one taking over an older version's task writes a
// block after the lift. 1 when it was written.
int task_owner_removing(void);

// TaskCommand as it stands (empty when there is none), to put back with
// task_owner_restore when the task stays after all. 0 when it cannot be read.
int task_owner_save(char16_t* saved, size_t units);
int task_owner_restore(const char16_t* saved);

// Whether the task runs this copy, as this process knows it.
enum task_runs {
    RUNS_UNTOLD = -2,   // the query, or TaskCommand, could not be read: asked again
    RUNS_UNASKED = -1,  // not asked in this process
    RUNS_NO = 0,
    RUNS_YES = 1,
};

// Asked once per process (the task queried, TaskCommand read) and kept. A
// task without TaskCommand, an older version's, runs this copy only for the
// unattended pass running as SYSTEM, which is how that task runs it.
task_runs task_runs_this_copy(int unattended);
// The answer as this process has it, without asking.
task_runs task_runs_known(void);
// What this process itself settled: YES once it recorded the task as this
// copy's (NO when it could not), NO once it began removing the task.
void task_runs_settle(task_runs runs);
// Under the block's machine-wide lock, before a write: TaskCommand read
// afresh, for another process may have installed the task from elsewhere,
// or be removing it, since this one asked. An older version's task is
// taken up (recorded as this copy's) only by the unattended pass as SYSTEM
// that found it runs this copy (`runs`), and only while it still stands.
task_owner task_owner_now(int unattended, task_runs runs);
