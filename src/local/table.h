// The blacklist table's operations, on whichever table holds it: the
// store's steps apply them to the file as they read it, a run that must
// change nothing to what it shows.
#pragma once

#include <cstdint>

#include "rules/entry.h"

// An entry with all of e's fields.
int same_entry(const BlacklistEntry& a, const BlacklistEntry& b);
// The index of an entry with all of e's fields in t[0..n); -1 when none.
int table_index_of(const BlacklistEntry* t, int n, const BlacklistEntry& e);

enum bl_put_result { BL_PUT_ADDED, BL_PUT_EXTENDED, BL_PUT_UNCHANGED };
// Puts e into the table t of *n entries, as a script running the same
// command again expects: an entry with e's id (letter case aside), or,
// when e has none, one without an id and with e's name, stays the one
// entry: its expiry becomes the later of the two, it matches by name when
// e does, and it keeps its name and class. Otherwise e is added. 1 when the
// table changed, 0 when not, -1 when e would be one entry too many; *what
// and *after say what it did.
int table_put(BlacklistEntry* t, int* n, const BlacklistEntry& e, bl_put_result* what, BlacklistEntry* after);
// Removes the first entry equal to e; 0 when there is none.
int table_remove(BlacklistEntry* t, int* n, const BlacklistEntry& e);
// Drops the entries that ended by `now`, copying each into `gone` (room
// for BL_MAX); how many went.
int table_drop_expired(BlacklistEntry* t, int* n, int64_t now, BlacklistEntry* gone);
// r given again over old, the same rule (kind and id, letter case aside):
// its end becomes the later of the two, r's verdict replaces the kept one,
// and so does a name given. 1 when it was extended or a model rule's
// verdict changed, else 0 (a rename alone counts as unchanged); *renamed.
int rule_merge(Rule& old, const Rule& r, int* renamed);
// A model rule or an approval put into t[0..*n) as a run that must change
// nothing shows it, merged as the rules file merges it. 0 when the table
// holds RULES_MAX; *what: 0 unchanged, 1 extended, 2 added.
int rule_table_put(Rule* t, int* n, const Rule& r, int* what, Rule* after);
// Keeps model m in t[0..*n), replacing the one of its instance id; 1 when
// that changed the table.
int model_put_into(BlacklistModel* t, int* n, const BlacklistModel& m);
