// Collecting the devices that the rules in force keep off.
#include "pass/reach.h"

#include <cstring>

#include "base/text.h"
#include "device/model.h"
#include "device/walk.h"
#include "rules/judge.h"
#include "rules/match.h"
#include "sys/sys.h"

namespace {

// What the last collection found: the table this module owns.
Reached g_reached[DEV_MAX];
int g_nreached;

// A device that keeps coming back is collected once per process; the pass
// runs at most this many rounds of DEV_MAX.
constexpr int MAX_COLLECTED = 8 * DEV_MAX;

// Devices collected since the last reset, as hashes of their lower-cased
// ids: 16,000 full ids would not fit in static storage.
uint64_t g_collected[MAX_COLLECTED];
int g_ncollected;

// The device being looked at and an id: static, as a device is 5 KB.
WalkedDevice g_dev_seen;
char16_t g_id[INST_UNITS];
HardwareIds g_ids, g_compat_ids;  // of a device looked up by id

// Devices the last collection could not judge whole: the first few, and
// how many.
Reached g_unread[REACH_UNREAD_KEPT];
int g_nunread;

// Present devices an approval spares from a block that reaches them.
Reached g_spared[REACH_SPARED_KEPT];
int g_nspared;

// Records left on the PC that a collection of present devices looked up by
// id: the pass removes them without a walk of its own.
Reached g_left[BL_MAX];
int g_nleft;

uint64_t key_of(const char* inst, const char* name) {
    // A device without an id cannot be removed; its name tells it apart.
    uint64_t h = fnv_text(FNV_START, inst[0] ? inst : name);
    return inst[0] ? h : h ^ 1;
}

int collected(uint64_t key) {
    for (int i = 0; i < g_ncollected; i++)
        if (g_collected[i] == key) return 1;
    return 0;
}

void fill(Reached& r, const WalkedDevice& w, const Judged& j) {
    r.rule = j.rule;
    r.source = j.source;
    r.how = j.how;
    wcopy_zero(r.inst, w.d.inst, countof(r.inst) - 1);
    r.inst[countof(r.inst) - 1] = 0;
    wcopy_zero(r.name, w.d.name, countof(r.name) - 1);
    r.name[countof(r.name) - 1] = 0;
    dev_lower(r.name, r.lower_name, sizeof r.lower_name);  // the log shows the name as kept
    r.outcome = SYS_REMOVE_FAILED;
}

void collect(const WalkedDevice& w, uint64_t key, const Judged& j) {
    g_collected[g_ncollected++] = key;
    fill(g_reached[g_nreached++], w, j);
}

// Composite devices of absent functions, to be looked at once the walk is
// closed (one device set is open at a time): their ids and who kept the
// function off.
constexpr int MAX_PARENTS = 64;
char16_t g_parents[MAX_PARENTS][INST_UNITS];
Judged g_parent_judged[MAX_PARENTS];
int g_nparents;

// walk: the walk the device came from, for its id lists and its parent;
// null when it was looked up by id. focus: see reach_collect.
void consider(const Judge& judging, const WalkedDevice& w, DevWalk* walk, reach_scope scope, const RuleRef* focus) {
    JudgeDevice jd = judge_device(w, walk);
    if (focus) jd.has_focus = 1, jd.focus = *focus;
    if (!walk && scope == REACH_PRESENT && w.presence == SYS_ABSENT && !w.d.builtin && g_nleft < BL_MAX) {
        for (int i = 0; i < g_nleft; i++)
            if (wicmp(g_left[i].inst, w.d.inst) == 0) return;  // an earlier round's
        Judged j = judge(judging, jd);
        if (j.blocked && j.how == BL_BY_ID) fill(g_left[g_nleft++], w, j);
    }
    sys_presence want = scope == REACH_PRESENT ? SYS_PRESENT : SYS_ABSENT;
    if (w.presence != want || g_nreached == DEV_MAX || g_ncollected == MAX_COLLECTED) return;
    uint64_t key = key_of(w.inst, w.name);
    if (collected(key)) return;
    Judged j = judge(judging, jd);
    if (!j.blocked && j.unread) {
        if (g_nunread < REACH_UNREAD_KEPT) fill(g_unread[g_nunread], w, j);
        g_nunread++;
    }
    if (j.approved && scope == REACH_PRESENT && !focus) {
        if (g_nspared < REACH_SPARED_KEPT) fill(g_spared[g_nspared], w, j);
        g_nspared++;
    }
    if (!j.blocked || (focus && !j.focus)) return;
    // Nobody loses a built-in device's record: only a composite device is
    // reached, by its id alone.
    if (scope == REACH_ABSENT && w.d.builtin && j.how != BL_BY_MODEL) return;
    collect(w, key, j);
    // A composite device whose record stays is not installed again, and
    // its functions come back with it.
    if (scope == REACH_ABSENT && g_nparents < MAX_PARENTS) {
        int known = walk ? dev_walk_parent(walk, g_parents[g_nparents]) : w.parent[0] != 0;
        if (!walk) wcopy_zero(g_parents[g_nparents], w.parent, INST_UNITS);
        if (known) g_parent_judged[g_nparents++] = j;
    }
}

// The composite devices of the absent functions collected, where their own
// records are absent too.
void collect_parents(const Judge& judging) {
    for (int i = 0; i < g_nparents && g_nreached < DEV_MAX && g_ncollected < MAX_COLLECTED; i++) {
        if (!dev_lookup(g_parents[i], &g_dev_seen) || g_dev_seen.presence != SYS_ABSENT) continue;
        uint64_t key = key_of(g_dev_seen.inst, g_dev_seen.name);
        if (collected(key)) continue;
        if (!dev_lookup_ids(g_parents[i], &g_ids, &g_compat_ids) || !composite_parent(g_ids.ids, g_compat_ids.ids) ||
            judge_function_spared(judging, judge_device(g_dev_seen, nullptr), g_ids.ids))
            continue;
        Judged j = g_parent_judged[i];
        j.how = BL_BY_MODEL;
        collect(g_dev_seen, key, j);
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

ReachList reach_collect(const RuleBook& b, int64_t now, reach_scope scope, const RuleRef* focus) {
    ReachList r{1, 0, g_reached, 0, g_unread, 0, g_spared, 0};
    g_nreached = 0;
    g_nparents = 0;
    g_nunread = 0;
    g_nspared = 0;
    const Judge& judging = judge_prepare(b, now);
    if (!judge_needs_walk(judging)) {
        const char* const* ids;
        int n = judge_instance_blocks(judging, &ids);
        for (int i = 0; i < n; i++) {
            utf16(ids[i], g_id, countof(g_id));
            if (dev_lookup(g_id, &g_dev_seen)) consider(judging, g_dev_seen, nullptr, scope, focus);
        }
    } else {
        DevWalk w;
        if (!dev_walk_open(&w, (scope == REACH_PRESENT ? WALK_PRESENT : WALK_ALL) | WALK_LOWER)) {
            r.ok = 0;
            r.err = w.err;
            return r;
        }
        while (g_nreached < DEV_MAX && dev_walk_next(&w, &g_dev_seen)) consider(judging, g_dev_seen, &w, scope, focus);
        dev_walk_close(&w);  // a removal opens a set of its own
    }
    collect_parents(judging);
    r.n = g_nreached;
    r.nunread = g_nunread;
    r.nspared = g_nspared;
    return r;
}

Judged bl_reaching(const RuleBook& b, const char16_t* id, int64_t now) {
    const Judge& judging = judge_prepare(b, now);
    // Without a name or a model in force only its id can reach it, and the
    // device need not be looked up; nor can one the system does not know.
    char lower[DEV_TEXT_BYTES];
    dev_lower(id, lower, sizeof lower);
    Judged j{};
    if (judge_needs_walk(judging) && dev_lookup(id, &g_dev_seen))
        j = judge(judging, judge_device(g_dev_seen, nullptr));
    else
        j = judge(judging, JudgeDevice{lower, "", 0, nullptr, id});
    if (j.rule.index < 0) j.blocked = 0;  // only a rule being put has no place yet
    return j;
}

int bl_name_reach(const RuleBook& b, const char* lower_name, const char16_t* own) {
    // An approved device is one the name would not reach.
    const Judge& judging = judge_prepare(b, sys_now());
    DevWalk w;
    if (!dev_walk_open(&w, WALK_ALL | WALK_LOWER)) return -1;
    int n = 0;
    while (dev_walk_next(&w, &g_dev_seen))
        if (wicmp(g_dev_seen.d.inst, own) != 0 && match_name(lower_name, g_dev_seen.name, g_dev_seen.d.builtin) &&
            !judge_approved_above_name(
                judging, judge_device(g_dev_seen, &w)))
            n++;
    dev_walk_close(&w);
    return n;
}
