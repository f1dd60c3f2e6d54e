// Which devices the entries in force reach: the present ones the
// unattended pass removes and the compliance check counts, and the records
// of devices that are not attached, which are removed so that a unit's
// return is an installation the install block refuses.
#pragma once

#include <cstdint>

#include "device/scan.h"
#include "rules/book.h"
#include "rules/judge.h"
#include "sys/sys.h"

// One device, under the rule that keeps it off (judge.h).
struct Reached {
    RuleRef rule;               // the rule of the book that keeps it off
    int source;                 // rule_source: policy or local
    bl_hit how;                 // by id, by name or by model
    char16_t inst[INST_UNITS];  // as the system reports them
    char16_t name[NAME_UNITS];  // as kept (DeviceEntry)
    char lower_name[DEV_TEXT_BYTES];  // as the log shows it
    sys_removal outcome;        // what a removal of it did, once made
};

// Forgets which devices were collected before.
void reach_reset(void);
// Records of devices that are not attached, built-in ones aside, that the
// collections of present devices since the last reset looked up by the id
// of an entry in force (no walk finds them): *left and how many.
int reach_left(Reached** left);

enum reach_scope {
    REACH_PRESENT,  // attached devices
    REACH_ABSENT,   // records of devices that are not attached: never a
                    // built-in device's, but a USB function's composite device
};
// What a collection found: at most DEV_MAX devices, the collector's own
// table, valid until its next collection.
struct ReachList {
    int ok;        // the device list could be had; else err is the system's error number
    uint32_t err;
    Reached* t;
    int n;
    const Reached* unread;  // devices whose id lists a model rule needed could not be
    int nunread;            // read: not judged whole (the first REACH_UNREAD_KEPT of them)
    const Reached* spared;  // present devices a block reaches and an approval spares, under
    int nspared;            // the approval (rule -1: the administrator's allow); the first REACH_SPARED_KEPT
};
constexpr int REACH_UNREAD_KEPT = 16;
constexpr int REACH_SPARED_KEPT = 64;
// Collects the devices of the scope that the rules of the book in force at
// `now` keep off (judge.h: entries, rules, policy, in Windows' layered
// order; with a focus, only those that rule reaches), leaving out every device
// collected since the last reset. When a name or a model may reach a device
// the devices are walked; otherwise each id is looked up, which costs next
// to nothing. A model reaches a device, built-in ones aside, that has it
// among its hardware ids, whatever its name, and a composite device (never
// a hub) whose hardware ids hold a function model's composite id: another
// unit, removed with its functions. A function is never reached by its
// composite device's id. An absent record of a reached function takes its
// composite device's absent record with it. A device whose removal is
// already pending never counts.
ReachList reach_collect(const RuleBook& b, int64_t now, reach_scope scope = REACH_PRESENT,
                        const RuleRef* focus = nullptr);

// After a lift: the block in force at `now` that still keeps off the device
// with instance id `id`, present or not, of any source, by its id, its name
// or its model (blocked 0 when none does, an approval outranking it). A
// device the system does not know is reached only by a rule with its id.
Judged bl_reaching(const RuleBook& b, const char16_t* id, int64_t now);

// How many devices other than the one with instance id `own`, present or
// not and built-in ones left out, an entry matching by `lower_name` would
// reach; -1 when the device list cannot be had. Walks the system's device
// list; what was collected is left alone.
int bl_name_reach(const RuleBook& b, const char* lower_name, const char16_t* own);
