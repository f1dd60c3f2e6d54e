// The compliance rule that detection scripts act on: a wrong "compliant"
// leaves a blacklisted camera in place, a wrong "cannot tell" hides it.
#include <gtest/gtest.h>

#include "app/check.h"

namespace {

CheckAnswer answer(int read, int in_force, int devices, int present, task_state task) {
    return check_rule(CheckFacts{read, in_force, devices, present, task});
}

void expect(CheckAnswer a, check_verdict v, check_problem p = CHECK_NO_PROBLEM) {
    EXPECT_EQ(a.verdict, v);
    EXPECT_EQ(a.problem, p);
}

TEST(CheckRule, CompliantNeedsNoPresentDeviceAndATaskWhileAnEntryIsInForce) {
    expect(answer(1, 2, 1, 0, TASK_PRESENT), CHECK_COMPLIANT);
    expect(answer(1, 2, 1, 1, TASK_PRESENT), CHECK_NOT_COMPLIANT);
    expect(answer(1, 2, 1, 0, TASK_ABSENT), CHECK_NOT_COMPLIANT);
    expect(answer(1, 0, 1, 0, TASK_ABSENT), CHECK_COMPLIANT);  // nothing to enforce, no task needed
}

TEST(CheckRule, WhatCannotBeHadCountsOnlyWhenItMatters) {
    expect(answer(0, 0, 1, 0, TASK_PRESENT), CHECK_CANNOT_TELL, CHECK_BLACKLIST_UNREADABLE);
    expect(answer(1, 1, 0, 0, TASK_PRESENT), CHECK_CANNOT_TELL, CHECK_DEVICES_UNAVAILABLE);
    expect(answer(1, 1, 1, 0, TASK_QUERY_FAILED), CHECK_CANNOT_TELL, CHECK_TASK_QUERY_FAILED);
    // Without an entry in force neither the devices nor the task count.
    expect(answer(1, 0, 0, 0, TASK_QUERY_FAILED), CHECK_COMPLIANT);
    // The blacklist first, then the devices, then the task.
    expect(answer(0, 1, 0, 0, TASK_QUERY_FAILED), CHECK_CANNOT_TELL, CHECK_BLACKLIST_UNREADABLE);
    expect(answer(1, 1, 0, 0, TASK_QUERY_FAILED), CHECK_CANNOT_TELL, CHECK_DEVICES_UNAVAILABLE);
    // A rules file nobody can read may hold any block, with no entry in force too.
    CheckFacts rules{1, 0, 1, 0, TASK_PRESENT};
    rules.rules = 1;
    expect(check_rule(rules), CHECK_CANNOT_TELL, CHECK_RULES_UNREADABLE);
}

// What policy says and the blocks the rules want count too: a value that
// cannot be applied, or a wanted block missing, is not compliant; a block
// not written by design is; a source that cannot be read whole cannot be
// judged, even with blocks missing.
TEST(CheckRule, PolicyErrorsAndMissingBlocksAreNotCompliant) {
    CheckFacts f{1, 1, 1, 0, TASK_PRESENT};
    f.blocks_by_design = 1;
    expect(check_rule(f), CHECK_COMPLIANT);
    f.policy_errors = 1;
    expect(check_rule(f), CHECK_NOT_COMPLIANT);
    f.policy_errors = 0;
    f.blocks_missing = 1;
    expect(check_rule(f), CHECK_NOT_COMPLIANT);
    check_cause causes[CAUSES];
    ASSERT_EQ(check_causes(f, causes), 1);
    EXPECT_EQ(causes[0], CAUSE_BLOCKS_MISSING);
    f.overfull = 2;
    expect(check_rule(f), CHECK_CANNOT_TELL, CHECK_RULES_OVERFULL);
    f.overfull = 0;
    f.blocks_untold = 1;
    expect(check_rule(f), CHECK_CANNOT_TELL, CHECK_BLOCKS_UNTOLD);
}

}  // namespace
