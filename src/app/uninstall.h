// Taking the unattended pass off the machine.
#pragma once

enum uninstall_result {
    UNINSTALL_REMOVED,        // the task was deleted, and every block lifted
    UNINSTALL_WAS_ABSENT,     // there was no task; every block lifted
    UNINSTALL_TASK_REMAINS,   // the task could not be deleted (or it cannot be told)
    UNINSTALL_BLOCK_REMAINS,  // a block could not be lifted: the task is kept
    UNINSTALL_RECORD_LEFT,    // the task is gone and every block lifted, but TaskCommand stays (logged)
};

// --remove-task and the menu's u: lifts the install blocks, deletes the
// task, logs what happened, and removes the event log source once the task
// is gone.
uninstall_result uninstall_task(void);
// The line that says it (without the indentation of the screens).
const char* uninstall_text(uninstall_result r);
