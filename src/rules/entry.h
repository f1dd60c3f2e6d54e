// What each kind of rule holds, of every source: the blacklist's entries
// and their models, the rules file's model rules and approvals, and
// policy's rules and errors. Types alone, under every file that reads or
// decides rules.
#pragma once

#include <cstdint>

// One blacklisted device.
struct BlacklistEntry {
    char name[600];   // display name, ASCII lower-cased
    char inst[1200];  // instance id as stored
    char cls[128];
    int64_t until;    // expiry, seconds since 1970 UTC; in force while now < until
    int32_t byname;   // non-zero: also matches devices whose name contains `name`
};

constexpr int BL_MAX = 64;

// What the check of a by-name entry's model found when the entry was made.
enum model_verdict {
    MODEL_NONE,     // no hardware id names vendor and product: no model
    MODEL_OK,       // blocked while the entry is in force
    MODEL_SHARED,   // another device uses it, and no entry reaches it: never blocked
    MODEL_BUILTIN,  // a built-in/system device's: never blocked
    MODEL_UNKNOWN,  // the other devices could not be looked at: never blocked
    MODEL_NO_IDS,   // the device's hardware ids could not be read: no model
};

// The model of a by-name entry's device, by its instance id: the hardware
// id that every unit of the same model shares (blacklist-models.tsv).
struct BlacklistModel {
    char inst[sizeof(BlacklistEntry::inst)];
    char model[sizeof(BlacklistEntry::inst)];  // a hardware id, verbatim
    model_verdict verdict;                    // never NONE
};

enum rule_kind {
    RULE_MODEL,          // a model kept off: every device holding the hardware id
    RULE_APPROVE_MODEL,  // a model no rule by name reaches
    RULE_APPROVE_ID,     // a unit no rule by model or name reaches
    RULE_KINDS,
};

// One rule of the rules file: its kind, the hardware id or instance id as
// given (letter case kept: Windows' list holds it as written), a name to
// show (lower-cased, may be empty), its end, and for a model kept off
// whether its install block may be written (the check made when the rule
// was made: MODEL_OK, or SHARED, BUILTIN, UNKNOWN; MODEL_NONE for an
// approval).
struct Rule {
    rule_kind kind;
    char id[201];  // MAX_DEVICE_ID_LEN (200) characters of ASCII
    char name[sizeof(BlacklistEntry::name)];
    int64_t until;  // seconds since 1970 UTC; in force while now < until
    model_verdict verdict;
};

// How many rules the file holds: one table of the blacklist's size.
constexpr int RULES_MAX = 64;

// ---- rules set centrally -------------------------------------------------------

enum policy_rule_kind { POLICY_INSTANCE_ID, POLICY_MODEL, POLICY_NAME };
constexpr int POLICY_LISTS = 5;
// How many rules one list holds; its values past them are errors, never
// rules dropped unsaid.
constexpr int POLICY_LIST_MAX = 128;

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
enum policy_mode { POLICY_ENFORCE, POLICY_AUDIT };  // by index in POLICY_MODES
// Whether an approved unit may be let in through Windows' allow list while
// its model stays blocked: by index in POLICY_LAYERINGS.
enum policy_layering { LAYERING_AUTO, LAYERING_NEVER };

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
    POLICY_BAD_LAYERING,  // Layering is not a REG_SZ of POLICY_LAYERINGS
    POLICY_BLANK,      // a name of nothing but blanks
    POLICY_REASONS,
};
struct PolicyError {
    int list;  // index in POLICY_LIST; -1 for a value of the key itself (Mode)
    policy_reason reason;
    int detail;  // with POLICY_BAD_ID of a model: the model_refusal
    char name[601];  // the value's name as UTF-8, cut at a character when longer
};
// The errors named one by one; more are counted.
constexpr int POLICY_ERRORS_KEPT = 32;

// ---- the administrator's own allows ------------------------------------------

// How many allowed instance ids are read.
constexpr int ALLOWS_MAX = 128;
struct AdminAllow {
    char inst[601];  // as written
};
