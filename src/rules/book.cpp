// The book of the rules in force and the walk over it.
#include "rules/book.h"

#include "base/text.h"

const BlacklistModel* book_model_of(const RuleBook& b, const BlacklistEntry& e) {
    if (!e.byname || !e.inst[0]) return nullptr;
    if (b.coming_model && ieq_ascii(b.coming_model->inst, e.inst)) return b.coming_model;
    for (int i = 0; i < b.nmodels; i++)
        if (ieq_ascii(b.models[i].inst, e.inst)) return &b.models[i];
    return nullptr;
}

void book_walk_open(BookWalk* w, const RuleBook& b, int64_t now) {
    w->b = &b;
    w->now = now;
    w->from = FROM_ENTRY;
    w->i = 0;
}

namespace {

// One of the four tables, with the one coming after the entries' and the
// rules'.
int table_size(const RuleBook& b, int from) {
    switch (from) {
    case FROM_ENTRY: return b.nentries + (b.coming != nullptr);
    case FROM_POLICY: return b.npolicy;
    case FROM_HELD: return b.nheld;
    default: return b.nrules + (b.coming_rule != nullptr);
    }
}

void of_entry(const RuleBook& b, const BlacklistEntry& e, InForce* r) {
    r->source = SOURCE_LOCAL;
    r->approves = 0;
    r->inst = e.inst[0] ? e.inst : nullptr;
    r->cls = e.cls;
    r->until = e.until;
    if (!e.byname || !e.name[0]) return;
    r->name = e.name;
    // A by-name entry's model decides at its name's layer, and only one no
    // other device shares reaches anything.
    const BlacklistModel* m = book_model_of(b, e);
    if (m && m->verdict == MODEL_OK) {
        r->model = m->model;
        r->model_layer = LAYER_NAME;
        r->verdict = MODEL_OK;
    }
}

void of_rule(const Rule& rule, InForce* r) {
    r->source = SOURCE_LOCAL;
    r->approves = rule.kind != RULE_MODEL;
    r->until = rule.until;
    if (rule.kind == RULE_APPROVE_ID) {
        r->inst = rule.id;
        return;
    }
    r->model = rule.id;
    r->verdict = rule.verdict;
}

void of_policy(const PolicyRule& p, InForce* r) {
    r->source = SOURCE_POLICY;
    r->approves = p.approves;
    r->until = p.until;
    if (p.kind == POLICY_INSTANCE_ID) r->inst = p.id;
    else if (p.kind == POLICY_MODEL) r->model = p.id, r->verdict = MODEL_OK;
    else if (!p.approves) r->name = p.id;  // names are never approved
}

}  // namespace

const InForce* book_walk_next(BookWalk* w) {
    const RuleBook& b = *w->b;
    for (;;) {
        if (w->i >= table_size(b, w->from)) {
            if (w->from == FROM_RULE) return nullptr;
            // Entries, then policy's and the held, then the rules file's.
            w->from = w->from == FROM_ENTRY ? FROM_POLICY : w->from == FROM_POLICY ? FROM_HELD : FROM_RULE;
            w->i = 0;
            continue;
        }
        int i = w->i++;
        InForce& r = w->cur;
        r = InForce{RuleRef{(rule_origin)w->from, i}, SOURCE_LOCAL, 0, nullptr, "", nullptr, nullptr,
                    LAYER_MODEL, MODEL_NONE, 0};
        if (w->from == FROM_ENTRY) {
            int coming = i == b.nentries;
            if (coming) r.ref.index = -1;
            of_entry(b, coming ? *b.coming : b.entries[i], &r);
        } else if (w->from == FROM_RULE) {
            int coming = i == b.nrules;
            if (coming) r.ref.index = -1;
            of_rule(coming ? *b.coming_rule : b.rules[i], &r);
        } else {
            of_policy(w->from == FROM_POLICY ? b.policy[i] : b.held[i], &r);
        }
        if (rule_in_force(r.until, w->now) && (r.inst || r.name || r.model)) return &r;
    }
}

int book_entries_in_force(const RuleBook& b, int64_t now) {
    int n = 0;
    for (int i = 0; i < b.nentries; i++) n += rule_in_force(b.entries[i].until, now);
    return n;
}

int book_blocks_in_force(const RuleBook& b, int64_t now) {
    int n = 0;
    BookWalk w;
    book_walk_open(&w, b, now);
    while (const InForce* r = book_walk_next(&w)) n += !r->approves && r->ref.index >= 0 && r->ref.from != FROM_HELD;
    return n;
}

namespace {

// Within 63 bits, to be written and read back as a decimal number.
uint64_t key_bits(uint64_t h) { return (h >> 1) | 1; }

}  // namespace

uint64_t book_rule_key(const RuleBook& b, RuleRef r) {
    if (r.index < 0) return 0;
    switch (r.from) {
    case FROM_ENTRY: {
        if (r.index >= b.nentries) return 0;
        const BlacklistEntry& e = b.entries[r.index];
        return key_bits(fnv_text(fnv_step(fnv_folded(fnv_step(FNV_START, 'e'), e.inst), 0xFF), e.name));
    }
    case FROM_RULE: {
        if (r.index >= b.nrules) return 0;
        const Rule& x = b.rules[r.index];
        return key_bits(fnv_folded(fnv_step(fnv_step(FNV_START, 'r'), (uint32_t)x.kind), x.id));
    }
    default: {
        const PolicyRule* p = r.from == FROM_POLICY ? (r.index < b.npolicy ? &b.policy[r.index] : nullptr)
                                                   : (r.index < b.nheld ? &b.held[r.index] : nullptr);
        if (!p) return 0;
        uint32_t kind = (uint32_t)p->kind * 2 + (uint32_t)p->approves;
        return key_bits(fnv_folded(fnv_step(fnv_step(FNV_START, 'p'), kind), p->id));
    }
    }
}

const char* book_how_text(bl_hit how) {
    return how == BL_BY_ID ? "按实例 ID" : how == BL_BY_NAME ? "按名称" : "按型号";
}

const char* book_source_text(int source) { return source == SOURCE_POLICY ? "策略" : "本机"; }

const char* book_rule_id(const RuleBook& b, RuleRef r, bl_hit how) {
    if (r.index < 0) return "";
    switch (r.from) {
    case FROM_ENTRY: {
        if (r.index >= b.nentries) return "";
        const BlacklistEntry& e = b.entries[r.index];
        const BlacklistModel* m = book_model_of(b, e);
        return how == BL_BY_ID ? e.inst : how == BL_BY_NAME || !m ? e.name : m->model;
    }
    case FROM_RULE: return r.index < b.nrules ? b.rules[r.index].id : "";
    case FROM_POLICY: return r.index < b.npolicy ? b.policy[r.index].id : "";
    default: return r.index < b.nheld ? b.held[r.index].id : "";
    }
}
