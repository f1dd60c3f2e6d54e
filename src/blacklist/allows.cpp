// Reading the administrator's allows.
#include "blacklist/allows.h"

#include "base/text.h"
#include "sys/sys.h"
#include "task/owner.h"

char g_allows[ALLOWS_MAX][601];
int g_nallows;

namespace {

// Value and key names from DeviceInstallation.admx.
const char16_t RESTRICTIONS[] = u"SOFTWARE\\Policies\\Microsoft\\Windows\\DeviceInstall\\Restrictions";
const char16_t LAYERED[] = u"AllowDenyLayered";
const char16_t ALLOW_ON[] = u"AllowInstanceIDs";
const char16_t ALLOW_LIST[] = u"SOFTWARE\\Policies\\Microsoft\\Windows\\DeviceInstall\\Restrictions\\AllowInstanceIDs";
// Under PRODUCT_KEY: the fingerprint of the allows last said.
const char16_t SAID[] = u"AdminAllowsSaid";

int on(const char16_t* name) {
    uint32_t v = 0;
    return sys_reg_dword(RESTRICTIONS, name, &v) == SYS_REG_OK && v == 1;
}

uint64_t fingerprint(void) {
    uint64_t h = 1469598103934665603ULL;
    for (int i = 0; i < g_nallows; i++) {
        for (const char* s = g_allows[i]; *s; s++) h = (h ^ (unsigned char)(*s | 0x20)) * 1099511628211ULL;
        h = (h ^ 0xFF) * 1099511628211ULL;
    }
    return h;
}

}  // namespace

void allows_load(void) {
    g_nallows = 0;
    if (!on(LAYERED) || !on(ALLOW_ON)) return;
    char16_t name[16], text[601];
    for (uint32_t i = 0; g_nallows < ALLOWS_MAX; i++) {
        sys_reg_type type;
        sys_reg r = sys_reg_value_at(ALLOW_LIST, i, name, countof(name), &type, text, countof(text));
        if (r == SYS_REG_MISSING) break;
        if (r != SYS_REG_OK || type != SYS_REG_SZ || !text[0]) continue;
        utf8(text, g_allows[g_nallows++], sizeof g_allows[0]);
    }
}

int allows_hold(const char* inst) {
    for (int i = 0; i < g_nallows; i++)
        if (ieq_ascii(g_allows[i], inst)) return 1;
    return 0;
}

int allows_say(log_event ev) {
    char now[32];
    char16_t now16[32], was[32];
    fmt(now, sizeof now, "%llu", (unsigned long long)fingerprint());
    utf16(now, now16, countof(now16));
    sys_reg got = sys_reg_text(PRODUCT_KEY, SAID, was, countof(was));
    if (got == SYS_REG_OK ? wicmp(was, now16) == 0 : got == SYS_REG_MISSING && g_nallows == 0) return 0;
    if (!sys_reg_set_text(PRODUCT_KEY, SAID, now16, SYS_REG_SZ)) return 0;  // said again next time
    for (int i = 0; i < g_nallows; i++) logline(ev, "管理员策略允许安装，按放行对待 | %s", g_allows[i]);
    return 1;
}

int allows_forget(void) { return sys_reg_delete_value(PRODUCT_KEY, SAID); }
