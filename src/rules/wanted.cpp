// The rule for which ids want an install block.
#include "rules/wanted.h"

#include "base/text.h"
#include "block/view.h"
#include "device/device.h"
#include "device/model.h"
#include "device/walk.h"
#include "rules/rules.h"

// A model brings its composite device's id too.
static_assert(BLOCK_MAX_IDS >= 2 * (BL_MAX + RULES_MAX + POLICY_LIST_MAX), "every rule of every source can want its blocks");

namespace {

// An id being looked at, and a composite device's: static, beside the
// callers' large tables.
char16_t g_id[INST_UNITS], g_parent[INST_UNITS];
char16_t g_cls[CLASS_UNITS];

}  // namespace

int bl_id_blocked(const char* inst) {
    utf16(inst, g_id, countof(g_id));
    return block_holds(BLOCK_INSTANCE_IDS, g_id);
}

int bl_id_model_blocked(const char* model) {
    utf16(model, g_id, countof(g_id));
    if (!block_holds(BLOCK_DEVICE_IDS, g_id)) return 0;
    return !model_parent_id(g_id, g_parent, countof(g_parent)) || block_holds(BLOCK_DEVICE_IDS, g_parent);
}

const char* bl_model_parent(const char* model, char* out, size_t size) {
    utf16(model, g_id, countof(g_id));
    if (!model_parent_id(g_id, g_parent, countof(g_parent))) return nullptr;
    utf8(g_parent, out, size);
    return out;
}

namespace {

// An id some rule wants blocked, or an approval protects, with who says so.
struct Said {
    const char16_t* id;
    uint64_t hash;  // of the id with A-Z as a-z, as wicmp compares
    uint8_t source, layer;
};
// Room for every rule's ids; an approved unit protects its hardware ids
// too, some dozens each.
constexpr int MAX_SAID = 4096;
Said g_want_ids[BLOCK_LISTS][MAX_SAID];
int g_nwant[BLOCK_LISTS];
Said g_protect[BLOCK_LISTS][MAX_SAID];
int g_nprotect[BLOCK_LISTS];
// Their ids, packed one after another: room for every one's longest, yet a
// step touches only what its rules hold. Static: the room is megabytes.
char16_t g_said_ids[2 * BLOCK_LISTS * MAX_SAID * INST_UNITS];
size_t g_nsaid_ids;
HardwareIds g_unit;
char16_t g_model[INST_UNITS];

void say(Said* t, int* n, const char16_t* id, int source, int layer) {
    if (*n == MAX_SAID || !id[0]) return;
    Said& s = t[(*n)++];
    char16_t* kept = g_said_ids + g_nsaid_ids;
    g_nsaid_ids += wcopy(kept, INST_UNITS, id) + 1;
    s.id = kept;
    s.hash = fnv_folded16(FNV_START, kept);
    s.source = (uint8_t)source;
    s.layer = (uint8_t)layer;
}

// A model and, for a USB function's, its composite device's id.
void say_model(Said* t, int* n, const char16_t* model, int source, int layer) {
    say(t, n, model, source, layer);
    char16_t parent[INST_UNITS];
    if (model_parent_id(model, parent, countof(parent))) say(t, n, parent, source, layer);
}

void want8(block_list l, const char* id, int source, int layer, int model) {
    utf16(id, g_id, countof(g_id));
    if (model) say_model(g_want_ids[l], &g_nwant[l], g_id, source, layer);
    else say(g_want_ids[l], &g_nwant[l], g_id, source, layer);
}

// What an approval of a unit protects: its instance id, and in the model
// list its hardware ids and its composite device's id, or, never seen here,
// the device id its instance id starts with.
void protect_unit(const char* inst, int source) {
    utf16(inst, g_id, countof(g_id));
    say(g_protect[BLOCK_INSTANCE_IDS], &g_nprotect[BLOCK_INSTANCE_IDS], g_id, source, LAYER_INSTANCE);
    Said* t = g_protect[BLOCK_DEVICE_IDS];
    int* n = &g_nprotect[BLOCK_DEVICE_IDS];
    if (dev_lookup_ids(g_id, &g_unit)) {
        for (const char16_t* p = g_unit.ids; *p; p += wlen(p) + 1) say_model(t, n, p, source, LAYER_INSTANCE);
        return;
    }
    size_t cut = wlen(g_id);
    while (cut > 0 && g_id[cut - 1] != u'\\') cut--;
    if (cut < 2) return;
    g_id[cut - 1] = 0;
    say(t, n, g_id, source, LAYER_INSTANCE);
}

// Whether the approvals of the same id spare it from the block `w`, in
// the layered order.
int protected_by(block_list l, const Said& w) {
    RuleHits h{};
    h.block[w.source][w.layer] = 1;
    for (int i = 0; i < g_nprotect[l]; i++) {
        const Said& p = g_protect[l][i];
        if (p.hash == w.hash && wicmp(p.id, w.id) == 0) h.approve[p.source][p.layer] = 1;
    }
    return !rule_decide(h).blocked;
}

int is_policy_model(const char16_t* id) {
    for (int i = 0; i < g_nprotect[BLOCK_DEVICE_IDS]; i++) {
        const Said& p = g_protect[BLOCK_DEVICE_IDS][i];
        if (p.source == SOURCE_POLICY && p.layer == LAYER_MODEL && wicmp(p.id, id) == 0) return 1;
    }
    return 0;
}

// Policy decides first: a model it approves spares its units from the PC's
// blocks by instance id as well, found by each unit's hardware ids.
void protect_policy_models(void) {
    int any = 0;
    for (int i = 0; i < g_nprotect[BLOCK_DEVICE_IDS] && !any; i++)
        any = g_protect[BLOCK_DEVICE_IDS][i].source == SOURCE_POLICY && g_protect[BLOCK_DEVICE_IDS][i].layer == LAYER_MODEL;
    for (int i = 0; any && i < g_nwant[BLOCK_INSTANCE_IDS]; i++) {
        const Said& w = g_want_ids[BLOCK_INSTANCE_IDS][i];
        if (w.source != SOURCE_LOCAL || !dev_lookup_ids(w.id, &g_unit)) continue;
        for (const char16_t* p = g_unit.ids; *p; p += wlen(p) + 1) {
            if (!is_policy_model(p)) continue;
            say(g_protect[BLOCK_INSTANCE_IDS], &g_nprotect[BLOCK_INSTANCE_IDS], w.id, SOURCE_POLICY, LAYER_MODEL);
            break;
        }
    }
}

// Whether an entry's or a policy block's instance id may be written: a
// built-in device's never is, nobody may lose the use of it.
int may_block(const char* inst, const char* cls) {
    utf16(inst, g_id, countof(g_id));
    utf16(cls, g_cls, countof(g_cls));
    return !is_builtin(g_cls, g_id);
}

// Each id once, letter case aside.
void add_once(BlockIds* out, const char16_t* id) {
    for (int k = 0; k < out->n; k++)
        if (wicmp(out->id[k], id) == 0) return;
    if (out->n == BLOCK_MAX_IDS) return;
    wcopy_zero(out->id[out->n], id, INST_UNITS);
    out->outcome[out->n++] = BLOCK_NONE;
}

}  // namespace

void bl_wanted_all(const RuleBook& b, int64_t now, BlockWant* out) {
    for (int l = 0; l < BLOCK_LISTS; l++) g_nwant[l] = g_nprotect[l] = 0;
    g_nsaid_ids = 0;
    BookWalk w;
    book_walk_open(&w, b, now);
    while (const InForce* r = book_walk_next(&w)) {
        if (r->approves && r->inst) {
            protect_unit(r->inst, r->source);
        } else if (r->approves && r->model) {
            utf16(r->model, g_model, countof(g_model));
            say_model(g_protect[BLOCK_DEVICE_IDS], &g_nprotect[BLOCK_DEVICE_IDS], g_model, r->source, LAYER_MODEL);
        } else if (!r->approves) {
            int unit_ok = r->inst && may_block(r->inst, r->cls);
            if (unit_ok) want8(BLOCK_INSTANCE_IDS, r->inst, r->source, LAYER_INSTANCE, 0);
            // A by-name entry's model goes with its unit's block.
            int entry = r->ref.from == FROM_ENTRY;
            if (r->model && r->verdict == MODEL_OK && (!entry || unit_ok))
                want8(BLOCK_DEVICE_IDS, r->model, r->source, r->model_layer, 1);
        }
    }
    protect_policy_models();
    for (int l = 0; l < BLOCK_LISTS; l++) {
        BlockIds& ids = out->list[l];
        ids.n = 0;
        ids.untold = ids.keep = 0;
        for (int i = 0; i < g_nwant[l]; i++)
            if (!protected_by((block_list)l, g_want_ids[l][i])) add_once(&ids, g_want_ids[l][i].id);
        // Audit mode: nobody blocks anything, and what was written is lifted.
        if (b.mode == POLICY_AUDIT) ids.n = 0;
    }
}
