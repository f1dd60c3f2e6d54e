// The demonstration itself: the canary, the refusals by instance id and by
// model, a unit spared under layered evaluation, the scheduled task, and
// lifting, each printed with its verdict.
#pragma once

#include "device/device.h"
#include "selftest/journal.h"
#include "selftest/quillfen.h"

// The devices a run makes, each under its own instance name.
enum run_device {
    DEV_CANARY,
    DEV_MODEL_REFUSED,
    DEV_MODEL_SPARED,
    DEV_MODEL_AGAIN,
    DEV_TASK_SPARED,
    DEV_TASK_REMOVED,
    RUN_DEVICES,
};

struct Made {
    char16_t id[INST_UNITS];  // as the system gave it
    char id8[INST_UNITS * 3];
    int slot;                 // -1 while unplugged
};

struct Context {
    Tested qf;
    char16_t journal[PATH_UNITS];
    char nonce[16];            // eight hex digits
    char enumerator[32];       // QFST<nonce>
    char model[64];            // a USB-style hardware id no device here has
    uint64_t restrictions;     // the restrictions' fingerprint before the run
    Made dev[RUN_DEVICES];
    RunRule rules[8];
    int nrules;
};

enum run_end {
    RUN_DONE,         // every step ran; the verdicts say how
    RUN_STOPPED,      // a step that the rest need did not pass
    RUN_CANNOT,       // the canary says this environment cannot demonstrate the block
    RUN_INTERRUPTED,  // Ctrl+C
};
run_end steps_run(Context& c);
// Unplugs every device the run still holds.
void steps_unplug_all(Context& c);
