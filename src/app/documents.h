// The JSON documents for scripts: the device list and the blacklist.
#pragma once

#include "app/args.h"
#include "rules/book.h"
#include "store/store.h"

// -s --json: the exit code.
int scan_json(const Args& a);
// --blist --json: the exit code.
int blist_json(void);
// One entry as --blist --json writes it, for every document that lists entries.
void entry_json(const RuleBook& b, const BlacklistEntry& e);
// Its keys alone, inside an object the caller opened, for a document that
// adds keys of its own; its model is the book's.
void entry_keys(const RuleBook& b, const BlacklistEntry& e);
// A rule of the rules file, as --blist --json writes it: a model rule among
// the entries ("kind": "model"), an approval in "approved" ("kind":
// "model" or "id").
void rule_json(const Rule& r);
void rule_keys(const Rule& r);
// A rule of policy, as --blist --json writes it ("source": "policy";
// "until": null while the policy stands).
void policy_rule_json(const PolicyRule& p);
void policy_rule_keys(const PolicyRule& p);
// The keys of the rule a reference of the book points at, whichever its table.
void rule_ref_keys(const RuleBook& b, RuleRef r);
// How a rule reached a device, as the documents spell it.
const char* hit_key(bl_hit h);
// What every document that judges says of the book's policy: "mode",
// "policy_errors" (values that are no rule) and "policy_error" (a key that
// could not be read whole, else null).
void policy_keys(const RuleBook& b);
