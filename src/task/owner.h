// Which copy of Quillfen the scheduled task runs: the program's path,
// recorded as TaskCommand under our own registry key when the task is
// installed, so that copies in other folders leave its blocks alone.
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
