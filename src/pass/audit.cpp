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

}  // namespace

int audit_on(const RuleBook& b) { return b.mode == POLICY_AUDIT; }

void audit_rule_text(const RuleBook& b, const Reached& h, char* out, size_t size) {
    const char* kind = h.how == BL_BY_ID ? "设备" : h.how == BL_BY_NAME ? "名字" : "型号";
    fmt(out, size, "%s %s%s", kind, book_rule_id(b, h.rule, h.how), h.source == SOURCE_POLICY ? "（策略）" : "");
}

int audit_say(const RuleBook& b, const Reached* t, int n, int64_t now, log_event ev) {
    if (n == 0) return 0;
    uint32_t day = (uint32_t)(now / 86400), kept = 0;
    if (sys_reg_dword(SAID_KEY, DAY, &kept) != SYS_REG_OK || kept != day) {
        // Yesterday's are forgotten; a key that cannot be emptied or dated
        // leaves each device said at every pass, never unsaid.
        (void)sys_reg_delete_key(SAID_KEY);
        (void)sys_reg_set_dword(SAID_KEY, DAY, day);
    }
    int said = 0;
    for (int i = 0; i < n; i++) {
        const Reached& h = t[i];
        char inst[DEV_TEXT_BYTES], rule[DEV_TEXT_BYTES + 32], name[24];
        char16_t name16[24];
        dev_lower(h.inst, inst, sizeof inst);
        audit_rule_text(b, h, rule, sizeof rule);
        fmt(name, sizeof name, "%llu", (unsigned long long)fingerprint(inst, rule));
        utf16(name, name16, countof(name16));
        uint32_t v;
        if (sys_reg_dword(SAID_KEY, name16, &v) == SYS_REG_OK && v == day) continue;
        logline(ev, "审核模式：本应删除 | %s | %s | %s", h.lower_name, inst, rule);
        (void)sys_reg_set_dword(SAID_KEY, name16, day);
        said++;
    }
    return said;
}

int audit_forget(void) { return sys_reg_delete_key(SAID_KEY); }
