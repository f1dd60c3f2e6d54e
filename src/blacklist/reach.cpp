// Collecting the present devices that entries in force reach.
#include "blacklist/reach.h"

#include <cstring>

#include "base/text.h"
#include "blacklist/modelfile.h"
#include "blacklist/store.h"
#include "device/model.h"
#include "device/walk.h"

// What the last collection found: the table this module owns (reach.h).
Reached g_reached[DEV_MAX];
int g_nreached;

namespace {

// A device that keeps coming back is collected once per process; the pass
// runs at most this many rounds of DEV_MAX.
constexpr int MAX_COLLECTED = 8 * DEV_MAX;

// Devices collected since the last reset, as hashes of their lower-cased
// ids: 16,000 full ids would not fit in static storage.
uint64_t g_collected[MAX_COLLECTED];
int g_ncollected;

// The device being looked at and an entry's id: static, as a device is 5 KB.
WalkedDevice g_dev_seen;
char16_t g_id[INST_UNITS];

// The models the entries in force reach by, by entry, and the part of the
// instance id their devices start with: only those devices' id lists are
// read, as a pass that read every device's would cost a walk more.
struct Model {
    char16_t id[INST_UNITS];
    char16_t parent[INST_UNITS];  // a USB function's composite device; empty when none
    char prefix[DEV_TEXT_BYTES];  // lower-cased, as the walk hands out ids
    size_t len;
};
Model g_model[BL_MAX];
int g_has_model[BL_MAX];
char16_t g_hw[IDS_UNITS], g_compat[IDS_UNITS];
HardwareIds g_ids, g_compat_ids;  // of a device looked up by id

void find_models(int64_t now) {
    for (int b = 0; b < g_bn; b++) {
        g_has_model[b] = 0;
        const BlacklistModel* m = g_bl[b].byname && now < g_bl[b].until ? bl_model_of(g_bl[b]) : nullptr;
        if (!m || m->verdict != MODEL_OK) continue;
        Model& mod = g_model[b];
        utf16(m->model, mod.id, countof(mod.id));
        (void)model_parent_id(mod.id, mod.parent, countof(mod.parent));
        char16_t prefix[INST_UNITS];
        g_has_model[b] = model_prefix(mod.id, prefix, countof(prefix));
        mod.len = utf8(prefix, mod.prefix, sizeof mod.prefix);
        lower_ascii(mod.prefix);
    }
}

// The id lists of the device being looked at, read once each, when an
// entry's prefix first fits.
struct Lists {
    DevWalk* walk;  // null: the device was looked up by id, and has none read
    int hw, compat;
};

const char16_t* lists_hw(Lists* l) {
    if (!l->hw) {
        l->hw = 1;
        (void)dev_walk_ids(l->walk, SYS_IDS_HARDWARE, g_hw, IDS_UNITS);  // empty unless read whole
    }
    return g_hw;
}

const char16_t* lists_compat(Lists* l) {
    if (!l->compat) {
        l->compat = 1;
        (void)dev_walk_ids(l->walk, SYS_IDS_COMPATIBLE, g_compat, IDS_UNITS);
    }
    return g_compat;
}

// Whether entry b reaches the device the walk is on by its model: a device
// holding the model, built-in ones aside, or a composite device holding a
// function's composite id.
int by_model(int b, const WalkedDevice& w, Lists* l) {
    if (!l->walk || !g_has_model[b]) return 0;
    // Most ids share the bus with the prefix and differ in the vendor's
    // last digit, just before its '&': that byte first.
    const Model& m = g_model[b];
    if (w.inst[m.len - 2] != m.prefix[m.len - 2] || strncmp(w.inst, m.prefix, m.len) != 0) return 0;
    if (!w.d.builtin && ids_hold(lists_hw(l), m.id)) return 1;
    return m.parent[0] && ids_hold(lists_hw(l), m.parent) && composite_parent(lists_hw(l), lists_compat(l));
}

uint64_t key_of(const char* inst, const char* name) {
    // A device without an id cannot be removed; its name tells it apart.
    const char* s = inst[0] ? inst : name;
    uint64_t h = 1469598103934665603ULL;
    for (; *s; s++) h = (h ^ (unsigned char)*s) * 1099511628211ULL;
    return inst[0] ? h : h ^ 1;
}

int collected(uint64_t key) {
    for (int i = 0; i < g_ncollected; i++)
        if (g_collected[i] == key) return 1;
    return 0;
}

// Records left on the PC that a collection of present devices looked up by
// id: the pass removes them without a walk of its own.
Reached g_left[BL_MAX];
int g_nleft;

void fill(Reached& r, const WalkedDevice& w, int b, bl_hit how) {
    r.entry = b;
    r.how = how;
    wcopy_zero(r.inst, w.d.inst, countof(r.inst) - 1);
    r.inst[countof(r.inst) - 1] = 0;
    wcopy_zero(r.name, w.d.name, countof(r.name) - 1);
    r.name[countof(r.name) - 1] = 0;
    dev_lower(r.name, r.lower_name, sizeof r.lower_name);  // the log shows the name as kept
    r.outcome = SYS_REMOVE_FAILED;
}

void collect(const WalkedDevice& w, uint64_t key, int b, bl_hit how) {
    g_collected[g_ncollected++] = key;
    fill(g_reached[g_nreached++], w, b, how);
}

// Composite devices of absent functions, to be looked at once the walk is
// closed (one device set is open at a time): their ids and the entry.
constexpr int MAX_PARENTS = 64;
char16_t g_parents[MAX_PARENTS][INST_UNITS];
int g_parent_entry[MAX_PARENTS];
int g_nparents;

// walk: the walk the device came from, for its id lists and its parent;
// null when it was looked up by id.
void consider(const WalkedDevice& w, DevWalk* walk, int64_t now, reach_scope scope, int only) {
    sys_presence want = scope == REACH_PRESENT ? SYS_PRESENT : SYS_ABSENT;
    if (!walk && scope == REACH_PRESENT && w.presence == SYS_ABSENT && !w.d.builtin && g_nleft < BL_MAX) {
        for (int i = 0; i < g_nleft; i++)
            if (wicmp(g_left[i].inst, w.d.inst) == 0) return;  // an earlier round's
        for (int b = only < 0 ? 0 : only; b < (only < 0 ? g_bn : only + 1); b++)
            if (now < g_bl[b].until && bl_match(g_bl[b], w.inst, w.name, 1) == BL_BY_ID) {
                fill(g_left[g_nleft++], w, b, BL_BY_ID);
                break;
            }
    }
    if (w.presence != want || g_nreached == DEV_MAX || g_ncollected == MAX_COLLECTED) return;
    uint64_t key = key_of(w.inst, w.name);
    if (collected(key)) return;
    Lists l{walk, 0, 0};
    for (int b = only < 0 ? 0 : only; b < (only < 0 ? g_bn : only + 1); b++) {
        if (now >= g_bl[b].until) continue;
        bl_hit how = bl_match(g_bl[b], w.inst, w.name, w.d.builtin);
        // Nobody loses a built-in device's record: only a composite device
        // is reached, by its id alone.
        if (scope == REACH_ABSENT && w.d.builtin) how = BL_NO_HIT;
        if (how == BL_NO_HIT && by_model(b, w, &l)) how = BL_BY_MODEL;
        if (how == BL_NO_HIT) continue;
        collect(w, key, b, how);
        // A composite device whose record stays is not installed again, and
        // its functions come back with it.
        if (scope == REACH_ABSENT && g_nparents < MAX_PARENTS) {
            int known = walk ? dev_walk_parent(walk, g_parents[g_nparents]) : w.parent[0] != 0;
            if (!walk) wcopy_zero(g_parents[g_nparents], w.parent, INST_UNITS);
            if (known) g_parent_entry[g_nparents++] = b;
        }
        return;
    }
}

// The composite devices of the absent functions collected, where their own
// records are absent too.
void collect_parents(int64_t now) {
    for (int i = 0; i < g_nparents && g_nreached < DEV_MAX && g_ncollected < MAX_COLLECTED; i++) {
        if (!dev_lookup(g_parents[i], &g_dev_seen) || g_dev_seen.presence != SYS_ABSENT) continue;
        uint64_t key = key_of(g_dev_seen.inst, g_dev_seen.name);
        if (collected(key) || now >= g_bl[g_parent_entry[i]].until) continue;
        if (!dev_lookup_ids(g_parents[i], &g_ids, &g_compat_ids) || !composite_parent(g_ids.ids, g_compat_ids.ids))
            continue;
        collect(g_dev_seen, key, g_parent_entry[i], BL_BY_MODEL);
    }
    g_nparents = 0;
}

}  // namespace

void reach_reset(void) {
    g_ncollected = 0;
    g_nreached = 0;
    g_nleft = 0;
}

int reach_left(Reached** left) {
    *left = g_left;
    return g_nleft;
}

int reach_collect(int64_t now, uint32_t* err, reach_scope scope, int only) {
    *err = 0;
    g_nreached = 0;
    g_nparents = 0;
    int by_name = 0;
    for (int b = 0; b < g_bn; b++)
        if (only < 0 || b == only) by_name |= now < g_bl[b].until && g_bl[b].byname && g_bl[b].name[0];
    if (!by_name) {
        for (int b = 0; b < g_bn; b++) {
            if ((only >= 0 && b != only) || now >= g_bl[b].until || !g_bl[b].inst[0]) continue;
            utf16(g_bl[b].inst, g_id, countof(g_id));
            if (dev_lookup(g_id, &g_dev_seen)) consider(g_dev_seen, nullptr, now, scope, only);
        }
        collect_parents(now);
        return 1;
    }
    DevWalk w;
    if (!dev_walk_open(&w, (scope == REACH_PRESENT ? WALK_PRESENT : WALK_ALL) | WALK_LOWER)) {
        *err = w.err;
        return 0;
    }
    find_models(now);
    while (g_nreached < DEV_MAX && dev_walk_next(&w, &g_dev_seen)) consider(g_dev_seen, &w, now, scope, only);
    dev_walk_close(&w);  // a removal opens a set of its own
    collect_parents(now);
    return 1;
}

int bl_reaching(const char16_t* id, int64_t now, bl_hit* how) {
    char lower[DEV_TEXT_BYTES];
    dev_lower(id, lower, sizeof lower);
    *how = BL_BY_ID;
    int by_name = 0;
    for (int b = 0; b < g_bn; b++) {
        if (now >= g_bl[b].until) continue;
        if (g_bl[b].inst[0] && ieq_ascii(g_bl[b].inst, lower)) return b;
        by_name |= g_bl[b].byname && g_bl[b].name[0];
    }
    // Only a name or a model is left to reach it: the device is looked up
    // only then, and its ids only for an entry with a model.
    *how = BL_NO_HIT;
    if (!by_name || !dev_lookup(id, &g_dev_seen) || g_dev_seen.d.builtin) return -1;
    int ids = -1;
    for (int b = 0; b < g_bn; b++) {
        if (now >= g_bl[b].until) continue;
        if (bl_match(g_bl[b], g_dev_seen.inst, g_dev_seen.name, 0) == BL_BY_NAME) {
            *how = BL_BY_NAME;
            return b;
        }
        const BlacklistModel* m = bl_model_of(g_bl[b]);
        if (!m || m->verdict != MODEL_OK) continue;
        if (ids < 0) ids = dev_lookup_ids(id, &g_ids);
        utf16(m->model, g_id, countof(g_id));
        if (ids && ids_hold(g_ids.ids, g_id)) {
            *how = BL_BY_MODEL;
            return b;
        }
    }
    return -1;
}

namespace {

// The entry a name would make: static, as an entry is 2 KB.
BlacklistEntry g_probe;

}  // namespace

int bl_name_reach(const char* lower_name, const char16_t* own) {
    scopy(g_probe.name, sizeof g_probe.name, lower_name);
    g_probe.inst[0] = 0;
    g_probe.byname = 1;
    DevWalk w;
    if (!dev_walk_open(&w, WALK_ALL | WALK_LOWER)) return -1;
    int n = 0;
    while (dev_walk_next(&w, &g_dev_seen))
        if (wicmp(g_dev_seen.d.inst, own) != 0 &&
            bl_match(g_probe, g_dev_seen.inst, g_dev_seen.name, g_dev_seen.d.builtin) == BL_BY_NAME)
            n++;
    dev_walk_close(&w);
    return n;
}
