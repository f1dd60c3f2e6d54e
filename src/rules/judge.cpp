// Judging a device against every rule in force.
#include "rules/judge.h"

#include <cstring>

#include "base/text.h"
#include "device/model.h"
#include "rules/match.h"

namespace {

// A hardware id a rule reaches devices by: a model, or a USB function
// model's composite device, which alone reaches a built-in device (the
// composite device is of class USB). Devices are looked at only when their
// instance id starts with the id's bus and vendor, and product where it
// names one, as reading every device's id lists would cost a walk more.
struct ModelTarget {
    const char16_t* id;
    const char* prefix;  // lower-cased, as the walk hands out ids
    size_t len;
    uint8_t product;  // the prefix ends mid-id, before '&' or '\\'
    uint8_t source, approves, composite;
    uint8_t layer;  // a by-name entry's model decides at its name's layer
    RuleRef rule;
    const char16_t* function;  // a composite target's: the function model it came from
};
// The bytes a text holds, a bit each: a name is within a device's only
// when each of its bytes is, which most names fail at once.
struct Bytes {
    uint64_t bit[4];
};

void bytes_of(const char* s, Bytes* b) {
    b->bit[0] = b->bit[1] = b->bit[2] = b->bit[3] = 0;
    for (; *s; s++) b->bit[(unsigned char)*s >> 6] |= 1ULL << ((unsigned char)*s & 63);
}

int bytes_within(const Bytes& part, const Bytes& whole) {
    for (int k = 0; k < 4; k++)
        if (part.bit[k] & ~whole.bit[k]) return 0;
    return 1;
}

// A hash of a text with A-Z as a-z, as ieq_ascii compares: ids that differ
// are told apart by it alone.
uint64_t folded_hash(const char* s) { return fnv_folded(FNV_START, s); }

// An instance id or a name (names are lower-cased as the store keeps them).
struct TextTarget {
    const char* text;
    uint64_t hash;  // of an id
    Bytes bytes;    // of a name
    uint8_t source, approves;
    RuleRef rule;
};

// Every entry, rule and policy rule brings at most two model targets, and
// one instance id or name; a coming entry and a coming rule one more each.
constexpr int MAX_RULES = BL_MAX + RULES_MAX + 2 * POLICY_RULES_MAX + 2;
constexpr int MAX_MODELS = 2 * MAX_RULES;
constexpr int MAX_TEXTS = MAX_RULES;

// The model targets by their prefix: a device's instance id is hashed once
// per prefix length instead of compared with every target. Few lengths
// occur (a bus and its vendor, with or without the product); past
// MAX_LENS the targets are compared one by one.
constexpr int BUCKETS = 4096;
constexpr int MAX_LENS = 8;
// The targets one device's prefixes find; past this, one by one.
constexpr int MAX_CANDIDATES = 64;

}  // namespace

// The targets' texts are packed one after another, from the start at each
// judge_prepare: room for every target's longest, yet a pass touches only
// what its rules hold, where a field each would be megabytes of fresh pages.
struct Judge {
    const RuleBook* book;
    ModelTarget models[MAX_MODELS];
    int nmodels;
    TextTarget ids[MAX_TEXTS], names[MAX_TEXTS];
    int nids, nnames;
    int walk;  // a name or a model block: only a walk finds what they reach
    const char* id_ptrs[MAX_TEXTS];
    int nid_ptrs;
    char16_t wpool[(MAX_MODELS + MAX_TEXTS) * INST_UNITS];
    size_t nwpool;
    char pool[(MAX_MODELS + 3 * MAX_TEXTS) * DEV_TEXT_BYTES];
    size_t npool;
    // Composite devices one of whose functions an approved unit spares,
    // looked up before any walk (one device set is open at a time): their
    // instance ids, lowered, and the composite id.
    const char* spared_parent[MAX_TEXTS];
    const char16_t* spared_composite[MAX_TEXTS];
    int nspared;
    int16_t head[BUCKETS];  // the first target of each prefix hash, -1 for none
    int16_t next[MAX_MODELS];
    size_t lens[MAX_LENS];  // the prefix lengths; nlens -1: too many to index
    int nlens;
};

namespace {

// The one Judge: static, as it is megabytes.
Judge g_judge;

const char16_t* pool16(Judge& j, const char16_t* w) {
    char16_t* out = j.wpool + j.nwpool;
    j.nwpool += wcopy(out, INST_UNITS, w) + 1;
    return out;
}

char* pool8(Judge& j) { return j.pool + j.npool; }

void pooled8(Judge& j, const char* text) { j.npool += strlen(text) + 1; }

void add_model(Judge& j, const char16_t* id, const InForce& r, rule_layer layer) {
    char16_t parent[INST_UNITS], prefix[INST_UNITS];
    for (int pass = 0; pass < 2 && j.nmodels < MAX_MODELS; pass++) {
        const char16_t* which = id;
        if (pass == 1) {
            if (!model_parent_id(id, parent, countof(parent))) return;
            which = parent;
        }
        int form = model_product_prefix(which, prefix, countof(prefix));
        if (!form) continue;
        ModelTarget& t = j.models[j.nmodels++];
        t.product = form == 2;
        t.id = pool16(j, which);
        t.function = pass == 1 ? j.models[j.nmodels - 2].id : nullptr;
        char* lower = pool8(j);
        t.len = utf8(prefix, lower, DEV_TEXT_BYTES);
        lower_ascii(lower);
        pooled8(j, lower);
        t.prefix = lower;
        t.source = (uint8_t)r.source;
        t.approves = (uint8_t)r.approves;
        t.composite = pass == 1;
        t.layer = (uint8_t)layer;
        t.rule = r.ref;
        if (!r.approves) j.walk = 1;
    }
}

void add_text(Judge& j, TextTarget* t, int* n, const char* text, const InForce& r) {
    if (*n == MAX_TEXTS || !text[0]) return;
    TextTarget& x = t[(*n)++];
    char* kept = pool8(j);
    scopy(kept, DEV_TEXT_BYTES, text);  // as given: ids are compared letter case aside
    pooled8(j, kept);
    x.text = kept;
    x.hash = folded_hash(kept);
    bytes_of(kept, &x.bytes);
    x.source = (uint8_t)r.source;
    x.approves = (uint8_t)r.approves;
    x.rule = r.ref;
}

// Where a device's id lists are read into: from a walk into the first two,
// from a lookup into the others. One for a device being judged, one for a
// function of it judged meanwhile: static, as they are 64 KB each.
struct ListRoom {
    char16_t walk_hw[IDS_UNITS], walk_compat[IDS_UNITS];
    HardwareIds hw_ids, compat_ids;
};
ListRoom g_room[2];

// A device's id lists, read once each per judging; hw and compat name the
// ones read.
struct Lists {
    const JudgeDevice* d;
    int read_hw, read_compat;
    const char16_t* hw;
    const char16_t* compat;
    ListRoom* room;
    int failed;  // a list could not be read whole: a model may be in it
};

void read_lists(Lists* l) {
    if (l->d->hw) {
        l->hw = l->d->hw;
        l->compat = l->d->compat ? l->d->compat : u"";
        l->read_compat = 1;
    } else if (l->d->walk) {
        // Empty unless read whole.
        l->failed |= dev_walk_ids(l->d->walk, SYS_IDS_HARDWARE, l->room->walk_hw, IDS_UNITS) == SYS_READ_FAILED;
        l->hw = l->room->walk_hw;
    } else {
        // Empty lists for a device gone.
        if (dev_lookup_ids(l->d->id, &l->room->hw_ids, &l->room->compat_ids))
            l->failed |= l->room->hw_ids.read == SYS_READ_FAILED || l->room->compat_ids.read == SYS_READ_FAILED;
        l->hw = l->room->hw_ids.ids;
        l->compat = l->room->compat_ids.ids;
        l->read_compat = 1;
    }
    l->read_hw = 1;
}

// The compatible ids, which only a built-in device that holds a model is
// asked for: a walk reads them then, as they cost a read each.
const char16_t* compat_list(Lists* l) {
    if (!l->read_compat) {
        l->failed |= dev_walk_ids(l->d->walk, SYS_IDS_COMPATIBLE, l->room->walk_compat, IDS_UNITS) == SYS_READ_FAILED;
        l->compat = l->room->walk_compat;
        l->read_compat = 1;
    }
    return l->compat;
}

// Whether model target t reaches the device: a device holding the model
// among its hardware ids, built-ins aside; or a composite device, built-in
// as it counts, holding a composite id; a function never by its composite
// device's id, which is another string.
// The same for a target whose prefix the device's instance id starts with.
int prefix_reaches(const ModelTarget& t, const JudgeDevice& d, Lists* l) {
    if (t.product && d.inst[t.len] != '&' && d.inst[t.len] != '\\') return 0;
    if (!l->read_hw) read_lists(l);
    if (!ids_hold(l->hw, t.id)) return 0;
    if (!d.builtin) return 1;
    return composite_parent(l->hw, compat_list(l));
}

int model_reaches(const ModelTarget& t, const JudgeDevice& d, Lists* l) {
    return strncmp(d.inst, t.prefix, t.len) == 0 && prefix_reaches(t, d, l);
}

uint32_t bucket_of(const char* s, size_t n) { return (uint32_t)fnv_bytes(FNV_START, s, n) & (BUCKETS - 1); }

void index_models(Judge& j) {
    for (int i = 0; i < BUCKETS; i++) j.head[i] = -1;
    j.nlens = 0;
    for (int i = j.nmodels - 1; i >= 0; i--) {
        const ModelTarget& t = j.models[i];
        int k = 0;
        while (k < j.nlens && j.lens[k] != t.len) k++;
        if (k == j.nlens) {
            if (j.nlens == MAX_LENS) {
                j.nlens = -1;
                return;
            }
            j.lens[j.nlens++] = t.len;
        }
        uint32_t b = bucket_of(t.prefix, t.len);
        j.next[i] = j.head[b];
        j.head[b] = (int16_t)i;
    }
}

// The targets whose prefix the instance id starts with, in table order,
// into out; -1 when they are not indexed, or too many.
int candidates(const Judge& j, const char* inst, int* out) {
    if (j.nlens < 0) return -1;
    size_t len = strlen(inst);
    int n = 0;
    for (int k = 0; k < j.nlens; k++) {
        if (len < j.lens[k]) continue;
        for (int i = j.head[bucket_of(inst, j.lens[k])]; i >= 0; i = j.next[i]) {
            if (j.models[i].len != j.lens[k] || memcmp(j.models[i].prefix, inst, j.lens[k]) != 0) continue;
            if (n == MAX_CANDIDATES) return -1;
            // Kept in table order: the first rule that reaches is the one named.
            int at = n++;
            while (at > 0 && out[at - 1] > i) {
                out[at] = out[at - 1];
                at--;
            }
            out[at] = i;
        }
    }
    return n;
}

struct Block {
    int set;
    bl_hit how;
    RuleRef rule;
};

// The first block, and the first approval, of each source and layer: the
// rule that decides is named by where the decision fell.
struct Firsts {
    Block block[SOURCES][LAYERS];
    Block approve[SOURCES][LAYERS];
};

void note(RuleHits* h, Firsts* first, int source, int layer, int approves, bl_hit how, RuleRef rule) {
    (approves ? h->approve : h->block)[source][layer] = 1;
    Block& b = (approves ? first->approve : first->block)[source][layer];
    if (!b.set) b = Block{1, how, rule};
}

int any_block(const RuleHits& h) {
    for (int s = 0; s < SOURCES; s++)
        for (int l = 0; l < LAYERS; l++)
            if (h.block[s][l]) return 1;
    return 0;
}

int is_focus(const JudgeDevice& d, RuleRef rule) { return d.has_focus && d.focus == rule; }

int allowed(const RuleBook& b, const char* inst) {
    for (int i = 0; i < b.nallows; i++)
        if (ieq_ascii(b.allows[i].inst, inst)) return 1;
    return 0;
}

}  // namespace

namespace {

Judged judge_at(const Judge& j, const JudgeDevice& d, int depth);

// An approved unit that is a function (its instance id says so): its
// composite device, when the device tree knows it and the unit is spared,
// is kept among j's spared parents. Static, as a device is 5 KB.
WalkedDevice g_unit;
char16_t g_unit_id[INST_UNITS], g_function[INST_UNITS];

void spare_parent_of(Judge& j, const char* inst, int allowed) {
    utf16(inst, g_unit_id, countof(g_unit_id));
    char16_t composite[INST_UNITS];
    if (j.nspared == MAX_TEXTS || !instance_device_id(g_unit_id, g_function, countof(g_function)) ||
        !model_parent_id(g_function, composite, countof(composite)) || !dev_lookup(g_unit_id, &g_unit) ||
        !g_unit.parent[0])
        return;
    JudgeDevice unit{g_unit.inst, g_unit.name, g_unit.d.builtin, nullptr, g_unit_id};
    unit.marks = 1;  // approved whether or not a block reaches it
    // The administrator's allow spares it wherever no block outranks it.
    Judged judged = judge_at(j, unit, 1);
    if (allowed ? judged.blocked : !judged.approved) return;
    char* parent = pool8(j);
    dev_lower(g_unit.parent, parent, DEV_TEXT_BYTES);
    pooled8(j, parent);
    j.spared_parent[j.nspared] = parent;
    j.spared_composite[j.nspared++] = pool16(j, composite);
}

// Approved units and the administrator's allows that are functions: looked
// up now, before a walk opens the one device set.
void resolve_spared_units(Judge& j) {
    for (int i = 0; i < j.nids; i++)
        if (j.ids[i].approves) spare_parent_of(j, j.ids[i].text, 0);
    for (int i = 0; i < j.book->nallows; i++) spare_parent_of(j, j.book->allows[i].inst, 1);
}

}  // namespace

const Judge& judge_prepare(const RuleBook& b, int64_t now) {
    Judge& j = g_judge;
    j.book = &b;
    j.nmodels = j.nids = j.nnames = j.nid_ptrs = 0;
    j.nwpool = j.npool = 0;
    j.walk = 0;
    BookWalk w;
    book_walk_open(&w, b, now);
    while (const InForce* r = book_walk_next(&w)) {
        if (r->inst) add_text(j, j.ids, &j.nids, r->inst, *r);
        if (r->name) add_text(j, j.names, &j.nnames, r->name, *r);
        if (r->model) {
            char16_t id[INST_UNITS];
            utf16(r->model, id, countof(id));
            add_model(j, id, *r, r->model_layer);
        }
    }
    j.walk |= j.nnames > 0;
    for (int i = 0; i < j.nids; i++)
        if (!j.ids[i].approves) j.id_ptrs[j.nid_ptrs++] = j.ids[i].text;
    index_models(j);
    j.nspared = 0;
    for (int i = 0; i < j.nmodels; i++)
        if (j.models[i].composite && !j.models[i].approves) {
            resolve_spared_units(j);
            break;
        }
    return j;
}

int judge_needs_walk(const Judge& j) { return j.walk; }

int judge_blocks(const Judge& j) {
    int n = j.nnames + j.nid_ptrs;
    for (int i = 0; i < j.nmodels; i++) n += !j.models[i].approves;
    return n;
}

int judge_instance_blocks(const Judge& j, const char* const** ids) {
    *ids = j.id_ptrs;
    return j.nid_ptrs;
}

namespace {

// Whether a function of the composite device d, whose hardware ids hold
// `composite`, is spared: a model of it approved over the blocks of that
// model, or a unit of it approved (the administrator's allows among them).
int function_spared(const Judge& j, const JudgeDevice& d, const char16_t* composite) {
    for (int i = 0; i < j.nmodels; i++) {
        const ModelTarget& t = j.models[i];
        if (!t.composite || !t.approves || wicmp(t.id, composite) != 0) continue;
        RuleHits h{};
        h.approve[t.source][t.layer] = 1;
        for (int k = 0; k < j.nmodels; k++) {
            const ModelTarget& b = j.models[k];
            if (!b.composite && !b.approves && wicmp(b.id, t.function) == 0) h.block[b.source][b.layer] = 1;
        }
        if (!rule_decide(h).blocked) return 1;
    }
    for (int i = 0; i < j.nspared; i++)
        if (ieq_ascii(j.spared_parent[i], d.inst) && wicmp(j.spared_composite[i], composite) == 0) return 1;
    return 0;
}

Judged judge_at(const Judge& j, const JudgeDevice& d, int depth) {
    RuleHits h{}, through{};
    Firsts first{}, first_through{};
    Lists l{&d, 0, 0, nullptr, nullptr, &g_room[depth], 0};
    int focus = 0;
    const char16_t* composite = nullptr;
    uint64_t inst_hash = j.nids ? folded_hash(d.inst) : 0;
    Bytes name_bytes{};
    if (j.nnames && !d.builtin) bytes_of(d.name, &name_bytes);
    int cand[MAX_CANDIDATES];
    int ncand = j.nmodels ? candidates(j, d.inst, cand) : 0;
    int nmodels = ncand < 0 ? j.nmodels : ncand;
    // Blocks first: an approval changes nothing for a device no block
    // reaches, and looking for one costs the device's id lists.
    for (int approving = 0; approving < 2; approving++) {
        if (approving && !d.marks && !any_block(h) && !any_block(through)) break;
        for (int i = 0; i < j.nids; i++) {
            const TextTarget& t = j.ids[i];
            if (t.approves != approving || t.hash != inst_hash || !match_id(t.text, d.inst)) continue;
            note(&h, &first, t.source, LAYER_INSTANCE, t.approves, BL_BY_ID, t.rule);
            focus |= !t.approves && is_focus(d, t.rule);
        }
        for (int c = 0; c < nmodels; c++) {
            const ModelTarget& t = j.models[ncand < 0 ? c : cand[c]];
            // A function's approval reaches its composite device only as
            // one of the functions it is the sum of (function_spared).
            if (t.approves != approving || (t.composite && t.approves)) continue;
            if (ncand < 0 ? !model_reaches(t, d, &l) : !prefix_reaches(t, d, &l)) continue;
            note(t.composite ? &through : &h, t.composite ? &first_through : &first, t.source, t.layer, t.approves,
                 BL_BY_MODEL, t.rule);
            focus |= !t.approves && is_focus(d, t.rule);
            if (t.composite) composite = t.id;
        }
        for (int i = 0; i < j.nnames && !approving; i++) {
            const TextTarget& t = j.names[i];
            if (!bytes_within(t.bytes, name_bytes) || !match_name(t.text, d.name, d.builtin)) continue;
            note(&h, &first, t.source, LAYER_NAME, 0, BL_BY_NAME, t.rule);
            focus |= is_focus(d, t.rule);
        }
    }
    // A composite device reached through one function's model stays, and
    // the function alone goes, while another of its functions is spared.
    if (any_block(through) && (depth > 0 || !function_spared(j, d, composite)))
        for (int s = 0; s < SOURCES; s++)
            for (int k = 0; k < LAYERS; k++) {
                if (!through.block[s][k]) continue;
                h.block[s][k] = 1;
                if (!first.block[s][k].set) first.block[s][k] = first_through.block[s][k];
            }
    h.windows_allow = any_block(h) && allowed(*j.book, d.inst);
    RuleDecision dec = rule_decide(h);
    Judged out{dec.blocked, dec.decided && !dec.blocked, dec.source, dec.layer, BL_NO_HIT, RuleRef{FROM_ENTRY, -1},
               focus, l.failed};
    // An approval is named too: why a device a block reaches stays. The
    // administrator's allow, and a composite device spared for a function,
    // name none.
    const Block& b = (dec.blocked ? first.block : first.approve)[dec.source][dec.layer];
    if (dec.decided && b.set && !dec.by_windows_allow) {
        out.how = b.how;
        out.rule = b.rule;
    }
    out.by_windows_allow = dec.by_windows_allow;
    return out;
}

}  // namespace

Judged judge(const Judge& j, const JudgeDevice& d) { return judge_at(j, d, 0); }

int judge_function_spared(const Judge& j, const JudgeDevice& d, const char16_t* hardware) {
    for (const char16_t* p = hardware; *p; p += wlen(p) + 1)
        if (function_spared(j, d, p)) return 1;
    return 0;
}

int judge_approved_above_name(const Judge& j, const JudgeDevice& d) {
    Lists l{&d, 0, 0, nullptr, nullptr, &g_room[0], 0};
    for (int i = 0; i < j.nids; i++)
        if (j.ids[i].approves && match_id(j.ids[i].text, d.inst)) return 1;
    for (int i = 0; i < j.nmodels; i++)
        if (j.models[i].approves && model_reaches(j.models[i], d, &l)) return 1;
    return allowed(*j.book, d.inst);
}

namespace {

// A device's texts as compared, and a device looked up for its whole name:
// static, as they are 22 KB.
char g_inst[DEV_TEXT_BYTES], g_name[DEV_TEXT_BYTES];
WalkedDevice g_whole;

}  // namespace

bl_hit judge_mark(const Judge& judging, const DeviceEntry& d, int* approved, int* policy, const char** rule) {
    const RuleBook& b = *judging.book;
    *approved = *policy = 0;
    const char* unused;
    if (!rule) rule = &unused;
    *rule = "";
    dev_lower(d.inst, g_inst, sizeof g_inst);
    int named = -1;
    for (int i = 0; i < b.nentries && named < 0; i++)
        if (match_id(b.entries[i].inst, g_inst)) named = i;
    // A name the table holds cut is matched whole, as the pass matches it,
    // when a name may reach a device at all.
    const char* name = g_name;
    if (judging.nnames && d.name_cut && dev_lookup(d.inst, &g_whole)) name = g_whole.name;
    else dev_lower(d.name, g_name, sizeof g_name);
    JudgeDevice jd{g_inst, name, d.builtin, nullptr, d.inst};
    jd.marks = 1;  // the table marks approved devices, blocked or not
    Judged j = judge(judging, jd);
    // An entry names it, in force or not, unless policy spares it.
    if (named >= 0 && !(j.approved && j.source == SOURCE_POLICY)) {
        *rule = b.entries[named].inst;
        return BL_BY_ID;
    }
    *approved = j.approved;
    *policy = (j.blocked || j.approved) && j.source == SOURCE_POLICY;
    if (j.blocked || j.approved) *rule = book_rule_id(b, j.rule, j.how);
    return j.blocked ? j.how : BL_NO_HIT;
}
