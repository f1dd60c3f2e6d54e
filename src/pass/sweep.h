// Records of devices that are not attached, reached by an entry in force,
// are removed: the restrictions Quillfen writes are checked only when a
// device installs, and a unit that comes back to a record left on the PC
// installs nothing, so it would start and work until the pass removed it.
#pragma once

#include <cstdint>

#include "pass/reach.h"
#include "rules/book.h"

struct SweepResult {
    int removed;
    int failed;
    int restart;  // a removal waits for a restart
    int ok;       // the device list could be had
};

// Collects the absent records that the rules of the book in force at `now`
// keep off (only those the rule `focus` reaches, when given) into *found,
// and, unless what_if, removes each, logging and eventing every outcome.
// Built-in devices and records whose removal is pending are never touched.
SweepResult sweep_absent(const RuleBook& b, int64_t now, const RuleRef* focus, int what_if, ReachList* found);

// The records of devices that are not attached that the pass's lookups by
// id found (reach_left): removed as sweep_absent removes, without a walk.
SweepResult sweep_left(void);

// For the unattended pass: whether it is time to sweep (the entries in force
// changed since the last sweep, or it was an hour ago or more), and, after
// a sweep, that it was made. The time is kept beside the task's other state
// and goes with it.
int sweep_due(const RuleBook& b, int64_t now);
void sweep_done(const RuleBook& b, int64_t now);
// Forgets when the last sweep was made, with the task's other state.
int sweep_forget(void);
