// Reading the administrator's allows.
#include "policy/allows.h"

#include "base/text.h"
#include "block/layering.h"
#include "block/registry.h"
#include "policy/seen.h"
#include "sys/sys.h"
#include "task/owner.h"

namespace {

// The allows read: the table this module owns.
AdminAllow g_allows[ALLOWS_MAX];

// Under PRODUCT_KEY: the fingerprint of the allows last said.
const char16_t SAID[] = u"AdminAllowsSaid";

int on(const char16_t* name) {
    uint32_t v = 0;
    return sys_reg_dword(RESTRICTIONS_KEY, name, &v) == SYS_REG_OK && v == 1;
}

// The allows as a set in their order, letter case aside.
uint64_t fingerprint(const RuleBook& b) {
    uint64_t h = FNV_START;
    for (int i = 0; i < b.nallows; i++) h = fnv_step(fnv_folded(h, b.allows[i].inst), 0xFF);
    return h;
}

// A value some copy of Quillfen wrote for an approved unit: its record
// under our key names the same id.
int ours(const char16_t* name, const char16_t* text) {
    static char16_t record[INST_UNITS + PATH_UNITS + 4], id[INST_UNITS], path[PATH_UNITS];
    int unsure;
    const RestrictList& L = LISTS[BLOCK_ALLOW_IDS];
    return sys_reg_text(L.records, name, record, countof(record)) == SYS_REG_OK &&
           block_record_parse(record, id, path, countof(path), &unsure) && wicmp(id, text) == 0;
}

}  // namespace

AdminAllows allows_load(void) {
    int n = 0;
    const RestrictList& L = LISTS[BLOCK_ALLOW_IDS];
    if (!on(LAYERED) || !on(L.switch_name)) return AdminAllows{g_allows, 0};
    // Windows honours them only where it has layered evaluation.
    const WindowsVersion& v = windows_version();
    if (!v.read || v.home || !layering_build_ok(v.build, v.ubr)) return AdminAllows{g_allows, 0};
    char16_t name[16], text[601];
    for (uint32_t i = 0; n < ALLOWS_MAX; i++) {
        sys_reg_type type;
        sys_reg r = sys_reg_value_at(L.key, i, name, countof(name), &type, text, countof(text));
        if (r == SYS_REG_MISSING) break;
        if (r != SYS_REG_OK || type != SYS_REG_SZ || !text[0] || ours(name, text)) continue;
        utf8(text, g_allows[n++].inst, sizeof g_allows[0].inst);
    }
    return AdminAllows{g_allows, n};
}

int allows_say(const RuleBook& b, log_event ev) {
    char now[32];
    char16_t now16[32];
    fmt(now, sizeof now, "%llu", (unsigned long long)fingerprint(b));
    utf16(now, now16, countof(now16));
    if (!seen_changed(PRODUCT_KEY, SAID, now16, b.nallows == 0)) return 0;
    for (int i = 0; i < b.nallows; i++) logline(ev, "管理员策略允许安装，按放行对待 | %s", b.allows[i].inst);
    return 1;
}

int allows_forget(void) { return sys_reg_delete_value(PRODUCT_KEY, SAID); }
