// Rules without an instance id: a model kept off by its hardware id, and
// the approvals of a model or a unit. They live in a file of their own
// beside blacklist.tsv, blacklist-rules.tsv, since a line of another shape
// in blacklist.tsv would be a line nobody can read to the versions already
// deployed. Read and written only inside the blacklist's locked steps.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rules/book.h"
#include "rules/entry.h"

// The kinds as the file spells them, by rule_kind.
extern const char* const RULE_KIND_TEXT[RULE_KINDS];

// The file's text. A line is a rule only with exactly five tab-separated
// fields: its end as a decimal number, a kind, an id that passes its kind's
// check, the block's verdict (ok, shared, builtin, unknown; "-" for an
// approval) and a name that can be stored; blank lines and comments ('#'
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

// ---- inside a locked step of the blacklist ----
// Reads the file at these paths (the file and its temporary), once per step;
// a step that reads no blacklist reads no rules either (rules_forget): what
// they are is then unknown.
void rules_read(const char16_t* path, const char16_t* tmp);
void rules_forget(void);
// A rule of r's kind and id (letter case aside) stays the one rule: its end
// becomes the later of the two, a verdict given replaces the kept one, and
// so does a name given (a rename alone counts as unchanged); otherwise r is
// added. *what: 0 unchanged, 1 extended, 2 added; *after the
// rule as it stands. 0 when the file cannot be written over, or (*full)
// holds RULES_MAX rules already.
int rules_put(const Rule& r, int* what, Rule* after, int* full);
// Removes the rules of this kind with this id (letter case aside), or all
// of the kind when id is null, copying each into `gone` (room for
// RULES_MAX); how many. -1 when the file cannot be written over.
int rules_remove(rule_kind kind, const char* id, Rule* gone);
// Drops the rules that ended by `now`, copying each into `gone` (room for
// RULES_MAX); how many (0 when the file cannot be written over).
int rules_drop_expired(int64_t now, Rule* gone);
// Writes the file when a put, a remove or a drop changed it; 0 when it could not
// be written (the step then goes on with what the file holds).
int rules_save(void);
// The step's rules, as read and changed.
const Rule* rules_work(int* n);
// How the file was read: one that cannot be read whole, holds lines that
// are no rule, or more rules than the table holds, is never written over,
// and changes no model block.
SourceRead rules_source(void);
