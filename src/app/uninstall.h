// Taking the unattended pass off the machine.
#pragma once

// --remove-task and the menu's u: lifts the install blocks, deletes the
// task, logs that, and removes the event log source; 1 when the task was
// deleted.
int uninstall_task(void);
