// The rules of Quillfen's policy key, read through the seam into a table:
// each value checked, a bad one kept as an error and never as a rule; the
// errors said once per change; and the rules a refresh may hide for a
// moment, held for one pass.
#pragma once

#include <cstdint>

#include "log/log.h"
#include "policy/policy.h"
#include "rules/book.h"

// What a read of the key found. The tables are the reader's own, valid
// until its next read.
struct PolicyRead {
    policy_outcome outcome;
    policy_mode mode;          // ENFORCE when Mode is absent or bad
    policy_layering layering;  // AUTO when Layering is absent or bad
    const PolicyRule* rules;   // in force at the read's `now`, in list order: an
    int n;                     // expired rule is no rule and no error
    const PolicyError* errors; // every one counted, the first POLICY_ERRORS_KEPT kept
    int nerrors;
    uint64_t error_sum;        // the errors as a set: the sum of each one's hash
    const uint64_t* expired;   // the hashes (policy_rule_hash) of expired rules:
    int nexpired;              // no rule, yet not vanished either
    const PolicyRule* ended;   // the first POLICY_ENDED_KEPT of them, to be shown: a
                               // date typed into the past is no error, but must be seen
};
constexpr int POLICY_ENDED_KEPT = 16;

// Where a read of the policy is kept, to be taken again while no key of
// the policy has changed (and a file that is not whole is never taken);
// only a caller that holds the blacklist's lock may write it. Its sum
// proves it whole, not who wrote it: it is neither taken nor written where
// anyone but the administrators and the system could change `dir` or it.
struct PolicyKeep {
    const char16_t* dir;
    const char16_t* path;
    const char16_t* tmp;
    int may_write;
};

// Reads HKLM\POLICY_KEY afresh, or from `keep` while it holds this state of
// the key. Without the key it costs one failed open.
PolicyRead policy_load(int64_t now, const PolicyKeep* keep = nullptr);
// A reason as the log words it.
const char* policy_reason_text(policy_reason r);
// A rule by its list and id, A-Z taken as a-z as the registry compares names.
uint64_t policy_rule_hash(int list, const char* id);
// The list a rule came from, by index in POLICY_LIST.
int policy_list_of(const PolicyRule& r);

// When the errors of a read (the book's) are not those said last (a
// fingerprint of the set, order aside, kept in our own key), logs each
// under `ev` and returns 1; otherwise 0.
int policy_say_errors(const RuleBook& b, log_event ev);

// Once per pass, after a read: the rules in force at the last pass that
// have vanished since (not just expired) are held, still wanted for this
// pass alone, since a Group Policy refresh empties a list before it writes
// it again. Then the rules in force now are kept for the next pass: one
// value each in our own key, at most POLICY_RULES_MAX since they are the
// table's; while the policy is unreadable, the held ones stay kept too.
// Costs one read while the rules are unchanged. The held rules (until =
// INT64_MAX) are the holder's own table, valid until its next call.
struct PolicyHeld {
    const PolicyRule* rules;
    int n;
};
PolicyHeld policy_hold(const PolicyRead& read);

// For the uninstall: deletes what policy_say_errors and policy_hold keep,
// and the read kept beside the blacklist. 1 when they are gone.
int policy_forget(void);
