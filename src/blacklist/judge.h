// Which rule decides a device: every rule in force, of the blacklist, of
// the rules file and of policy, gathered once per walk into targets, and
// each device judged against them in Windows' layered order (rules.h).
#pragma once

#include <cstdint>

#include "blacklist/match.h"
#include "blacklist/rules.h"
#include "device/walk.h"

// A device as the judge sees it: its ASCII-lower-cased instance id and
// whole name, whether it is built-in, and where its id lists can be read
// when a model's prefix fits: the walk it came from, or else a lookup by
// `id`. focus: an entry of g_bl (or, with focus_rule, a rule of g_rules)
// whose reach is asked about; -1 for none.
struct JudgeDevice {
    const char* inst;
    const char* name;
    int builtin;
    DevWalk* walk;
    const char16_t* id;
    int focus = -1;
    int focus_rule = 0;
    int marks = 0;  // approvals wanted even where no block reaches it
};

// What decided it.
struct Judged {
    int blocked;   // kept off
    int approved;  // spared by an approval that outranks every block
    rule_source source;
    rule_layer layer;
    bl_hit how;    // the deciding block: by id, name or model
    int entry;     // it is this entry of g_bl, or
    int rule;      // this rule of g_rules, or
    int policy;    // this rule of g_policy (each -1 when not)
    int focus;     // the device's focus is among the blocks that reach it
};

// Gathers the rules in force at `now`. A walk is needed when a name or a
// model may reach a device; otherwise the devices named by id suffice.
void judge_prepare(int64_t now);
int judge_needs_walk(void);
// How many blocks of every source are in force: the pass looks at devices
// only when one is.
int judge_blocks(void);
// How many rules that block are in force at `now`, of every source: the
// entries, the rules file's models, policy's blocks.
int judge_rules_in_force(int64_t now);
// The instance ids that rules in force block, for a pass without a walk:
// lowered, as the walk gives them; how many.
int judge_instance_blocks(const char* const** ids);
Judged judge(const JudgeDevice& d);
// 1 when an approval in force (of any source, the administrator's allows
// among them) outranks a name rule on this device: one by its instance id
// or its model. After judge_prepare.
int judge_approved_above_name(const JudgeDevice& d);

// How a device is marked in the device table and the scan's JSON: BY_ID
// when an entry names its id (in force or not); otherwise how the rules in
// force keep it off (by name or by model), and *approved when an approval
// spares it; *policy when the deciding rule (block or approval) is
// policy's.
bl_hit judge_mark(const DeviceEntry& d, int64_t now, int* approved, int* policy);
