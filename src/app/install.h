// Creating the scheduled task from the places that offer it, after making
// sure that what it would run as SYSTEM is out of ordinary users' reach.
#pragma once

#include "task/task.h"

// Creates the task for the menu or the dialogue, which print their own
// success line; failures and refusals are printed here (TASK_FAILED). Every
// install is logged. allow_unsafe: --allow-unsafe-dir.
task_result install_task_ui(int allow_unsafe);
// After the success line, when the task could only be created with its
// five-minute timer.
void timer_only_hint(void);
// After the success line, when the task was created without its policy
// trigger.
void no_policy_hint(void);
// --install-task: the exit code.
int install_task_mode(int allow_unsafe);
