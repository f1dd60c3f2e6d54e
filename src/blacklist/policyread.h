// The rules of Quillfen's policy key, read through the seam into a table:
// each value checked, a bad one kept as an error and never as a rule; the
// errors said once per change; and the rules a refresh may hide for a
// moment, held for one pass.
#pragma once

#include <cstdint>

#include "blacklist/policy.h"
#include "log/log.h"

// One rule from policy.
struct PolicyRule {
    policy_rule_kind kind;
    int approves;   // 0: a block, 1: an approval
    char id[601];   // the instance id or hardware id as written, or the name lower-cased A-Z
    int64_t until;  // seconds since 1970 UTC, in force while now < until; INT64_MAX: while the policy stands
};
constexpr int POLICY_RULES_MAX = POLICY_LISTS * POLICY_LIST_MAX;

enum policy_outcome {
    POLICY_NONE,        // there is no policy key: no rule, no error
    POLICY_READ,        // read whole
    POLICY_UNREADABLE,  // the key or a list could not be read whole: the rules read are kept
};

// Why a value is no rule.
enum policy_reason {
    POLICY_BAD_TYPE,   // not REG_SZ
    POLICY_BAD_DATE,   // the data is neither a real date YYYY-MM-DD nor "none"
    POLICY_BAD_ID,     // an instance id or hardware id that fails its rule
    POLICY_SHORT,      // a name of fewer than MIN_CHARS characters
    POLICY_CONTROL,    // a name with a control character
    POLICY_TOO_LONG,   // longer than its rule stores: 200 characters of an id, 599 bytes of a name
    POLICY_TOO_MANY,   // past POLICY_LIST_MAX rules of its list
    POLICY_BAD_MODE,   // Mode is not a REG_SZ of POLICY_MODES
    POLICY_REASONS,
};
struct PolicyError {
    int list;  // index in POLICY_LIST; -1 for a value of the key itself (Mode)
    policy_reason reason;
    char name[601];  // the value's name as UTF-8, cut at a character when longer
};
// The errors named one by one; more are counted.
constexpr int POLICY_ERRORS_KEPT = 32;

// The rules in force at the last policy_load's `now` (an expired rule is no
// rule and no error, and is left out), in list order.
extern PolicyRule g_policy[POLICY_RULES_MAX];
extern int g_npolicy;
// Its errors: every one counted, the first POLICY_ERRORS_KEPT kept.
extern PolicyError g_policy_errors[POLICY_ERRORS_KEPT];
extern int g_npolicy_errors;

// Where a read of the policy is kept, to be taken again while no key of
// the policy has changed (and a file that is not whole is never taken);
// only a caller that holds the blacklist's lock may write it.
struct PolicyKeep {
    const char16_t* path;
    const char16_t* tmp;
    int may_write;
};

// Reads HKLM\POLICY_KEY afresh, or from `keep` while it holds this state of
// the key. Without the key it costs one failed open.
policy_outcome policy_load(int64_t now, const PolicyKeep* keep = nullptr);
// What the last policy_load found: its outcome and the mode (ENFORCE when
// Mode is absent or bad).
policy_outcome policy_outcome_last(void);
policy_mode policy_mode_last(void);
// A reason as the log words it.
const char* policy_reason_text(policy_reason r);

// After policy_load: when its errors are not those said last (a
// fingerprint of the set, order aside, kept in our own key), logs each
// under `ev` and returns 1; otherwise 0.
int policy_say_errors(log_event ev);

// After policy_load, once per pass: the rules in force at the last pass
// that have vanished since (not just expired) are held, still wanted for
// this pass alone, since a Group Policy refresh empties a list before it
// writes it again. Then the rules in force now are kept for the next pass:
// one value each in our own key, at most POLICY_RULES_MAX since they are
// the table's; while the policy is unreadable, the held ones stay kept too.
// Returns how many are held. Costs one read while the rules are unchanged.
int policy_hold(void);
// The held rules, until = INT64_MAX.
extern PolicyRule g_policy_held[POLICY_RULES_MAX];
extern int g_npolicy_held;

// For the uninstall: deletes what policy_say_errors and policy_hold keep,
// and the read kept beside the blacklist. 1 when they are gone.
int policy_forget(void);
