// Rules set centrally, by Group Policy or Intune, under Quillfen's own
// policy key: the names that scripts and the administrative template rely
// on. They never change.
#pragma once

#include "rules/entry.h"

// HKEY_LOCAL_MACHINE's key that Group Policy and Intune write: Microsoft's
// convention for a third party, Software\Policies\<Company>\<Product>.
extern const char16_t POLICY_KEY[];

// One list of rules: a subkey of POLICY_KEY whose values' names are the
// ids or names, and whose data is each rule's end (a UTC date YYYY-MM-DD,
// or POLICY_WHILE_STANDS).
struct PolicyList {
    const char16_t* key;
    policy_rule_kind kind;
    int approves;  // 0: a block, 1: an approval
};
extern const PolicyList POLICY_LIST[POLICY_LISTS];

// The rule holds while the policy stands.
extern const char16_t POLICY_WHILE_STANDS[];

// The mode: a REG_SZ value of POLICY_KEY, one of POLICY_MODES (absent:
// the first).
extern const char16_t POLICY_MODE[];
constexpr int POLICY_MODE_COUNT = 2;
extern const char16_t* const POLICY_MODES[POLICY_MODE_COUNT];

// Whether Quillfen may spare an approved unit through Windows' allow list
// while its model stays blocked: a REG_SZ value of POLICY_KEY, one of
// POLICY_LAYERINGS (absent: the first, Auto).
extern const char16_t POLICY_LAYERING[];
constexpr int POLICY_LAYERING_COUNT = 2;
extern const char16_t* const POLICY_LAYERINGS[POLICY_LAYERING_COUNT];
