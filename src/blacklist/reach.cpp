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
// instance id their devices start with: only those devices' hardware ids
// are read, as a pass that read every device's would cost a walk more.
struct Model {
    char16_t id[INST_UNITS];
    char prefix[DEV_TEXT_BYTES];  // lower-cased, as the walk hands out ids
    size_t len;
};
Model g_model[BL_MAX];
int g_has_model[BL_MAX];
char16_t g_hw[IDS_UNITS];
HardwareIds g_ids;  // of a device looked up by id

void find_models(int64_t now) {
    for (int b = 0; b < g_bn; b++) {
        g_has_model[b] = 0;
        const BlacklistModel* m = g_bl[b].byname && now < g_bl[b].until ? bl_model_of(g_bl[b]) : nullptr;
        if (!m || m->verdict != MODEL_OK) continue;
        utf16(m->model, g_model[b].id, countof(g_model[b].id));
        char16_t prefix[INST_UNITS];
        g_has_model[b] = model_prefix(g_model[b].id, prefix, countof(prefix));
        g_model[b].len = utf8(prefix, g_model[b].prefix, sizeof g_model[b].prefix);
        lower_ascii(g_model[b].prefix);
    }
}

// Whether entry b reaches the device the walk is on by its model; the
// device's hardware ids are read once, when an entry's prefix first fits.
int by_model(int b, const WalkedDevice& w, DevWalk* walk, int* read) {
    if (!walk || !g_has_model[b] || w.d.builtin) return 0;
    // Most ids share the bus with the prefix and differ in the vendor's
    // last digit, just before its '&': that byte first.
    const Model& m = g_model[b];
    if (w.inst[m.len - 2] != m.prefix[m.len - 2] || strncmp(w.inst, m.prefix, m.len) != 0) return 0;
    if (!*read) {
        *read = 1;
        (void)dev_walk_ids(walk, SYS_IDS_HARDWARE, g_hw, IDS_UNITS);  // empty unless read whole
    }
    return ids_hold(g_hw, g_model[b].id);
}

uint64_t key_of(const WalkedDevice& w) {
    // A device without an id cannot be removed; its name tells it apart.
    const char* s = w.inst[0] ? w.inst : w.name;
    uint64_t h = 1469598103934665603ULL;
    for (; *s; s++) h = (h ^ (unsigned char)*s) * 1099511628211ULL;
    return w.inst[0] ? h : h ^ 1;
}

int collected(uint64_t key) {
    for (int i = 0; i < g_ncollected; i++)
        if (g_collected[i] == key) return 1;
    return 0;
}

// walk: the walk the device came from, for its hardware ids; null when it
// was looked up by id.
void consider(const WalkedDevice& w, DevWalk* walk, int64_t now) {
    if (w.presence != SYS_PRESENT || g_nreached == DEV_MAX || g_ncollected == MAX_COLLECTED) return;
    uint64_t key = key_of(w);
    if (collected(key)) return;
    int read = 0;
    for (int b = 0; b < g_bn; b++) {
        if (now >= g_bl[b].until) continue;
        bl_hit how = bl_match(g_bl[b], w.inst, w.name, w.d.builtin);
        if (how == BL_NO_HIT && by_model(b, w, walk, &read)) how = BL_BY_MODEL;
        if (how == BL_NO_HIT) continue;
        g_collected[g_ncollected++] = key;
        Reached& r = g_reached[g_nreached++];
        r.entry = b;
        r.how = how;
        wcopy_zero(r.inst, w.d.inst, countof(r.inst) - 1);
        r.inst[countof(r.inst) - 1] = 0;
        wcopy_zero(r.name, w.d.name, countof(r.name) - 1);
        r.name[countof(r.name) - 1] = 0;
        dev_lower(r.name, r.lower_name, sizeof r.lower_name);  // the log shows the name as kept
        return;
    }
}

}  // namespace

void reach_reset(void) {
    g_ncollected = 0;
    g_nreached = 0;
}

int reach_collect(int64_t now, uint32_t* err) {
    *err = 0;
    g_nreached = 0;
    int by_name = 0;
    for (int b = 0; b < g_bn; b++) by_name |= now < g_bl[b].until && g_bl[b].byname && g_bl[b].name[0];
    if (!by_name) {
        for (int b = 0; b < g_bn; b++) {
            if (now >= g_bl[b].until || !g_bl[b].inst[0]) continue;
            utf16(g_bl[b].inst, g_id, countof(g_id));
            if (dev_lookup(g_id, &g_dev_seen)) consider(g_dev_seen, nullptr, now);
        }
        return 1;
    }
    DevWalk w;
    if (!dev_walk_open(&w, WALK_PRESENT | WALK_LOWER)) {
        *err = w.err;
        return 0;
    }
    find_models(now);
    while (g_nreached < DEV_MAX && dev_walk_next(&w, &g_dev_seen)) consider(g_dev_seen, &w, now);
    dev_walk_close(&w);  // a removal opens a set of its own
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
