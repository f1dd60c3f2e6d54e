// Holding the rules of policy that a refresh hides for a moment.
#include <cstdint>

#include "base/calendar.h"
#include "base/text.h"
#include "log/log.h"
#include "policy/policyread.h"
#include "policy/seen.h"
#include "sys/sys.h"

namespace {

// The rules kept at the last pass, and those of them held for this one:
// the table this module owns. A value's name may have 16,383 characters:
// too large for the stack.
PolicyRule g_held[POLICY_RULES_MAX];
uint8_t g_marked[POLICY_RULES_MAX];  // held at the last pass: it vanished then
char16_t g_name[16384];
// A kept rule's value holds "" while the rule is in force, HELD while it
// is held for a pass after it vanished.
const char16_t HELD[] = u"held";

// "<list>\<id>", the name of a held rule's value.
void held_name(const PolicyRule& r, char16_t* out, size_t units) {
    char16_t id[sizeof(PolicyRule::id)];
    utf16(r.id, id, countof(id));
    out[0] = 0;
    wcat(out, units, POLICY_LIST[policy_list_of(r)].key);
    wcat(out, units, u"\\");
    wcat(out, units, id);
}

// The rules kept at the last pass, into g_held; -1 when they cannot be read.
int read_kept(void) {
    int n = 0;
    for (uint32_t i = 0;; i++) {
        sys_reg_type type;
        char16_t data[8];
        sys_reg r = sys_reg_value_at(SEEN_KEY, i, g_name, countof(g_name), &type, data, countof(data));
        if (r == SYS_REG_MISSING) return n;
        if (r == SYS_REG_FAILED) return -1;
        for (int l = 0; l < POLICY_LISTS && n < POLICY_RULES_MAX; l++) {
            size_t k = wlen(POLICY_LIST[l].key);
            if (!wistarts(g_name, POLICY_LIST[l].key) || g_name[k] != u'\\') continue;
            g_marked[n] = type == SYS_REG_SZ && wicmp(data, HELD) == 0;
            PolicyRule& h = g_held[n++];
            h.kind = POLICY_LIST[l].kind;
            h.approves = POLICY_LIST[l].approves;
            h.until = INT64_MAX;
            utf8(g_name + k + 1, h.id, sizeof h.id);
            break;
        }
    }
}

// A rule's coming and going, each said once: when its value under
// PolicySeen is written, and when it is deleted.
void say_life(const PolicyRule& r, int coming, const char* why) {
    char list[64];
    utf8(POLICY_LIST[policy_list_of(r)].key, list, sizeof list);
    if (!coming) {
        logline(EV_POLICY_RULE_GONE, "策略规则撤下 | %s | %s | %s", list, r.id, why);
        return;
    }
    char last[16] = "none";
    if (r.until != INT64_MAX) {
        int c[6];
        utc_calendar(r.until - 1, c);  // in force through its last day
        fmt(last, sizeof last, "%04d-%02d-%02d", c[0], c[1], c[2]);
    }
    logline(EV_POLICY_RULE_NEW, "策略规则生效 | %s | %s | %s", list, r.id, last);
}

int same(const PolicyRule& a, const PolicyRule& b) {
    return a.kind == b.kind && a.approves == b.approves && ieq_ascii(a.id, b.id);
}

int in_table(const PolicyRead& read, const PolicyRule& h) {
    for (int i = 0; i < read.n; i++)
        if (same(read.rules[i], h)) return 1;
    return 0;
}

int expired(const PolicyRead& read, uint64_t hash) {
    for (int i = 0; i < read.nexpired; i++)
        if (read.expired[i] == hash) return 1;
    return 0;
}

}  // namespace

PolicyHeld policy_hold(const PolicyRead& read) {
    int nheld = 0;
    uint64_t sum = 0;
    for (int i = 0; i < read.n; i++) sum += policy_rule_hash(policy_list_of(read.rules[i]), read.rules[i].id);
    char16_t now[48];
    seen_sum_text(read.n, sum, now, countof(now));
    if (seen_is(SEEN_RULES, now, read.n == 0)) return PolicyHeld{g_held, 0};
    int nkept = read_kept();
    if (nkept < 0) return PolicyHeld{g_held, 0};  // nothing to compare with: the next pass tries again
    int ok = 1, keep_held = read.outcome == POLICY_UNREADABLE;
    int stored = read.n;
    static char16_t name[1024];  // "<list>\<id>": static, as g_name is
    for (int i = 0; i < read.n; i++) {
        int known = -1;
        for (int k = 0; k < nkept && known < 0; k++)
            if (same(g_held[k], read.rules[i])) known = k;
        if (known >= 0 && !g_marked[known]) continue;
        // New, or back after a refresh hid it for a pass: only a new one is said.
        held_name(read.rules[i], name, countof(name));
        int noted = sys_reg_set_text(SEEN_KEY, name, u"", SYS_REG_SZ);
        if (noted && known < 0) say_life(read.rules[i], 1, "");
        ok &= noted;
    }
    // Each kept rule is in the table, expired, or vanished: then held for
    // one pass, moved to the front, and marked; one that stays away is
    // withdrawn at the next (while the key cannot be read, none is).
    for (int i = 0; i < nkept; i++) {
        if (in_table(read, g_held[i])) continue;
        PolicyRule h = g_held[i];
        int marked = g_marked[i];
        uint64_t hash = policy_rule_hash(policy_list_of(h), h.id);
        int vanished = !expired(read, hash);
        int hold = vanished && (keep_held || !marked);
        if (hold) g_held[nheld++] = h;
        held_name(h, name, countof(name));
        if (hold && stored < POLICY_RULES_MAX) {
            if (!marked && !keep_held) ok &= sys_reg_set_text(SEEN_KEY, name, HELD, SYS_REG_SZ);
            sum += hash;
            stored++;
            continue;
        }
        int forgotten = sys_reg_delete_value(SEEN_KEY, name);
        if (forgotten) say_life(h, 0, vanished ? "已从策略删除" : "已到期");
        ok &= forgotten;
    }
    // Without every value in place the fingerprint would vouch for a set
    // that is not there: the next pass compares again.
    seen_sum_text(stored, sum, now, countof(now));
    if (ok && stored) sys_reg_set_text(SEEN_KEY, SEEN_RULES, now, SYS_REG_SZ);
    else sys_reg_delete_value(SEEN_KEY, SEEN_RULES);
    return PolicyHeld{g_held, nheld};
}
