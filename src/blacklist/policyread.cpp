// Reading the policy key's values into rules.
#include "blacklist/policyread.h"

#include <climits>
#include <cstring>

#include "base/calendar.h"
#include "base/text.h"
#include "blacklist/entry.h"
#include "blacklist/rulefile.h"
#include "blacklist/rules.h"
#include "blacklist/tsv.h"
#include "sys/sys.h"

PolicyRule g_policy[POLICY_RULES_MAX];
int g_npolicy;
PolicyError g_policy_errors[POLICY_ERRORS_KEPT];
int g_npolicy_errors;

namespace {

const char* const REASON_TEXT[POLICY_REASONS] = {
    "类型不是 REG_SZ",
    "数据不是 YYYY-MM-DD 日期，也不是 none",
    "不是可用的实例 ID 或硬件 ID",
    "名称不足 3 个字符",
    "名称含控制字符",
    "超过可保存的长度",
    "超过每个列表 128 条的上限",
    "不是 Enforce 或 Audit",
};
static_assert(POLICY_LIST_MAX == 128, "REASON_TEXT states the limit");

constexpr size_t ID_CHARS = sizeof(Rule::id) - 1;
constexpr size_t NAME_BYTES = sizeof(BlacklistEntry::name);

// What the last policy_load found, for the pass and the screens to ask.
policy_outcome g_outcome;
policy_mode g_mode;
// A value's name may have 16,383 characters: too large for the stack.
char16_t g_name[16384];

void list_key(int list, char16_t* key, size_t units) {
    key[0] = 0;
    wcat(key, units, POLICY_KEY);
    wcat(key, units, u"\\");
    wcat(key, units, POLICY_LIST[list].key);
}

void add_error(int list, policy_reason why, const char16_t* name) {
    if (g_npolicy_errors < POLICY_ERRORS_KEPT) {
        PolicyError& e = g_policy_errors[g_npolicy_errors];
        e.list = list;
        e.reason = why;
        utf8(name, e.name, sizeof e.name);
    }
    g_npolicy_errors++;
}

// A real day written YYYY-MM-DD: *until gets the second its next day begins.
int day_end(const char16_t* t, int64_t* until) {
    if (wlen(t) != 10 || t[4] != u'-' || t[7] != u'-') return 0;
    int v[3] = {0, 0, 0};
    const int at[3] = {0, 5, 8}, len[3] = {4, 2, 2};
    for (int k = 0; k < 3; k++)
        for (int i = 0; i < len[k]; i++) {
            char16_t c = t[at[k] + i];
            if (c < u'0' || c > u'9') return 0;
            v[k] = v[k] * 10 + (c - u'0');
        }
    int64_t days = utc_days(v[0], v[1], v[2]);
    int back[6];
    utc_calendar(days * 86400, back);
    if (back[0] != v[0] || back[1] != v[1] || back[2] != v[2]) return 0;
    *until = (days + 1) * 86400;
    return 1;
}

// The value g_name of list `list` as a rule in *r; -1, or why it is none.
int check(int list, sys_reg_type type, const char16_t* data, PolicyRule* r) {
    if (type != SYS_REG_SZ) return POLICY_BAD_TYPE;
    const PolicyList& L = POLICY_LIST[list];
    // Room to tell a name one byte too long from one that fits.
    char text[NAME_BYTES + 4];
    size_t n = utf8(g_name, text, sizeof text);
    if (L.kind == POLICY_NAME ? n >= NAME_BYTES : wlen(g_name) > ID_CHARS) return POLICY_TOO_LONG;
    if (L.kind == POLICY_NAME) {
        if (!bl_storable(text, NAME_BYTES)) return POLICY_CONTROL;
        if (rule_chars(text) < MIN_CHARS) return POLICY_SHORT;
        lower_ascii(text);
    } else if (!(L.kind == POLICY_MODEL ? rule_model_ok(text) : rule_instance_ok(text))) {
        return POLICY_BAD_ID;
    }
    if (wicmp(data, POLICY_WHILE_STANDS) == 0) r->until = INT64_MAX;
    else if (!day_end(data, &r->until)) return POLICY_BAD_DATE;
    r->kind = L.kind;
    r->approves = L.approves;
    scopy(r->id, sizeof r->id, text);
    return -1;
}

void read_list(int list, int64_t now) {
    char16_t key[64];
    list_key(list, key, countof(key));
    int good = 0;
    for (uint32_t i = 0;; i++) {
        sys_reg_type type;
        char16_t data[16];  // a date or "none"; longer data reads as empty: no date
        sys_reg r = sys_reg_value_at(key, i, g_name, countof(g_name), &type, data, countof(data));
        if (r == SYS_REG_MISSING) return;
        if (r == SYS_REG_FAILED) {
            g_outcome = POLICY_UNREADABLE;
            return;
        }
        PolicyRule rule;
        int why = check(list, type, data, &rule);
        if (why < 0 && good == POLICY_LIST_MAX) why = POLICY_TOO_MANY;
        if (why >= 0) {
            add_error(list, (policy_reason)why, g_name);
            continue;
        }
        good++;  // room below: each list adds at most POLICY_LIST_MAX
        if (rule.until > now) g_policy[g_npolicy++] = rule;
    }
}

void read_mode(void) {
    sys_reg_type type;
    sys_reg r = sys_reg_kind(POLICY_KEY, POLICY_MODE, &type);
    if (r == SYS_REG_MISSING) return;
    if (r == SYS_REG_FAILED) {
        g_outcome = POLICY_UNREADABLE;
        return;
    }
    char16_t text[16];
    if (type == SYS_REG_SZ && sys_reg_text(POLICY_KEY, POLICY_MODE, text, countof(text)) == SYS_REG_OK)
        for (int m = 0; m < POLICY_MODE_COUNT; m++)
            if (wicmp(text, POLICY_MODES[m]) == 0) {
                g_mode = (policy_mode)m;
                return;
            }
    add_error(-1, POLICY_BAD_MODE, POLICY_MODE);
}

}  // namespace

policy_outcome policy_load(int64_t now) {
    g_npolicy = g_npolicy_errors = 0;
    g_mode = POLICY_ENFORCE;
    uint64_t t;
    sys_reg r = sys_reg_key_time(POLICY_KEY, &t);
    if (r == SYS_REG_MISSING) return g_outcome = POLICY_NONE;
    g_outcome = r == SYS_REG_OK ? POLICY_READ : POLICY_UNREADABLE;
    read_mode();
    for (int l = 0; l < POLICY_LISTS; l++) read_list(l, now);
    return g_outcome;
}

policy_outcome policy_outcome_last(void) { return g_outcome; }

policy_mode policy_mode_last(void) { return g_mode; }

const char* policy_reason_text(policy_reason r) { return r >= 0 && r < POLICY_REASONS ? REASON_TEXT[r] : ""; }
