// Which rule decides a device: the rules in force of the book, of every
// source, gathered once per walk into targets, and each device judged
// against them in Windows' layered order (rules.h).
#pragma once

#include <cstdint>

#include "device/walk.h"
#include "rules/book.h"
#include "rules/rules.h"

// A device as the judge sees it: its ASCII-lower-cased instance id and
// whole name, whether it is built-in, and where its id lists can be read
// when a model's prefix fits: the lists already read (hw, compat), the
// walk it came from, or else a lookup by `id`. focus: a rule whose reach
// is asked about (with has_focus).
struct JudgeDevice {
    const char* inst;
    const char* name;
    int builtin;
    DevWalk* walk;
    const char16_t* id;
    int has_focus = 0;
    RuleRef focus = {FROM_ENTRY, -1};
    int marks = 0;  // approvals wanted even where no block reaches it
    const char16_t* hw = nullptr;      // its hardware ids, when read already
    const char16_t* compat = nullptr;  // and its compatible ids
};

// A device of a walk or a lookup, as the judge sees it.
inline JudgeDevice judge_device(const WalkedDevice& w, DevWalk* walk) {
    return JudgeDevice{w.inst, w.name, w.d.builtin, walk, w.d.inst};
}

// What decided it.
struct Judged {
    int blocked;   // kept off
    int approved;  // spared by an approval that outranks every block
    rule_source source;
    rule_layer layer;
    bl_hit how;    // the deciding block: by id, name or model
    RuleRef rule;  // the deciding block, when blocked; the deciding approval, when approved
    int focus;     // the device's focus is among the blocks that reach it
    int unread;    // an id list a model rule needed could not be read: not judged whole
    int by_windows_allow = 0;  // approved by the administrator's allow (no rule of the book)
};

// The rules in force gathered for judging devices: their ids, names and
// models packed, with what a walk needs to know of them. Static storage,
// as it is megabytes; judge_prepare fills it afresh.
struct Judge;
const Judge& judge_prepare(const RuleBook& b, int64_t now);
// A walk is needed when a name or a model may reach a device; otherwise
// the devices named by id suffice.
int judge_needs_walk(const Judge& j);
// How many blocks of every source are in force: the pass looks at devices
// only when one is.
int judge_blocks(const Judge& j);
// The instance ids that rules in force block, for a pass without a walk:
// lowered, as the walk gives them; how many.
int judge_instance_blocks(const Judge& j, const char* const** ids);
Judged judge(const Judge& j, const JudgeDevice& d);
// A composite device d with these hardware ids (a multi-string), one of
// which may be a function model's composite id: 1 when one of its functions
// is spared, so that it stays while a blocked function alone goes.
int judge_function_spared(const Judge& j, const JudgeDevice& d, const char16_t* hardware);
// 1 when an approval in force (of any source, the administrator's allows
// among them) outranks a name rule on this device: one by its instance id
// or its model.
int judge_approved_above_name(const Judge& j, const JudgeDevice& d);

// How a device is marked in the device table and the scan's JSON: BY_ID
// when an entry names its id (in force or not); otherwise how the rules in
// force keep it off (by name or by model), and *approved when an approval
// spares it; *policy when the deciding rule (block or approval) is
// policy's; *rule (when given) names that rule: its instance id, name or
// model id, or "" where none does (the administrator's allow). A table
// prepares the judge once for all its rows.
bl_hit judge_mark(const Judge& j, const DeviceEntry& d, int* approved, int* policy, const char** rule = nullptr);
