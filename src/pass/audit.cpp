// What the audit mode says, and when.
#include "pass/audit.h"

#include "base/text.h"
#include "sys/sys.h"

namespace {

// Under PRODUCT_KEY: "Day", the UTC day of what is kept, and one value per
// device and rule said that day, named by their fingerprint. A new day
// empties the key, so that it never holds more than one day's devices.
const char16_t SAID_KEY[] = u"SOFTWARE\\Quillfen\\AuditSaid";
const char16_t DAY[] = u"Day";

uint64_t fingerprint(const char* inst, const char* rule) { return fnv_text(fnv_step(fnv_text(FNV_START, inst), 0xFF), rule); }

// Under PRODUCT_KEY: "Day", and one value per device and rule reached that
// day, named by their fingerprint, holding the rule's key in decimal.
const char16_t REACHED_KEY[] = u"SOFTWARE\\Quillfen\\ReachedToday";

// A key dated today, emptied first when it holds another day's; 0 when it
// cannot be dated.
int today(const char16_t* key, uint32_t day) {
    uint32_t kept = 0;
    if (sys_reg_dword(key, DAY, &kept) == SYS_REG_OK && kept == day) return 1;
    (void)sys_reg_delete_key(key);
    return sys_reg_set_dword(key, DAY, day);
}

uint32_t utc_day(int64_t now) { return (uint32_t)(now / 86400); }

// The rule that reached a device, as the log words it: its kind, its id or
// name, and (策略) when policy's; into out.
void rule_text(const RuleBook& b, const Reached& h, char* out, size_t size) {
    const char* kind = h.how == BL_BY_ID ? "设备" : h.how == BL_BY_NAME ? "名字" : "型号";
    fmt(out, size, "%s %s%s", kind, book_rule_id(b, h.rule, h.how), h.source == SOURCE_POLICY ? "（策略）" : "");
}

// Today's values as last loaded: the rule key of each.
constexpr int REACHED_KEPT = 1024;
uint64_t g_reached_keys[REACHED_KEPT];
int g_nreached_keys;

}  // namespace

int audit_on(const RuleBook& b) { return b.mode == POLICY_AUDIT; }

int audit_say(const RuleBook& b, const Reached* t, int n, int64_t now, log_event ev) {
    if (n == 0) return 0;
    uint32_t day = utc_day(now);
    // Yesterday's are forgotten; a key that cannot be emptied or dated
    // leaves each device said at every pass, never unsaid.
    (void)today(SAID_KEY, day);
    int said = 0;
    for (int i = 0; i < n; i++) {
        const Reached& h = t[i];
        char inst[DEV_TEXT_BYTES], rule[DEV_TEXT_BYTES + 32], name[24];
        char16_t name16[24];
        dev_lower(h.inst, inst, sizeof inst);
        rule_text(b, h, rule, sizeof rule);
        fmt(name, sizeof name, "%llu", (unsigned long long)fingerprint(inst, rule));
        utf16(name, name16, countof(name16));
        uint32_t v;
        if (sys_reg_dword(SAID_KEY, name16, &v) == SYS_REG_OK && v == day) continue;
        logline(ev, "审核模式：本应删除 | %s | %s | %s", h.lower_name, inst, rule);
        (void)sys_reg_set_dword(SAID_KEY, name16, day);
        reached_note(b, h, now);
        said++;
    }
    return said;
}

void reached_note(const RuleBook& b, const Reached& h, int64_t now) {
    uint64_t key = book_rule_key(b, h.rule);
    if (!key || !today(REACHED_KEY, utc_day(now))) return;  // a count short, never a removal undone
    char inst[DEV_TEXT_BYTES], name[24], data[24];
    char16_t name16[24], data16[24];
    dev_lower(h.inst, inst, sizeof inst);
    fmt(data, sizeof data, "%llu", (unsigned long long)key);
    fmt(name, sizeof name, "%llu", (unsigned long long)fingerprint(inst, data));
    utf16(name, name16, countof(name16));
    utf16(data, data16, countof(data16));
    (void)sys_reg_set_text(REACHED_KEY, name16, data16, SYS_REG_SZ);
}

void reached_load(int64_t now) {
    g_nreached_keys = 0;
    uint32_t kept = 0;
    if (sys_reg_dword(REACHED_KEY, DAY, &kept) != SYS_REG_OK || kept != utc_day(now)) return;
    char16_t name[64], data[24];
    char a[24];
    sys_reg_type type;
    for (uint32_t i = 0; g_nreached_keys < REACHED_KEPT; i++) {
        sys_reg r = sys_reg_value_at(REACHED_KEY, i, name, countof(name), &type, data, countof(data));
        if (r == SYS_REG_MISSING) break;
        if (r != SYS_REG_OK || type != SYS_REG_SZ) continue;
        utf8(data, a, sizeof a);
        g_reached_keys[g_nreached_keys++] = (uint64_t)parse_int(a, 0, INT64_MAX);
    }
}

int reached_today(uint64_t key) {
    int n = 0;
    for (int i = 0; i < g_nreached_keys; i++) n += g_reached_keys[i] == key;
    return n;
}

int audit_forget(void) {
    int reached = sys_reg_delete_key(REACHED_KEY);
    return sys_reg_delete_key(SAID_KEY) && reached;
}
