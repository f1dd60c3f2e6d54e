// The rule for which ids want an install block, and which units the allow
// list lets in.
#include "rules/wanted.h"

#include "base/text.h"
#include "block/layering.h"
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

int bl_may_block(const char* inst, const char* cls) {
    utf16(inst, g_id, countof(g_id));
    utf16(cls, g_cls, countof(g_cls));
    return !is_builtin(g_cls, g_id);
}

int bl_id_model_blocked(const char* model) {
    utf16(model, g_id, countof(g_id));
    if (!block_holds(BLOCK_DEVICE_IDS, g_id)) return 0;
    return !model_parent_id(g_id, g_parent, countof(g_parent)) || block_holds(BLOCK_DEVICE_IDS, g_parent);
}

int bl_id_blocked_in(block_list l, const char* id) {
    utf16(id, g_id, countof(g_id));
    return block_holds(l, g_id);
}

const char* bl_model_parent(const char* model, char* out, size_t size) {
    utf16(model, g_id, countof(g_id));
    if (!model_parent_id(g_id, g_parent, countof(g_parent))) return nullptr;
    utf8(g_parent, out, size);
    return out;
}

const char* given_up_text(given_up_reason why) {
    static const char* const TEXT[] = {
        "放行规则优先",
        "同一复合设备的其他功能已放行",
        "有放行的设备，策略不许使用系统允许列表",
        "有放行的设备，此 Windows 版本不支持分层评估",
        "有放行的设备，管理员另设了禁止安装策略",
        "有放行的设备，管理员另设了允许安装策略",
        "有放行的设备，管理员关闭了分层评估",
        "有放行的设备，读不到分层评估的设置",
    };
    return TEXT[why];
}

int given_up_why(const GivenUpList& g, block_list list, const char* id) {
    utf16(id, g_id, countof(g_id));
    for (int i = 0; i < g.n; i++)
        if (g.t[i].list == list && wicmp(g.t[i].id, g_id) == 0) return g.t[i].why;
    return -1;
}

namespace {

// What spares an id from its block.
enum spare_kind {
    SPARE_RULE,      // an approval of the id itself, or of a model over a unit's id
    SPARE_UNIT,      // one of an approved unit's hardware ids: the allow list can spare the unit instead
    SPARE_FUNCTION,  // a composite device's id, for one of its functions is approved
};

// An id some rule wants blocked, or an approval protects, with who says so.
// A function's approval protects its composite device only while the
// function itself is spared: by `rank` over the blocks of `function` (and
// of `unit`, for an approved unit).
struct Said {
    const char16_t* id;
    uint64_t hash;  // of the id with A-Z as a-z, as wicmp compares
    uint8_t source, layer;
    uint8_t kind;     // spare_kind
    uint8_t windows;  // the administrator's allow, in Windows' own layered order
    const char16_t* unit;      // the approved unit's instance id, or null
    const char16_t* function;  // SPARE_FUNCTION: the function's id
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

// An id kept in the room; null when the room is full.
const char16_t* keep(const char16_t* id) {
    size_t n = wlen(id);
    if (n >= INST_UNITS || g_nsaid_ids + n + 1 > countof(g_said_ids)) return nullptr;
    char16_t* kept = g_said_ids + g_nsaid_ids;
    g_nsaid_ids += wcopy(kept, INST_UNITS, id) + 1;
    return kept;
}

Said* say(Said* t, int* n, const char16_t* id, int source, int layer) {
    if (*n == MAX_SAID || !id[0]) return nullptr;
    const char16_t* kept = keep(id);
    if (!kept) return nullptr;
    Said& s = t[(*n)++];
    s = Said{kept, fnv_folded16(FNV_START, id), (uint8_t)source, (uint8_t)layer, SPARE_RULE, 0, nullptr, nullptr};
    return &s;
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

// A function approved (its id `function`, by `unit` when a unit's): its
// composite device's id is protected while the function is spared.
void protect_composite(const char16_t* function, const char16_t* unit, int source, int layer, int windows) {
    char16_t parent[INST_UNITS];
    if (!model_parent_id(function, parent, countof(parent))) return;
    const char16_t* kept = keep(function);
    Said* s = kept ? say(g_protect[BLOCK_DEVICE_IDS], &g_nprotect[BLOCK_DEVICE_IDS], parent, source, layer) : nullptr;
    if (!s) return;
    s->kind = SPARE_FUNCTION;
    s->windows = (uint8_t)windows;
    s->unit = unit;
    s->function = kept;
}

// What an approval of a unit protects: its instance id, and in the model
// list its hardware ids, or, never seen here, the device id its instance
// id starts with; and its composite device, when it is a function.
void protect_unit(const char* inst, int source, int windows) {
    utf16(inst, g_id, countof(g_id));
    const char16_t* unit = keep(g_id);
    if (!unit) return;
    if (!windows) say(g_protect[BLOCK_INSTANCE_IDS], &g_nprotect[BLOCK_INSTANCE_IDS], unit, source, LAYER_INSTANCE);
    // The administrator's allows are many and matter only as functions:
    // the bus reports a function's id in its instance id.
    if (!dev_unit_ids(unit, &g_unit, !windows)) return;
    for (const char16_t* p = g_unit.ids; *p; p += wlen(p) + 1) {
        // Windows installs the administrator's allowed unit over a model
        // block by itself: only its composite device is ours to spare.
        if (!windows) {
            Said* s = say(g_protect[BLOCK_DEVICE_IDS], &g_nprotect[BLOCK_DEVICE_IDS], p, source, LAYER_INSTANCE);
            if (s) s->kind = SPARE_UNIT, s->unit = unit;
        }
        protect_composite(p, unit, source, LAYER_INSTANCE, windows);
    }
}

int same(const Said& a, const Said& b) { return a.hash == b.hash && wicmp(a.id, b.id) == 0; }

// The blocks wanted of an id in list l, into h.
void blocks_of(block_list l, const char16_t* id, RuleHits* h) {
    uint64_t hash = fnv_folded16(FNV_START, id);
    for (int i = 0; i < g_nwant[l]; i++) {
        const Said& w = g_want_ids[l][i];
        if (w.hash == hash && wicmp(w.id, id) == 0) h->block[w.source][w.layer] = 1;
    }
}

// Whether an approved function is spared: its approval over the blocks of
// its own id, and of its unit's.
int function_spared(const Said& p) {
    RuleHits h{};
    if (p.windows) h.windows_allow = 1;
    else h.approve[p.source][p.layer] = 1;
    blocks_of(BLOCK_DEVICE_IDS, p.function, &h);
    if (p.unit) blocks_of(BLOCK_INSTANCE_IDS, p.unit, &h);
    RuleDecision d = rule_decide(h);
    return !d.blocked;
}

// Policy decides first: a model it approves spares its units from the PC's
// blocks by instance id as well, found by each unit's hardware ids.
int is_policy_model(const char16_t* id) {
    for (int i = 0; i < g_nprotect[BLOCK_DEVICE_IDS]; i++) {
        const Said& p = g_protect[BLOCK_DEVICE_IDS][i];
        if (p.kind == SPARE_RULE && p.source == SOURCE_POLICY && p.layer == LAYER_MODEL && wicmp(p.id, id) == 0)
            return 1;
    }
    return 0;
}

void protect_policy_models(void) {
    int any = 0;
    for (int i = 0; i < g_nprotect[BLOCK_DEVICE_IDS] && !any; i++) {
        const Said& p = g_protect[BLOCK_DEVICE_IDS][i];
        any = p.kind == SPARE_RULE && p.source == SOURCE_POLICY && p.layer == LAYER_MODEL;
    }
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

// Each id once, letter case aside.
void add_once(BlockIds* out, const char16_t* id) {
    for (int k = 0; k < out->n; k++)
        if (wicmp(out->id[k], id) == 0) return;
    if (out->n == BLOCK_MAX_IDS) return;
    wcopy_zero(out->id[out->n], id, INST_UNITS);
    out->outcome[out->n++] = BLOCK_NONE;
}

void give_up(GivenUpList* g, block_list l, const char16_t* id, given_up_reason why) {
    if (!g || g->n == GIVEN_UP_MAX) return;
    for (int i = 0; i < g->n; i++)
        if (g->t[i].list == l && wicmp(g->t[i].id, id) == 0) return;
    GivenUp& u = g->t[g->n++];
    wcopy_zero(u.id, id, INST_UNITS);
    u.list = l;
    u.why = why;
}

given_up_reason layering_reason(int never, layering_state s) {
    if (never) return GIVEN_UP_LAYERING_NEVER;
    switch (s) {
    case LAYERING_UNSUPPORTED: return GIVEN_UP_LAYERING_UNSUPPORTED;
    case LAYERING_PREVENTIONS: return GIVEN_UP_ADMIN_PREVENTIONS;
    case LAYERING_ADMIN_ALLOWS: return GIVEN_UP_ADMIN_ALLOWS;
    case LAYERING_OFF: return GIVEN_UP_LAYERING_OFF;
    default: return GIVEN_UP_UNTOLD;
    }
}

// Whether Windows' layered evaluation may spare an approved unit, asked
// once per call and only when some unit alone would spare a model.
struct Layering {
    int never;
    int asked;
    layering_state state;
};

int layering_usable(Layering* lay) {
    if (lay->never) return 0;
    if (!lay->asked) lay->state = block_layering(), lay->asked = 1;
    return lay->state == LAYERING_USABLE;
}

// The id w of list l: wanted, or kept out by what spares it (given up, or
// wanted with its approved units on the allow list).
void decide(block_list l, const Said& w, BlockWant* out, GivenUpList* given_up, Layering* lay) {
    RuleHits all{}, rules{};
    all.block[w.source][w.layer] = rules.block[w.source][w.layer] = 1;
    int function = 0;
    for (int i = 0; i < g_nprotect[l]; i++) {
        const Said& p = g_protect[l][i];
        if (!same(p, w)) continue;
        if (p.kind == SPARE_FUNCTION) {
            // The sum of its functions: one spared keeps the composite device.
            function |= function_spared(p);
            continue;
        }
        all.approve[p.source][p.layer] = 1;
        if (p.kind == SPARE_RULE) rules.approve[p.source][p.layer] = 1;
    }
    if (function) {
        give_up(given_up, l, w.id, GIVEN_UP_FUNCTION_SPARED);
        return;
    }
    if (rule_decide(all).blocked) {
        add_once(&out->list[l], w.id);
        return;
    }
    if (!rule_decide(rules).blocked || l != BLOCK_DEVICE_IDS) {
        give_up(given_up, l, w.id, GIVEN_UP_APPROVED);
        return;
    }
    // Only approved units spare the model: where Windows can let them in
    // over it, the model stays blocked for every other unit. Where that
    // cannot be told, nothing changes: no block is given up for a read
    // that failed, and no allow value is lifted or written.
    if (!layering_usable(lay) && lay->state == LAYERING_UNTOLD && !lay->never) {
        add_once(&out->list[l], w.id);
        out->list[BLOCK_ALLOW_IDS].keep = 1;
        return;
    }
    if (!layering_usable(lay)) {
        give_up(given_up, l, w.id, layering_reason(lay->never, lay->state));
        return;
    }
    add_once(&out->list[l], w.id);
    for (int i = 0; i < g_nprotect[l]; i++) {
        const Said& p = g_protect[l][i];
        if (p.kind == SPARE_UNIT && same(p, w)) add_once(&out->list[BLOCK_ALLOW_IDS], p.unit);
    }
}

}  // namespace

void bl_wanted_all(const RuleBook& b, int64_t now, BlockWant* out, GivenUpList* given_up) {
    for (int l = 0; l < BLOCK_LISTS; l++) g_nwant[l] = g_nprotect[l] = 0;
    g_nsaid_ids = 0;
    if (given_up) given_up->n = 0;
    BookWalk w;
    book_walk_open(&w, b, now);
    while (const InForce* r = book_walk_next(&w)) {
        if (r->approves && r->inst) {
            protect_unit(r->inst, r->source, 0);
        } else if (r->approves && r->model) {
            utf16(r->model, g_model, countof(g_model));
            say(g_protect[BLOCK_DEVICE_IDS], &g_nprotect[BLOCK_DEVICE_IDS], g_model, r->source, LAYER_MODEL);
            protect_composite(g_model, nullptr, r->source, LAYER_MODEL, 0);
        } else if (!r->approves) {
            int unit_ok = r->inst && bl_may_block(r->inst, r->cls);
            if (unit_ok) want8(BLOCK_INSTANCE_IDS, r->inst, r->source, LAYER_INSTANCE, 0);
            // A by-name entry's model goes with its unit's block.
            int entry = r->ref.from == FROM_ENTRY;
            if (r->model && r->verdict == MODEL_OK && (!entry || unit_ok))
                want8(BLOCK_DEVICE_IDS, r->model, r->source, r->model_layer, 1);
        }
    }
    // The administrator's allows spare a function's composite device too.
    for (int i = 0; i < b.nallows; i++) protect_unit(b.allows[i].inst, SOURCE_POLICY, 1);
    protect_policy_models();
    Layering lay{b.layering_never, 0, LAYERING_UNTOLD};
    for (int l = 0; l < BLOCK_LISTS; l++) out->list[l].n = out->list[l].untold = out->list[l].keep = 0;
    for (int l = BLOCK_INSTANCE_IDS; l <= BLOCK_DEVICE_IDS; l++)
        for (int i = 0; i < g_nwant[l]; i++) decide((block_list)l, g_want_ids[l][i], out, given_up, &lay);
    // Audit mode: nobody blocks anything, and what was written is lifted.
    if (b.mode == POLICY_AUDIT)
        for (int l = 0; l < BLOCK_LISTS; l++) out->list[l].n = 0;
}
