// Holding the rules of policy that a refresh hides for a moment.
#include <cstdint>

#include "base/text.h"
#include "policy/policyread.h"
#include "policy/seen.h"
#include "sys/sys.h"

namespace {

// The rules kept at the last pass, and those of them held for this one:
// the table this module owns. A value's name may have 16,383 characters:
// too large for the stack.
PolicyRule g_held[POLICY_RULES_MAX];
char16_t g_name[16384];

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
        sys_reg r = sys_reg_value_at(SEEN_KEY, i, g_name, countof(g_name), &type, nullptr, 0);
        if (r == SYS_REG_MISSING) return n;
        if (r == SYS_REG_FAILED) return -1;
        for (int l = 0; l < POLICY_LISTS && n < POLICY_RULES_MAX; l++) {
            size_t k = wlen(POLICY_LIST[l].key);
            if (!wistarts(g_name, POLICY_LIST[l].key) || g_name[k] != u'\\') continue;
            PolicyRule& h = g_held[n++];
            h.kind = POLICY_LIST[l].kind;
            h.approves = POLICY_LIST[l].approves;
            h.until = INT64_MAX;
            utf8(g_name + k + 1, h.id, sizeof h.id);
            break;
        }
    }
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
        int known = 0;
        for (int k = 0; k < nkept && !known; k++) known = same(g_held[k], read.rules[i]);
        if (known) continue;
        held_name(read.rules[i], name, countof(name));
        ok &= sys_reg_set_text(SEEN_KEY, name, u"", SYS_REG_SZ);
    }
    // Each kept rule is in the table, expired, or vanished: then held,
    // moved to the front.
    for (int i = 0; i < nkept; i++) {
        if (in_table(read, g_held[i])) continue;
        PolicyRule h = g_held[i];
        uint64_t hash = policy_rule_hash(policy_list_of(h), h.id);
        int vanished = !expired(read, hash);
        if (vanished) g_held[nheld++] = h;
        if (vanished && keep_held && stored < POLICY_RULES_MAX) {
            sum += hash;
            stored++;
            continue;
        }
        held_name(h, name, countof(name));
        ok &= sys_reg_delete_value(SEEN_KEY, name);
    }
    // Without every value in place the fingerprint would vouch for a set
    // that is not there: the next pass compares again.
    seen_sum_text(stored, sum, now, countof(now));
    if (ok && stored) sys_reg_set_text(SEEN_KEY, SEEN_RULES, now, SYS_REG_SZ);
    else sys_reg_delete_value(SEEN_KEY, SEEN_RULES);
    return PolicyHeld{g_held, nheld};
}
