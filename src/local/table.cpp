// The blacklist table's operations.
#include "local/table.h"

#include <cstring>

#include "base/text.h"
#include "rules/rules.h"

int same_entry(const BlacklistEntry& a, const BlacklistEntry& b) {
    return a.until == b.until && a.byname == b.byname && strcmp(a.name, b.name) == 0 &&
           strcmp(a.inst, b.inst) == 0 && strcmp(a.cls, b.cls) == 0;
}

int table_index_of(const BlacklistEntry* t, int n, const BlacklistEntry& e) {
    for (int i = 0; i < n; i++)
        if (same_entry(t[i], e)) return i;
    return -1;
}

int table_put(BlacklistEntry* t, int* n, const BlacklistEntry& e, bl_put_result* what, BlacklistEntry* after) {
    for (int i = 0; i < *n; i++) {
        BlacklistEntry& old = t[i];
        int same = e.inst[0] ? ieq_ascii(old.inst, e.inst) : !old.inst[0] && strcmp(old.name, e.name) == 0;
        if (!same) continue;
        int changed = e.until > old.until || (e.byname && !old.byname);
        if (e.until > old.until) old.until = e.until;
        if (e.byname && !old.byname) old.byname = 1;
        *what = changed ? BL_PUT_EXTENDED : BL_PUT_UNCHANGED;
        *after = old;
        return changed;
    }
    if (*n >= BL_MAX) return -1;
    t[(*n)++] = e;
    *what = BL_PUT_ADDED;
    *after = e;
    return 1;
}

int table_remove(BlacklistEntry* t, int* n, const BlacklistEntry& e) {
    int i = table_index_of(t, *n, e);
    if (i < 0) return 0;
    for (int k = i; k + 1 < *n; k++) t[k] = t[k + 1];
    --*n;
    return 1;
}

int table_drop_expired(BlacklistEntry* t, int* n, int64_t now, BlacklistEntry* gone) {
    int w = 0, g = 0;
    for (int i = 0; i < *n; i++)
        if (rule_in_force(t[i].until, now)) t[w++] = t[i];
        else gone[g++] = t[i];
    *n = w;
    return g;
}

int rule_merge(Rule& old, const Rule& r, int* renamed) {
    // A name given again replaces the one it had; none keeps it.
    *renamed = r.name[0] && strcmp(r.name, old.name) != 0;
    int changed = r.until > old.until || (r.kind == RULE_MODEL && r.verdict != old.verdict);
    if (r.until > old.until) old.until = r.until;
    if (*renamed) scopy(old.name, sizeof old.name, r.name);
    old.verdict = r.verdict;
    return changed;
}

int rule_table_put(Rule* t, int* n, const Rule& r, int* what, Rule* after) {
    for (int i = 0; i < *n; i++) {
        Rule& old = t[i];
        if (old.kind != r.kind || !ieq_ascii(old.id, r.id)) continue;
        int renamed;
        *what = rule_merge(old, r, &renamed);
        *after = old;
        return 1;
    }
    if (*n == RULES_MAX) return 0;
    t[(*n)++] = r;
    *what = 2;
    *after = r;
    return 1;
}

int model_put_into(BlacklistModel* t, int* n, const BlacklistModel& m) {
    int i = 0;
    while (i < *n && !ieq_ascii(t[i].inst, m.inst)) i++;
    if (i == BL_MAX) return 0;
    int changed = i == *n || strcmp(t[i].model, m.model) != 0 || t[i].verdict != m.verdict;
    t[i] = m;
    if (i == *n) ++*n;
    return changed;
}
