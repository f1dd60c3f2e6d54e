// Reading devices, the keyword test and the built-in classification.
#include "device/scan.h"

#include "base/text.h"
#include "device/walk.h"
#include "sys/sys.h"

DeviceEntry g_dev[DEV_MAX];
int g_n;
char16_t g_key[KEY_UNITS];

const char16_t* const DEF_KEYS[8] = {
    u"smart-camara", u"smart-camera", u"smartcamara", u"smartcamera",
    u"smart cam",    u"smartcam",     u"智慧摄像机",  u"智能摄像",
};

const char16_t* const PROT_CLASS[12] = {
    u"system", u"processor", u"firmware", u"acpi",    u"diskdrive", u"scsiadapter",
    u"hdc",    u"volume",    u"volumesnapshot", u"display", u"usb", u"net",
};

void set_key(const char* text) {
    utf16(text, g_key, countof(g_key));
    g_key[countof(g_key) - 1] = 0;
    lowerw(g_key);
}

int name_matches(const char16_t* lower_name) {
    if (g_key[0]) return wcontains(lower_name, g_key);
    for (const char16_t* k : DEF_KEYS)
        if (wcontains(lower_name, k)) return 1;
    return wcontains(lower_name, u"smart") && wcontains(lower_name, u"cam");
}

int is_builtin(const char16_t* cls, const char16_t* inst) {
    char16_t c[CLASS_UNITS];
    wcopy_zero(c, cls, countof(c) - 1);
    c[countof(c) - 1] = 0;
    lowerw(c);
    for (const char16_t* p : PROT_CLASS)
        if (wcontains(c, p)) return 1;
    char16_t id[INST_UNITS];
    wcopy_zero(id, inst, countof(id) - 1);
    id[countof(id) - 1] = 0;
    lowerw(id);
    return wstarts(id, u"acpi\\") || wstarts(id, u"root\\") || wcontains(id, u"pnp0");
}

namespace {

// The device the scan is looking at: static, as it is 5 KB.
WalkedDevice g_seen;

}  // namespace

int scan(int all, int match_all, uint32_t* err) {
    *err = 0;
    g_n = 0;
    DevWalk w;
    if (!dev_walk_open(&w, all, 0)) {
        *err = w.err;
        return 0;
    }
    while (g_n < DEV_MAX && dev_walk_next(&w, &g_seen)) {
        if (!match_all) {
            char16_t test[NAME_UNITS];
            wcopy_zero(test, g_seen.d.name, countof(test) - 1);
            test[countof(test) - 1] = 0;
            lowerw(test);
            if (!name_matches(test)) continue;
        }
        g_dev[g_n++] = g_seen.d;
    }
    dev_walk_close(&w);
    return 1;
}
