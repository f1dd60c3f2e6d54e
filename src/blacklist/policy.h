// Rules set centrally, by Group Policy or Intune, under Quillfen's own
// policy key: the names that scripts and the administrative template rely
// on. They never change.
#pragma once

// HKEY_LOCAL_MACHINE's key that Group Policy and Intune write: Microsoft's
// convention for a third party, Software\Policies\<Company>\<Product>.
extern const char16_t POLICY_KEY[];

// One list of rules: a subkey of POLICY_KEY whose values' names are the
// ids or names, and whose data is each rule's end (a UTC date YYYY-MM-DD,
// or POLICY_WHILE_STANDS).
enum policy_rule_kind { POLICY_INSTANCE_ID, POLICY_MODEL, POLICY_NAME };
struct PolicyList {
    const char16_t* key;
    policy_rule_kind kind;
    int approves;  // 0: a block, 1: an approval
};
constexpr int POLICY_LISTS = 5;
extern const PolicyList POLICY_LIST[POLICY_LISTS];
// How many rules one list holds; its values past them are errors, never
// rules dropped unsaid.
constexpr int POLICY_LIST_MAX = 128;

// The rule holds while the policy stands.
extern const char16_t POLICY_WHILE_STANDS[];

// The mode: a REG_SZ value of POLICY_KEY, one of POLICY_MODES (absent:
// the first).
extern const char16_t POLICY_MODE[];
enum policy_mode { POLICY_ENFORCE, POLICY_AUDIT };  // by index in POLICY_MODES
constexpr int POLICY_MODE_COUNT = 2;
extern const char16_t* const POLICY_MODES[POLICY_MODE_COUNT];

// Whether Quillfen may put an approved unit into Windows' own allow list by
// instance id, so that its model's install block stays for every other unit:
// a REG_SZ value of POLICY_KEY, one of POLICY_LAYERINGS (absent: the first).
extern const char16_t POLICY_LAYERING[];
enum policy_layering { POLICY_LAYERING_AUTO, POLICY_LAYERING_NEVER };  // by index in POLICY_LAYERINGS
constexpr int POLICY_LAYERING_COUNT = 2;
extern const char16_t* const POLICY_LAYERINGS[POLICY_LAYERING_COUNT];
