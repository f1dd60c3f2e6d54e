// Rules without an instance id: a model kept off by its hardware id, and
// the approvals of a model or a unit. They live in a file of their own
// beside blacklist.tsv, blacklist-rules.tsv, since a line of another shape
// in blacklist.tsv would be a line nobody can read to the versions already
// deployed. Read and written only inside the blacklist's locked steps.
#pragma once

#include <cstddef>
#include <cstdint>

#include "blacklist/entry.h"

enum rule_kind {
    RULE_MODEL,          // a model kept off: every device holding the hardware id
    RULE_APPROVE_MODEL,  // a model no rule by name reaches
    RULE_APPROVE_ID,     // a unit no rule by model or name reaches
    RULE_KINDS,
};

// One rule: its kind, the hardware id or instance id as given (letter case
// kept: Windows' list holds it as written), a name to show (lower-cased,
// may be empty) and its end.
struct Rule {
    rule_kind kind;
    char id[201];  // MAX_DEVICE_ID_LEN (200) characters of ASCII
    char name[sizeof(BlacklistEntry::name)];
    int64_t until;  // seconds since 1970 UTC; in force while now < until
};

// How many rules the file holds: one table of the blacklist's size.
constexpr int RULES_MAX = 64;

// The rules as the last step of the blacklist left them.
extern Rule g_rules[RULES_MAX];
extern int g_nrules;

// The kinds as the file spells them, by rule_kind.
extern const char* const RULE_KIND_TEXT[RULE_KINDS];

// 1 when a hardware id can be a model rule: vendor and product named, no
// class or compatible-only id, no control character, no space around it,
// at most 200 characters (MAX_DEVICE_ID_LEN).
int rule_model_ok(const char* id);
// 1 when an instance id can be an approval: the same bounds, no '\' at
// either end, no control character.
int rule_instance_ok(const char* id);

// The file's text. A line is a rule only with exactly four tab-separated
// fields: its end as a decimal number, a kind, an id that passes its kind's
// check, and a name that can be stored; blank lines and comments ('#'
// first) are skipped, and so is a UTF-8 byte-order mark. Every other line
// is bad: counted, never a rule. Rules past `max` are counted in `total`.
struct RuleRead {
    int n;          // rules put in t
    int total;      // rules in the file
    int bad;        // lines that are no rule
    int first_bad;  // the first one's number, from 1
};
RuleRead rule_parse(const char* data, size_t n, Rule* t, int max);
size_t rule_format(const Rule* t, int n, char* out, size_t size);
