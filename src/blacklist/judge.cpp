// Judging a device against every rule in force.
#include "blacklist/judge.h"

#include <cstring>

#include "base/text.h"
#include "blacklist/allows.h"
#include "blacklist/modelfile.h"
#include "blacklist/policyread.h"
#include "blacklist/rulefile.h"
#include "blacklist/store.h"
#include "device/model.h"

namespace {

// Where a target comes from.
enum origin { FROM_ENTRY, FROM_RULE, FROM_POLICY };

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
    origin from;
    int index;
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
uint64_t folded_hash(const char* s) {
    uint64_t h = FNV_START;
    for (; *s; s++) h = fnv_step(h, *s >= 'A' && *s <= 'Z' ? *s + 32 : (unsigned char)*s);
    return h;
}

// An instance id or a name (names are lower-cased as the store keeps them).
struct TextTarget {
    const char* text;
    uint64_t hash;  // of an id
    Bytes bytes;    // of a name
    uint8_t source, approves;
    origin from;
    int index;
};

// Every entry, rule and policy rule brings at most two model targets, and
// one instance id or name: static tables, as they are megabytes.
constexpr int MAX_MODELS = 2 * (BL_MAX + RULES_MAX + POLICY_RULES_MAX);
constexpr int MAX_TEXTS = BL_MAX + RULES_MAX + POLICY_RULES_MAX;
ModelTarget g_models[MAX_MODELS];
int g_nmodels;
TextTarget g_ids[MAX_TEXTS], g_names[MAX_TEXTS];
int g_nids, g_nnames;
int g_walk;  // a name or a model block: only a walk finds what they reach
const char* g_id_ptrs[MAX_TEXTS];
int g_nid_ptrs;
// The targets' texts, packed one after another, from the start at each
// judge_prepare: room for every target's longest, yet a pass touches only
// what its rules hold, where a field each would be megabytes of fresh pages.
char16_t g_wpool[MAX_MODELS * INST_UNITS];
size_t g_nwpool;
char g_pool[(MAX_MODELS + 2 * MAX_TEXTS) * DEV_TEXT_BYTES];
size_t g_npool;

const char16_t* pool16(const char16_t* w) {
    char16_t* out = g_wpool + g_nwpool;
    g_nwpool += wcopy(out, INST_UNITS, w) + 1;
    return out;
}

char* pool8(void) { return g_pool + g_npool; }

void pooled8(const char* text) { g_npool += strlen(text) + 1; }
// A device's id lists, once read: from a walk into the first two, from a
// lookup into the others; g_hw and g_compat name the ones read.
char16_t g_walk_hw[IDS_UNITS], g_walk_compat[IDS_UNITS];
HardwareIds g_hw_ids, g_compat_ids;
const char16_t* g_hw;
const char16_t* g_compat;

void add_model(const char16_t* id, int source, int approves, origin from, int index, rule_layer layer) {
    char16_t parent[INST_UNITS], prefix[INST_UNITS];
    for (int pass = 0; pass < 2 && g_nmodels < MAX_MODELS; pass++) {
        const char16_t* which = id;
        if (pass == 1) {
            if (!model_parent_id(id, parent, countof(parent))) return;
            which = parent;
        }
        int form = model_product_prefix(which, prefix, countof(prefix));
        if (!form) continue;
        ModelTarget& t = g_models[g_nmodels++];
        t.product = form == 2;
        t.id = pool16(which);
        char* lower = pool8();
        t.len = utf8(prefix, lower, DEV_TEXT_BYTES);
        lower_ascii(lower);
        pooled8(lower);
        t.prefix = lower;
        t.source = (uint8_t)source;
        t.approves = (uint8_t)approves;
        t.composite = pass == 1;
        t.layer = (uint8_t)layer;
        t.from = from;
        t.index = index;
        if (!approves) g_walk = 1;
    }
}

void add_model8(const char* id, int source, int approves, origin from, int index,
                rule_layer layer = LAYER_MODEL) {
    char16_t w[INST_UNITS];
    utf16(id, w, countof(w));
    add_model(w, source, approves, from, index, layer);
}

void add_text(TextTarget* t, int* n, const char* text, int source, int approves, origin from, int index) {
    if (*n == MAX_TEXTS || !text[0]) return;
    TextTarget& x = t[(*n)++];
    char* kept = pool8();
    scopy(kept, DEV_TEXT_BYTES, text);  // as given: ids are compared letter case aside
    pooled8(kept);
    x.text = kept;
    x.hash = folded_hash(kept);
    bytes_of(kept, &x.bytes);
    x.source = (uint8_t)source;
    x.approves = (uint8_t)approves;
    x.from = from;
    x.index = index;
}

// The device's id lists, read once each.
struct Lists {
    const JudgeDevice* d;
    int hw, compat;
};

void read_lists(Lists* l) {
    if (l->d->walk) {
        (void)dev_walk_ids(l->d->walk, SYS_IDS_HARDWARE, g_walk_hw, IDS_UNITS);  // empty unless read whole
        g_hw = g_walk_hw;
    } else {
        (void)dev_lookup_ids(l->d->id, &g_hw_ids, &g_compat_ids);  // empty lists for a device gone
        g_hw = g_hw_ids.ids;
        g_compat = g_compat_ids.ids;
        l->compat = 1;
    }
    l->hw = 1;
}

// The compatible ids, which only a built-in device that holds a model is
// asked for: a walk reads them then, as they cost a read each.
const char16_t* compat_list(Lists* l) {
    if (!l->compat) {
        (void)dev_walk_ids(l->d->walk, SYS_IDS_COMPATIBLE, g_walk_compat, IDS_UNITS);
        g_compat = g_walk_compat;
        l->compat = 1;
    }
    return g_compat;
}

// Whether model target t reaches the device: a device holding the model
// among its hardware ids, built-ins aside; or a composite device, built-in
// as it counts, holding a composite id; a function never by its composite
// device's id, which is another string.
int model_reaches(const ModelTarget& t, const JudgeDevice& d, Lists* l) {
    if (d.inst[t.len - 1] != t.prefix[t.len - 1] || d.inst[t.len - 2] != t.prefix[t.len - 2] ||
        strncmp(d.inst, t.prefix, t.len) != 0)
        return 0;
    if (t.product && d.inst[t.len] != '&' && d.inst[t.len] != '\\') return 0;
    if (!l->hw) read_lists(l);
    if (!ids_hold(g_hw, t.id)) return 0;
    if (!d.builtin) return 1;
    return composite_parent(g_hw, compat_list(l));
}

struct Block {
    int set;
    bl_hit how;
    origin from;
    int index;
};

void note(RuleHits* h, Block (*first)[LAYERS], int source, int layer, int approves, bl_hit how, origin from,
          int index) {
    if (approves) {
        h->approve[source][layer] = 1;
        return;
    }
    h->block[source][layer] = 1;
    Block& b = first[source][layer];
    if (!b.set) b = Block{1, how, from, index};
}

int any_block(const RuleHits& h) {
    for (int s = 0; s < SOURCES; s++)
        for (int l = 0; l < LAYERS; l++)
            if (h.block[s][l]) return 1;
    return 0;
}

int is_focus(const JudgeDevice& d, origin from, int index) {
    return d.focus >= 0 && index == d.focus && (d.focus_rule ? from == FROM_RULE : from == FROM_ENTRY);
}

}  // namespace

void judge_prepare(int64_t now) {
    g_nmodels = g_nids = g_nnames = g_nid_ptrs = 0;
    g_nwpool = g_npool = 0;
    g_walk = 0;
    // Policy first: its order among its own lists is the table's.
    for (int i = 0; i < g_npolicy + g_npolicy_held; i++) {
        const PolicyRule& p = i < g_npolicy ? g_policy[i] : g_policy_held[i - g_npolicy];
        if (now >= p.until) continue;
        int index = i < g_npolicy ? i : -1;
        if (p.kind == POLICY_MODEL) add_model8(p.id, SOURCE_POLICY, p.approves, FROM_POLICY, index);
        else if (p.kind == POLICY_INSTANCE_ID) add_text(g_ids, &g_nids, p.id, SOURCE_POLICY, p.approves, FROM_POLICY, index);
        else if (!p.approves) add_text(g_names, &g_nnames, p.id, SOURCE_POLICY, 0, FROM_POLICY, index);
    }
    for (int b = 0; b < g_bn; b++) {
        const BlacklistEntry& e = g_bl[b];
        if (now >= e.until) continue;
        add_text(g_ids, &g_nids, e.inst, SOURCE_LOCAL, 0, FROM_ENTRY, b);
        if (!e.byname || !e.name[0]) continue;
        add_text(g_names, &g_nnames, e.name, SOURCE_LOCAL, 0, FROM_ENTRY, b);
        const BlacklistModel* m = bl_model_of(e);
        if (m && m->verdict == MODEL_OK) add_model8(m->model, SOURCE_LOCAL, 0, FROM_ENTRY, b, LAYER_NAME);
    }
    for (int r = 0; r < g_nrules; r++) {
        const Rule& rule = g_rules[r];
        if (now >= rule.until) continue;
        if (rule.kind == RULE_APPROVE_ID) add_text(g_ids, &g_nids, rule.id, SOURCE_LOCAL, 1, FROM_RULE, r);
        else add_model8(rule.id, SOURCE_LOCAL, rule.kind == RULE_APPROVE_MODEL, FROM_RULE, r);
    }
    g_walk |= g_nnames > 0;
    for (int i = 0; i < g_nids; i++)
        if (!g_ids[i].approves) g_id_ptrs[g_nid_ptrs++] = g_ids[i].text;
}

int judge_needs_walk(void) { return g_walk; }

int judge_rules_in_force(int64_t now) {
    int n = 0;
    for (int i = 0; i < g_bn; i++) n += now < g_bl[i].until;
    for (int i = 0; i < g_nrules; i++) n += g_rules[i].kind == RULE_MODEL && now < g_rules[i].until;
    for (int i = 0; i < g_npolicy; i++) n += !g_policy[i].approves && now < g_policy[i].until;
    return n;
}

int judge_blocks(void) {
    int n = g_nnames + g_nid_ptrs;
    for (int i = 0; i < g_nmodels; i++) n += !g_models[i].approves;
    return n;
}

int judge_instance_blocks(const char* const** ids) {
    *ids = g_id_ptrs;
    return g_nid_ptrs;
}

Judged judge(const JudgeDevice& d) {
    RuleHits h{};
    Block first[SOURCES][LAYERS] = {};
    Lists l{&d, 0, 0};
    int focus = 0;
    uint64_t inst_hash = g_nids ? folded_hash(d.inst) : 0;
    Bytes name_bytes{};
    if (g_nnames && !d.builtin) bytes_of(d.name, &name_bytes);
    // Blocks first: an approval changes nothing for a device no block
    // reaches, and looking for one costs the device's id lists.
    for (int approving = 0; approving < 2; approving++) {
        if (approving && !d.marks && !any_block(h)) break;
        // An empty id names no device: it would match every device whose
        // id could not be read.
        for (int i = 0; i < g_nids && d.inst[0]; i++) {
            const TextTarget& t = g_ids[i];
            if (t.approves != approving || t.hash != inst_hash || !ieq_ascii(t.text, d.inst)) continue;
            note(&h, first, t.source, LAYER_INSTANCE, t.approves, BL_BY_ID, t.from, t.index);
            focus |= !t.approves && is_focus(d, t.from, t.index);
        }
        for (int i = 0; i < g_nmodels; i++) {
            const ModelTarget& t = g_models[i];
            if (t.approves != approving || !model_reaches(t, d, &l)) continue;
            note(&h, first, t.source, t.layer, t.approves, BL_BY_MODEL, t.from, t.index);
            focus |= !t.approves && is_focus(d, t.from, t.index);
        }
        // Nobody loses a built-in device through a name it merely shares.
        for (int i = 0; i < g_nnames && !d.builtin && !approving; i++) {
            const TextTarget& t = g_names[i];
            if (!bytes_within(t.bytes, name_bytes) || !strstr(d.name, t.text)) continue;
            note(&h, first, t.source, LAYER_NAME, 0, BL_BY_NAME, t.from, t.index);
            focus |= is_focus(d, t.from, t.index);
        }
    }
    RuleDecision dec = rule_decide(h);
    // The administrator's allow of this unit outranks every block but one
    // by instance id, as Windows' layered order has it.
    if (dec.blocked && g_nallows && !h.block[SOURCE_POLICY][LAYER_INSTANCE] && !h.block[SOURCE_LOCAL][LAYER_INSTANCE] &&
        allows_hold(d.inst))
        dec = RuleDecision{1, 0, SOURCE_POLICY, LAYER_INSTANCE};
    Judged j{dec.blocked, dec.decided && !dec.blocked, dec.source, dec.layer, BL_NO_HIT, -1, -1, -1, focus};
    if (dec.blocked) {
        const Block& b = first[dec.source][dec.layer];
        j.how = b.how;
        if (b.from == FROM_ENTRY) j.entry = b.index;
        else if (b.from == FROM_RULE) j.rule = b.index;
        else j.policy = b.index;
    }
    return j;
}

int judge_approved_above_name(const JudgeDevice& d) {
    Lists l{&d, 0, 0};
    for (int i = 0; i < g_nids && d.inst[0]; i++)
        if (g_ids[i].approves && ieq_ascii(g_ids[i].text, d.inst)) return 1;
    for (int i = 0; i < g_nmodels; i++)
        if (g_models[i].approves && model_reaches(g_models[i], d, &l)) return 1;
    return allows_hold(d.inst);
}

namespace {

// A device's texts as compared, and a device looked up for its whole name:
// static, as they are 22 KB.
char g_inst[DEV_TEXT_BYTES], g_name[DEV_TEXT_BYTES];
WalkedDevice g_whole;

}  // namespace

bl_hit judge_mark(const DeviceEntry& d, int64_t now, int* approved, int* policy) {
    *approved = *policy = 0;
    dev_lower(d.inst, g_inst, sizeof g_inst);
    int named = 0;
    for (int i = 0; i < g_bn && !named; i++) named = g_bl[i].inst[0] && ieq_ascii(g_bl[i].inst, g_inst);
    judge_prepare(now);
    // A name the table holds cut is matched whole, as the pass matches it,
    // when a name may reach a device at all.
    const char* name = g_name;
    if (g_nnames && d.name_cut && dev_lookup(d.inst, &g_whole)) name = g_whole.name;
    else dev_lower(d.name, g_name, sizeof g_name);
    JudgeDevice jd{g_inst, name, d.builtin, nullptr, d.inst};
    jd.marks = 1;  // the table marks approved devices, blocked or not
    Judged j = judge(jd);
    // An entry names it, in force or not, unless policy spares it.
    if (named && !(j.approved && j.source == SOURCE_POLICY)) return BL_BY_ID;
    *approved = j.approved;
    *policy = (j.blocked || j.approved) && j.source == SOURCE_POLICY;
    return j.blocked ? j.how : BL_NO_HIT;
}
