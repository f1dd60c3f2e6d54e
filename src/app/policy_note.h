// A lift that asks for rules of policy: only the policy lifts them, so the
// run leaves them and says so.
#pragma once

#include "rules/book.h"

// Which of the book's policy rules in force a lift asks for: its blocks (approves
// 0) or its approvals (1), of the kinds in `kinds` (bits 1 << kind), all
// of them or those whose id or name is `text`, letter case aside. Returns
// how many; they are kept for the lines below.
constexpr unsigned POLICY_ANY_KIND = 7;
int policy_asked(const RuleBook& b, int approves, unsigned kinds, const char* text);
// One [提示] line for each.
void policy_left_lines(void);
// "not_lifted": each with "reason": "policy".
void policy_left_json(void);
