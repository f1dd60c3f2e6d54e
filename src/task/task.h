// The scheduled task that runs the unattended pass as SYSTEM: created from
// a definition file, and deleted.
#pragma once

#include <cstddef>
#include <cstdint>

// The one name under which the task is created, deleted and logged.
extern const char16_t TASK_NAME[];

enum task_result {
    TASK_FAILED,
    TASK_INSTALLED,   // on device arrival, after a policy refresh and every 5 minutes
    TASK_NO_POLICY,   // on device arrival and every 5 minutes: the system refused the policy trigger
    TASK_TIMER_ONLY,  // every 5 minutes: the system refused the event triggers
};

// Creates or replaces the task: writes its definition beside the executable,
// hands it to schtasks, deletes it. When schtasks refuses the definition,
// tries again without the policy trigger, and then with the timer alone; a
// definition that cannot be deleted is logged and does not undo a created
// task. On failure *code, when given, is the exit code of the last schtasks
// run, or -1 when schtasks did not run to its end (or no definition could
// be written).
task_result task_install(int* code = nullptr);
// Deletes the task; 1 when schtasks exited with 0.
int task_remove(void);

enum task_state { TASK_QUERY_FAILED, TASK_ABSENT, TASK_PRESENT };
// Whether the task exists, as `schtasks /Query` says: it exits 0 for a task
// it found and 1 for one it did not; anything else, a program that cannot
// start or does not finish included, is no answer.
task_state task_query(void);

// The event triggers a definition may carry besides its five-minute timer.
enum task_trigger : unsigned {
    TRIGGER_DEVICES = 1,  // a device was configured or started
    TRIGGER_POLICY = 2,   // the computer's Group Policy or MDM policy was applied
};

// The task's definition (Task Scheduler XML, without the byte-order mark)
// for the executable at `exe`, repeating from the local time `start`
// (year, month, day, hour, minute, second), with the event triggers in
// `triggers` (task_trigger bits). Returns its length in units; 0 when it
// does not fit.
size_t task_xml(char16_t* out, size_t units, const char16_t* exe, const int start[6], unsigned triggers);
