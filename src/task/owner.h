// Which copy of Quillfen the scheduled task runs: the program's path,
// recorded as TaskCommand under our own registry key when the task is
// installed, so that copies in other folders leave its blocks alone.
#pragma once

// Our own key under HKEY_LOCAL_MACHINE.
extern const char16_t PRODUCT_KEY[];

enum task_owner {
    OWNER_THIS_COPY,  // TaskCommand names this copy
    OWNER_OTHER,      // it names another copy
    OWNER_NONE,       // there is no TaskCommand
    OWNER_UNKNOWN,    // it, or this copy's path, cannot be read
};

// Read afresh at every call: another process may have installed or removed
// the task since.
task_owner task_owner_get(void);
// Records this copy as the task's; 1 when it was written.
int task_owner_set(void);
// The task runs no copy from now on; 1 when no TaskCommand is left.
int task_owner_clear(void);
