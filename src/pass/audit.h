// Audit mode, set by policy for a fleet's first ring: nobody removes or
// blocks anything unattended, and the pass says instead, once a UTC day per
// device and rule, what it would have removed, so that an administrator can
// collect the warnings before enforcing.
#pragma once

#include <cstdint>

#include "pass/reach.h"
#include "log/log.h"

// 1 while policy's Mode is Audit.
int audit_on(const RuleBook& b);

// Logs under `ev` each of the n devices, with the rule of the book that reached it,
// unless said already today (UTC); what was said is kept under our own key,
// one value per device and rule, and forgotten when the day changes.
// Returns how many were said.
int audit_say(const RuleBook& b, const Reached* t, int n, int64_t now, log_event ev);

// Each device a rule reached today (UTC), for the auditor's count per rule:
// noted by the pass at each removal and each audit line, under our own key,
// one value per device and rule holding the rule's key (book_rule_key).
void reached_note(const RuleBook& b, const Reached& h, int64_t now);
// Reads what was noted today, for reached_today; writes nothing.
void reached_load(int64_t now);
// How many devices the rule with key `key` reached today, as last loaded.
int reached_today(uint64_t key);

// Forgets what was said and reached, with the task's other state.
int audit_forget(void);
