// Whether Windows' layered evaluation may spare an approved unit here, and
// the layered switch Quillfen turns on for it.
#include "block/layering.h"

#include "base/text.h"
#include "log/log.h"
#include "sys/sys.h"
#include "task/owner.h"

const char16_t LAYERED[] = u"AllowDenyLayered";
const char16_t LAYERED_MARK[] = u"LayeredEnabledByQuillfen";

namespace {

const char16_t VERSION_KEY[] = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
// The administrator's own settings that layering would outrank or change
// the meaning of (DeviceInstallation.admx).
const char16_t* const PREVENTIONS[] = {u"DenyUnspecified", u"DenyRemovableDevices", u"DenyDeviceClasses"};
const char16_t* const ALLOW_SWITCHES[] = {u"AllowDeviceIDs", u"AllowDeviceClasses"};

WindowsVersion g_version;
// What the check reads of the lists: its own, apart from a step's.
BlockRead g_check;

// A switch of the restrictions key: 1 when it holds DWORD `want` (1 or 0),
// 0 when not, absent or of another type (an administrator's, and no
// switch), -1 when it cannot be read.
int dword_is(const char16_t* name, uint32_t want) {
    switch_state s = read_switch_named(name);
    return s == SW_UNTOLD ? -1 : s == (want ? SW_ON : SW_OFF);
}

// A list key under the restrictions key holds a value: -1 when it cannot be read.
int key_holds_values(const char16_t* list) {
    char16_t key[160];
    key[0] = 0;
    wcat(key, countof(key), RESTRICTIONS_KEY);
    wcat(key, countof(key), u"\\");
    wcat(key, countof(key), list);
    return key_has_values(key);
}

// A list of ours holds values of no copy of Quillfen: -1 when it cannot be told.
int list_has_others(const RestrictList& L) {
    read_list(g_check, L);
    read_records(g_check, L);
    if (g_check.list_failed || g_check.rec_failed) return -1;
    return !list_is_ours(g_check);
}

// The administrator's own allows: their switches or values, and values of
// the instance-id allow list that no copy wrote.
int admin_allows(void) {
    for (const char16_t* name : ALLOW_SWITCHES) {
        int on = dword_is(name, 1), values = key_holds_values(name);
        if (on < 0 || values < 0) return -1;
        if (on || values) return 1;
    }
    return list_has_others(LISTS[BLOCK_ALLOW_IDS]);
}

}  // namespace

const WindowsVersion& windows_version(void) {
    if (g_version.read) return g_version;
    char16_t build[32], edition[64];
    char a[96];
    uint32_t ubr = 0;
    sys_reg b = sys_reg_text(VERSION_KEY, u"CurrentBuildNumber", build, countof(build));
    sys_reg e = sys_reg_text(VERSION_KEY, u"EditionID", edition, countof(edition));
    sys_reg u = sys_reg_dword(VERSION_KEY, u"UBR", &ubr);
    if (b == SYS_REG_FAILED || e == SYS_REG_FAILED || u == SYS_REG_FAILED) return g_version;
    g_version = WindowsVersion{1, 0, u == SYS_REG_OK ? ubr : 0, 1};
    if (b != SYS_REG_OK || e != SYS_REG_OK || !edition[0]) return g_version;
    utf8(build, a, sizeof a);
    g_version.build = parse_int(a, 0, INT64_MAX);
    // The Home editions' ids start with "Core" (Core, CoreN, CoreSingleLanguage...).
    g_version.home = wstarts(edition, u"Core");
    return g_version;
}

int layering_build_ok(int64_t build, int64_t ubr) {
    if (build >= 22000) return 1;
    if (build >= 19041 && build <= 19045) return ubr >= 1151;  // 2004 and its enablement packages
    switch (build) {
    case 17763: return ubr >= 2145;
    case 18362: return ubr >= 1714;
    case 20348: return ubr >= 256;
    default: return 0;  // 1909 (18363) among them: the page does not list it
    }
}

layering_state block_layering(void) {
    const WindowsVersion& v = windows_version();
    if (!v.read) return LAYERING_UNTOLD;
    if (v.home || !layering_build_ok(v.build, v.ubr)) return LAYERING_UNSUPPORTED;
    // An allow of ours would outrank each of these: the administrator's
    // intent is never overruled, even where they turned layering on.
    for (const char16_t* name : PREVENTIONS) {
        int on = dword_is(name, 1);
        if (on) return on < 0 ? LAYERING_UNTOLD : LAYERING_PREVENTIONS;
    }
    int others = list_has_others(LISTS[BLOCK_DEVICE_IDS]);
    if (others) return others < 0 ? LAYERING_UNTOLD : LAYERING_PREVENTIONS;
    int list_off = dword_is(LISTS[BLOCK_ALLOW_IDS].switch_name, 0);
    if (list_off) return list_off < 0 ? LAYERING_UNTOLD : LAYERING_OFF;
    uint32_t layered = 0, ours = 0;
    sys_reg r = sys_reg_dword(RESTRICTIONS_KEY, LAYERED, &layered);
    if (r == SYS_REG_FAILED) return LAYERING_UNTOLD;
    int mine = sys_reg_dword(PRODUCT_KEY, LAYERED_MARK, &ours) == SYS_REG_OK && ours == 1;
    if (r == SYS_REG_OK && layered != 1) return LAYERING_OFF;  // the administrator's choice, never changed
    // Layering the administrator turned on is theirs to have chosen; ours
    // would change what their allows mean.
    if (r == SYS_REG_OK && !mine) return LAYERING_USABLE;
    int allows = admin_allows();
    if (allows) return allows < 0 ? LAYERING_UNTOLD : LAYERING_ADMIN_ALLOWS;
    return LAYERING_USABLE;
}

int layering_switch_on(void) {
    uint32_t v = 0;
    sys_reg r = sys_reg_dword(RESTRICTIONS_KEY, LAYERED, &v);
    if (r == SYS_REG_OK) return v == 1 ? 1 : 0;
    if (r == SYS_REG_FAILED) return -1;
    // Our mark first: a switch we set but did not mark would stay on for
    // good, taken for an administrator's.
    if (!sys_reg_set_dword(PRODUCT_KEY, LAYERED_MARK, 1)) return -1;
    if (!sys_reg_set_dword(RESTRICTIONS_KEY, LAYERED, 1)) {
        (void)sys_reg_delete_value(PRODUCT_KEY, LAYERED_MARK);
        return -1;
    }
    logline(EV_LAYERING_ON, "已开启分层评估（允许与禁止安装策略）");
    return 1;
}

int layering_switch_settle(BlockRead& br) {
    uint32_t ours = 0;
    sys_reg r = sys_reg_dword(PRODUCT_KEY, LAYERED_MARK, &ours);
    if (r == SYS_REG_MISSING) return 1;
    if (r == SYS_REG_FAILED) return 0;
    if (br.rec_failed) return 0;
    if (records_left(br) > 0 && ours == 1) return 1;
    uint32_t v = 0;
    sys_reg s = sys_reg_dword(RESTRICTIONS_KEY, LAYERED, &v);
    if (s == SYS_REG_FAILED) return 0;
    if (s == SYS_REG_OK && v == 1 && ours == 1) {
        if (!sys_reg_delete_value(RESTRICTIONS_KEY, LAYERED)) return 0;
        logline(EV_LAYERING_OFF, "已撤下分层评估开关");
    }
    return sys_reg_delete_value(PRODUCT_KEY, LAYERED_MARK);
}

int layering_set_by_us(void) {
    uint32_t ours = 0, v = 0;
    return sys_reg_dword(PRODUCT_KEY, LAYERED_MARK, &ours) == SYS_REG_OK && ours == 1 &&
           sys_reg_dword(RESTRICTIONS_KEY, LAYERED, &v) == SYS_REG_OK && v == 1;
}
