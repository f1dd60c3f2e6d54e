// The book of the rules in force: what the blacklist's locked step read of
// every source (the PC's entries, their models and the rules file, policy's
// rules and errors, the administrator's own allows, the mode), filled once
// per step and handed down, read only, to everyone who decides. One walk
// goes over the rules it holds.
#pragma once

#include <cstdint>

#include "rules/entry.h"
#include "rules/rules.h"

// How a file of the PC's own rules was read.
enum source_state {
    SOURCE_OK,          // whole (a missing file holds no rule)
    SOURCE_UNREADABLE,  // it cannot be read whole: what it holds is unknown
    SOURCE_BAD_LINES,   // it holds lines that are no rule: what they meant is unknown
    SOURCE_OVERFULL,    // more rules than the table holds: only the first count
};
struct SourceRead {
    source_state state;
    int bad;        // lines that are no rule
    int first_bad;  // the first one's number, from 1
    int overfull;   // more rules than the table holds (also with bad lines)
};

struct RuleBook {
    const BlacklistEntry* entries;
    int nentries;
    SourceRead blacklist;
    const BlacklistModel* models;  // of the by-name entries, by instance id
    int nmodels;
    SourceRead models_file;
    const Rule* rules;  // the rules file's model rules and approvals
    int nrules;
    SourceRead rules_file;
    const PolicyRule* policy;  // in force at the read, in list order
    int npolicy;
    const PolicyRule* held;  // vanished since the last pass: held for this one
    int nheld;
    const PolicyError* errors;  // the first POLICY_ERRORS_KEPT of nerrors
    int nerrors;
    uint64_t error_sum;  // the errors as a set, to tell a change of them
    const PolicyRule* ended;  // policy's values past their date: the first 16 (POLICY_ENDED_KEPT)
    int nended;               // of nended, shown so that a date typed into the past is seen
    policy_outcome policy_read;
    policy_mode mode;
    int layering_never;  // policy forbids Windows' allow list
    const AdminAllow* allows;  // honoured only under Windows' layered evaluation
    int nallows;
    uint32_t generation;  // changes whenever the book does, for what is worked out of it
    // What a change is about to put, counted in force by whoever decides
    // for it: the wanted lists of its step, a model's check.
    const BlacklistEntry* coming;
    const BlacklistModel* coming_model;
    const Rule* coming_rule;
};

// Where a rule of the book stands: its table, and its place there (-1 for
// one coming). A held policy rule is in the held table.
enum rule_origin { FROM_ENTRY, FROM_RULE, FROM_POLICY, FROM_HELD };
struct RuleRef {
    rule_origin from;
    int index;
};
inline bool operator==(RuleRef a, RuleRef b) { return a.from == b.from && a.index == b.index; }

// The model kept for by-name entry e (null for one by id alone).
const BlacklistModel* book_model_of(const RuleBook& b, const BlacklistEntry& e);

// One rule in force as every decider sees it: what it names or reaches by,
// at which layer, of which source, blocking or sparing.
struct InForce {
    RuleRef ref;
    rule_source source;
    int approves;
    const char* inst;   // the instance id it names, or null
    const char* cls;    // an entry's class, for the built-in rule ("" otherwise)
    const char* name;   // the name it reaches by, lower-cased, or null
    const char* model;  // the hardware id it reaches by, or null
    rule_layer model_layer;  // where that model decides: a by-name entry's at its name's layer
    model_verdict verdict;   // a model block's check: only MODEL_OK is written to Windows
    int64_t until;
};

// The walk over the rules in force at `now`: the entries (then one coming),
// policy's rules (then the held ones), the rules file's (then one coming).
// A cursor the caller advances.
struct BookWalk {
    const RuleBook* b;
    int64_t now;
    int from, i;
    InForce cur;
};
void book_walk_open(BookWalk* w, const RuleBook& b, int64_t now);
const InForce* book_walk_next(BookWalk* w);

// How many of the book's entries are in force at `now`.
int book_entries_in_force(const RuleBook& b, int64_t now);
// How many rules that block are in force at `now`, of every source (held
// and coming ones aside): what a screen counts as in use.
int book_blocks_in_force(const RuleBook& b, int64_t now);
// The text that names the rule a reference points at, as it reached a
// device (`how`): an entry's instance id, name or model; another rule's id
// or name. "" for a reference the book does not hold.
const char* book_rule_id(const RuleBook& b, RuleRef r, bl_hit how);
// The same rule under one key whichever way it reached a device, and held
// or not: an entry by its id and name, another rule by its kind and id
// (letter case aside). 0 for a reference the book does not hold.
uint64_t book_rule_key(const RuleBook& b, RuleRef r);
// How a rule reached a device, and whose it is, as the log words them.
const char* book_how_text(bl_hit how);
const char* book_source_text(int source);
