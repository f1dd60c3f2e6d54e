// The unattended pass: every present device that an entry in force reaches.
#include "blacklist/enforce.h"

#include "base/text.h"
#include "blacklist/match.h"
#include "blacklist/store.h"
#include "device/scan.h"
#include "device/syscmd.h"
#include "device/walk.h"
#include "log/log.h"
#include "sys/sys.h"

namespace {

// A burst of arrivals during a round is caught by the next one; the bound
// keeps a device that keeps coming back from holding the pass for ever.
constexpr int MAX_ROUNDS = 8;
constexpr int MAX_TRIED = MAX_ROUNDS * DEV_MAX;

// One device to remove, under the first entry that reaches it.
struct Hit {
    int entry;
    char16_t inst[INST_UNITS];
    char name[DEV_TEXT_BYTES];  // lower-cased, as the log shows it
};
Hit g_hits[DEV_MAX];
int g_nhits;

// The devices tried in this pass, whatever the outcome, as hashes of their
// lower-cased ids: each gets one hit line and one outcome line per run, and
// 16,000 full ids would not fit in static storage.
uint64_t g_tried[MAX_TRIED];
int g_ntried;

WalkedDevice g_dev_seen;

uint64_t key_of(const WalkedDevice& w) {
    // A device without an id cannot be removed; its name tells it apart.
    const char* s = w.inst[0] ? w.inst : w.name;
    uint64_t h = 1469598103934665603ULL;
    for (; *s; s++) h = (h ^ (unsigned char)*s) * 1099511628211ULL;
    return w.inst[0] ? h : h ^ 1;
}

int tried(uint64_t key) {
    for (int i = 0; i < g_ntried; i++)
        if (g_tried[i] == key) return 1;
    return 0;
}

// The first entry in force that reaches the device, or -1.
int first_entry(const WalkedDevice& w, int64_t now) {
    for (int b = 0; b < g_bn; b++)
        if (now < g_bl[b].until && bl_match(g_bl[b], w.inst, w.name, w.d.builtin) != BL_NO_HIT) return b;
    return -1;
}

// A device whose removal is already pending is left to the restart.
void consider(const WalkedDevice& w, int64_t now) {
    if (w.presence != SYS_PRESENT || g_nhits == DEV_MAX || g_ntried == MAX_TRIED) return;
    uint64_t key = key_of(w);
    if (tried(key)) return;
    int b = first_entry(w, now);
    if (b < 0) return;
    g_tried[g_ntried++] = key;
    Hit& h = g_hits[g_nhits++];
    h.entry = b;
    wcopy_zero(h.inst, w.d.inst, countof(h.inst) - 1);
    h.inst[countof(h.inst) - 1] = 0;
    scopy(h.name, sizeof h.name, w.name);
}

// Collects one round's hits. An entry that matches by name needs the walk
// over present devices; entries by id alone are looked up directly, which
// costs next to nothing. 0 when the device list cannot be had.
int collect(int64_t now) {
    g_nhits = 0;
    int by_name = 0;
    for (int b = 0; b < g_bn; b++) by_name |= now < g_bl[b].until && g_bl[b].byname && g_bl[b].name[0];
    if (!by_name) {
        static char16_t id[INST_UNITS];
        for (int b = 0; b < g_bn; b++) {
            if (now >= g_bl[b].until || !g_bl[b].inst[0]) continue;
            utf16(g_bl[b].inst, id, countof(id));
            if (dev_lookup(id, &g_dev_seen)) consider(g_dev_seen, now);
        }
        return 1;
    }
    DevWalk w;
    if (!dev_walk_open(&w, 0)) {
        logline(EV_ENUM_FAILED, "枚举设备失败 (code %lu)", (unsigned long)w.err);
        return 0;
    }
    while (g_nhits < DEV_MAX && dev_walk_next(&w, &g_dev_seen)) consider(g_dev_seen, now);
    dev_walk_close(&w);  // a removal opens a set of its own
    return 1;
}

struct Outcome {
    int removed;
    int failed;
    int restart;
};

// Removes the round's hits, grouped by entry in table order.
Outcome remove_hits(void) {
    Outcome o{0, 0, 0};
    for (int b = 0; b < g_bn; b++) {
        for (int k = 0; k < g_nhits; k++) {
            const Hit& h = g_hits[k];
            if (h.entry != b) continue;
            char inst[DEV_TEXT_BYTES];
            dev_lower(h.inst, inst, sizeof inst);
            logline(EV_HIT, "后台命中拉黑 | %s | %s", h.name, inst);
            sys_removal r = remove_dev(h.inst);
            if (r == SYS_REMOVED_RESTART) {
                logline(EV_ENFORCED_RESTART, "后台已删除（需重启） | %s", h.name);
                o.removed++;
                o.restart = 1;
            } else if (r == SYS_REMOVED) {
                logline(EV_ENFORCED, "后台已删除 | %s", h.name);
                o.removed++;
            } else {
                logline(EV_ENFORCE_FAILED, "后台删除失败 | %s", h.name);
                o.failed = 1;
            }
        }
    }
    return o;
}

}  // namespace

enforce_result enforce_pass(void) {
    int dropped;
    bl_status st = bl_prune(&dropped);
    if (st == BL_UNREADABLE) {
        // An entry we cannot read could be any device: remove none.
        logline(EV_BLACKLIST_UNREADABLE, "读取拉黑名单失败");
        return ENFORCE_FAILED;
    }
    int64_t now = sys_now();
    // Expired entries that stay in the file are a failure too: the drop
    // could not be written, or the file is too full to be written.
    int failed = st == BL_FAILED || (st == BL_OVERFULL && bl_in_force(now) < g_bn);
    int restart = 0;
    g_ntried = 0;
    // An empty blacklist must not cost a device enumeration.
    for (int round = 0; round < MAX_ROUNDS && bl_in_force(now) > 0; round++) {
        if (!collect(now)) {
            failed = 1;
            break;
        }
        Outcome o = remove_hits();
        failed |= o.failed;
        restart |= o.restart;
        if (o.removed == 0) break;
        now = sys_now();
    }
    if (dropped) logline(EV_EXPIRED, "到期自动解除 %d 条", dropped);
    if (failed) return ENFORCE_FAILED;
    return restart ? ENFORCE_RESTART : ENFORCE_OK;
}
