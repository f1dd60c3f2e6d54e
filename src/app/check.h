// --check: whether the blacklist holds on this machine, for detection
// scripts (Intune remediations, Configuration Manager): the rule, and the
// mode that gathers the facts and prints the answer.
#pragma once

#include "task/task.h"

enum check_verdict { CHECK_COMPLIANT, CHECK_NOT_COMPLIANT, CHECK_CANNOT_TELL };
enum check_problem {
    CHECK_NO_PROBLEM,
    CHECK_BLACKLIST_UNREADABLE,
    CHECK_DEVICES_UNAVAILABLE,
    CHECK_TASK_QUERY_FAILED,
    CHECK_BLACKLIST_BAD_LINES,
    CHECK_MODELS_UNREADABLE,
    CHECK_MODELS_BAD_LINES,
    CHECK_RULES_UNREADABLE,
    CHECK_RULES_BAD_LINES,
    CHECK_POLICY_UNREADABLE,
    CHECK_DEVICE_IDS_UNREADABLE,
    CHECK_BLACKLIST_OVERFULL,
    CHECK_RULES_OVERFULL,
    CHECK_BLOCKS_UNTOLD,
};

struct CheckFacts {
    int blacklist_read;    // the blacklist could be read
    int entries_in_force;
    int devices_read;      // the device list could be had
    int present;           // present devices that an entry in force reaches
    task_state task;
    int bad_lines = 0;     // the blacklist holds lines that are no entry: what they meant is unknown
    int models = 0;        // 1: the models file cannot be read, 2: it holds lines that are no model
    int rules = 0;         // the same of the rules file
    int policy = 0;        // policy's key could not be read whole
    int absent = 0;        // records of devices not attached that an entry in force reaches: not
                           // counted against the PC (the pass removes them), only reported
    int unread = 0;        // present devices a model rule may reach whose id lists could not be read
    int overfull = 0;      // 1: the blacklist holds more than 64 entries, 2: the rules file more than 64 rules
    int policy_errors = 0;   // policy's values that are no rule: what policy says is not done
    int blocks_missing = 0;  // blocks the rules want, on a build and edition that holds them, not in force
    int blocks_untold = 0;   // blocks whose standing cannot be told
    int blocks_by_design = 0;  // blocks not written by design: unsupported here, given up, shared, built-in
};

// What makes a PC not compliant, each said by the line and the document.
enum check_cause { CAUSE_POLICY_ERRORS, CAUSE_BLOCKS_MISSING, CAUSE_DEVICES_PRESENT, CAUSE_TASK_MISSING, CAUSES };
// The causes of the facts, into out (room for CAUSES); how many.
int check_causes(const CheckFacts& f, check_cause* out);

struct CheckAnswer {
    check_verdict verdict;
    check_problem problem;  // why it cannot tell
};

// Compliant: no present device is reached by an entry in force, every
// value of policy is a rule, every block the rules want where Windows can
// hold it is in force and, when an entry is in force, the task exists. The
// task and the devices count only when an entry is in force; what cannot
// be had then makes it "cannot tell", and so does a rules source that
// cannot be read whole, whatever else is missing.
CheckAnswer check_rule(const CheckFacts& f);

// --check: gathers the facts, prints the answer (text or JSON) and returns
// the exit code. Changes nothing and logs nothing.
int check_mode(int json);
