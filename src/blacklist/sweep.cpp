// Removing the records of devices that are not attached, reached by an
// entry in force.
#include "blacklist/sweep.h"

#include "base/text.h"
#include "blacklist/modelfile.h"
#include "blacklist/policyread.h"
#include "blacklist/rulefile.h"
#include "blacklist/reach.h"
#include "blacklist/store.h"
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

void mix(uint64_t* h, const char* s) {
    for (; *s; s++) *h = (*h ^ (unsigned char)*s) * 1099511628211ULL;
    *h = (*h ^ 0xFF) * 1099511628211ULL;
}

// What the rules in force are: a sweep is due when it changes.
uint64_t fingerprint(int64_t now) {
    uint64_t h = 1469598103934665603ULL;
    for (int i = 0; i < g_bn; i++) {
        const BlacklistEntry& e = g_bl[i];
        if (now >= e.until) continue;
        mix(&h, e.inst);
        mix(&h, e.name);
        mix(&h, e.byname ? "1" : "0");
        const BlacklistModel* m = bl_model_of(e);
        if (m && m->verdict == MODEL_OK) mix(&h, m->model);
    }
    // Model rules and policy's blocks reach records as entries do.
    for (int i = 0; i < g_nrules; i++)
        if (g_rules[i].kind == RULE_MODEL && now < g_rules[i].until) mix(&h, g_rules[i].id);
    for (int i = 0; i < g_npolicy; i++)
        if (!g_policy[i].approves && now < g_policy[i].until) mix(&h, g_policy[i].id);
    return h;
}

}  // namespace

namespace {

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

SweepResult sweep_absent(int64_t now, int focus, int focus_rule, int what_if) {
    SweepResult r{0, 0, 0, 1};
    uint32_t err;
    if (!reach_collect(now, &err, REACH_ABSENT, focus, focus_rule)) {
        logline(EV_ENUM_FAILED, "枚举设备失败 (code %lu)", (unsigned long)err);
        r.ok = 0;
        return r;
    }
    if (!what_if) remove_each(g_reached, g_nreached, &r);
    return r;
}

SweepResult sweep_left(void) {
    SweepResult r{0, 0, 0, 1};
    Reached* left;
    int n = reach_left(&left);
    remove_each(left, n, &r);
    return r;
}

int sweep_due(int64_t now) {
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
    fmt(want, sizeof want, "%llu", (unsigned long long)fingerprint(now));
    return now - at >= SWEEP_EVERY || now < at || !ieq_ascii(tab + 1, want);
}

void sweep_done(int64_t now) {
    char a[64];
    fmt(a, sizeof a, "%lld\t%llu", (long long)now, (unsigned long long)fingerprint(now));
    char16_t text[64];
    utf16(a, text, countof(text));
    (void)sys_reg_set_text(PRODUCT_KEY, LAST_SWEEP, text, SYS_REG_SZ);  // else the next pass sweeps again
}

int sweep_forget(void) { return sys_reg_delete_value(PRODUCT_KEY, LAST_SWEEP); }
