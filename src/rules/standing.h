// Whether the blocks the rules want stand in Windows' lists, and why not
// where they do not: what the screens, the documents and --check say of
// each rule's block.
#pragma once

#include "rules/book.h"
#include "rules/wanted.h"

enum standing {
    STANDS,               // Windows refuses it now
    NOT_STANDING,         // wanted, on a build that holds it, yet not there: refused, lost or failed
    WHY_SHARED,           // the model's check keeps it off Windows' list: another device uses it
    WHY_BUILTIN,          // ... a built-in/system device's
    WHY_CHECK_UNKNOWN,    // ... the other devices could not be looked at
    WHY_GIVEN_UP,         // given up by the rules (given_up_reason says why)
    WHY_UNSUPPORTED,      // this build or edition holds no such block
    WHY_AUDIT,            // audit mode writes no block
    WHY_NO_TASK,          // the task does not run this copy: nothing would lift a block
    WHY_UNTOLD,           // whether it stands cannot be told
};
struct Standing {
    standing state;
    given_up_reason given_up;  // with WHY_GIVEN_UP
};

// A model's block (a model rule's, policy's, or a by-name entry's model,
// with the verdict of its check), and an instance id's (an entry's, of
// class `cls`, or policy's).
Standing model_standing(const RuleBook& b, const char* model, model_verdict verdict);
Standing instance_standing(const RuleBook& b, const char* inst, const char* cls);
// A policy rule's block: by its instance id or its model (a rule by name
// or an approval has none).
Standing policy_standing(const RuleBook& b, const PolicyRule& p);
// What the rules of the book want of the lists, worked out once per book.
const BlockWant& book_wanted(const RuleBook& b);
const GivenUpList& book_given_up(const RuleBook& b);
