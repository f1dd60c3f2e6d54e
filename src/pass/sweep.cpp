// Removing the records of devices that are not attached, reached by an
// entry in force.
#include "pass/sweep.h"

#include "base/text.h"
#include "device/remove.h"
#include "log/log.h"
#include "sys/sys.h"
#include "task/owner.h"

namespace {

// Under PRODUCT_KEY: "<seconds since 1970>\t<fingerprint of the entries>".
const char16_t LAST_SWEEP[] = u"AbsentSweep";
// A walk of every record costs more than the pass's walk of present
// devices: records that appear later (a restored image) wait this long.
constexpr int64_t SWEEP_EVERY = 3600;

uint64_t mix(uint64_t h, const char* s) { return fnv_step(fnv_text(h, s ? s : ""), 0xFF); }

// What the blocks in force are: a sweep is due when it changes.
uint64_t fingerprint(const RuleBook& b, int64_t now) {
    uint64_t h = FNV_START;
    BookWalk w;
    book_walk_open(&w, b, now);
    while (const InForce* r = book_walk_next(&w)) {
        if (r->approves || r->ref.from == FROM_HELD || r->ref.index < 0) continue;
        h = mix(mix(mix(h, r->inst), r->name), r->model);
    }
    return h;
}

// Removes each record of t, logging and eventing every outcome.
void remove_each(Reached* t, int n, SweepResult* r) {
    for (int k = 0; k < n; k++) {
        Reached& h = t[k];
        char inst[DEV_TEXT_BYTES];
        dev_lower(h.inst, inst, sizeof inst);
        h.outcome = remove_dev(h.inst);
        if (h.outcome == SYS_REMOVED_RESTART) {
            logline(EV_ABSENT_REMOVED_RESTART, "已删除离场设备的遗留记录（需重启） | %s | %s", h.lower_name, inst);
            r->removed++;
            r->restart = 1;
        } else if (h.outcome == SYS_REMOVED) {
            logline(EV_ABSENT_REMOVED, "已删除离场设备的遗留记录 | %s | %s", h.lower_name, inst);
            r->removed++;
        } else {
            logline(EV_ABSENT_REMOVE_FAILED, "删除离场设备的遗留记录失败 | %s | %s", h.lower_name, inst);
            r->failed++;
        }
    }
}

}  // namespace

SweepResult sweep_absent(const RuleBook& b, int64_t now, const RuleRef* focus, int what_if, ReachList* found) {
    SweepResult r{0, 0, 0, 1};
    *found = reach_collect(b, now, REACH_ABSENT, focus);
    if (!found->ok) {
        logline(EV_ENUM_FAILED, "枚举设备失败 (code %lu)", (unsigned long)found->err);
        r.ok = 0;
        return r;
    }
    if (!what_if) remove_each(found->t, found->n, &r);
    return r;
}

SweepResult sweep_left(void) {
    SweepResult r{0, 0, 0, 1};
    Reached* left;
    int n = reach_left(&left);
    remove_each(left, n, &r);
    return r;
}

int sweep_due(const RuleBook& b, int64_t now) {
    char16_t text[64];
    if (sys_reg_text(PRODUCT_KEY, LAST_SWEEP, text, countof(text)) != SYS_REG_OK) return 1;
    char a[64];
    utf8(text, a, sizeof a);
    char* tab = a;
    while (*tab && *tab != '\t') tab++;
    if (!*tab) return 1;
    *tab = 0;
    int64_t at = parse_int(a, INT64_MIN, INT64_MAX);
    char want[24];
    fmt(want, sizeof want, "%llu", (unsigned long long)fingerprint(b, now));
    return now - at >= SWEEP_EVERY || now < at || !ieq_ascii(tab + 1, want);
}

void sweep_done(const RuleBook& b, int64_t now) {
    char a[64];
    fmt(a, sizeof a, "%lld\t%llu", (long long)now, (unsigned long long)fingerprint(b, now));
    char16_t text[64];
    utf16(a, text, countof(text));
    (void)sys_reg_set_text(PRODUCT_KEY, LAST_SWEEP, text, SYS_REG_SZ);  // else the next pass sweeps again
}

int sweep_forget(void) { return sys_reg_delete_value(PRODUCT_KEY, LAST_SWEEP); }
