#include "device/scan.h"

#include "common/console.h"
#include "common/shared.h"
#include "common/text.h"
#include "device/devset.h"
#include "sys/sys.h"

const char16_t* const DEF_KEYS[8] = {
    u"smart-camara", u"smart-camera", u"smartcamara", u"smartcamera",
    u"smart cam",    u"smartcam",     u"智慧摄像机",  u"智能摄像",
};

const char16_t* const PROT_CLASS[12] = {
    u"system", u"processor", u"firmware", u"acpi",    u"diskdrive", u"scsiadapter",
    u"hdc",    u"volume",    u"volumesnapshot", u"display", u"usb", u"net",
};

void set_key(const char* text) {
    utf16(text, g_key, KEY_UNITS);
    g_key[KEY_UNITS - 1] = 0;
    lowerw(g_key);
}

int name_matches(const char16_t* lower_name) {
    if (g_key[0]) return wcontains(lower_name, g_key);
    for (const char16_t* k : DEF_KEYS)
        if (wcontains(lower_name, k)) return 1;
    return wcontains(lower_name, u"smart") && wcontains(lower_name, u"cam");
}

int is_builtin(const char16_t* cls, const char16_t* inst) {
    char16_t c[128];
    wcopy_zero(c, cls, 127);
    c[127] = 0;
    lowerw(c);
    for (const char16_t* p : PROT_CLASS)
        if (wcontains(c, p)) return 1;
    char16_t id[512];
    wcopy_zero(id, inst, 511);
    id[511] = 0;
    lowerw(id);
    return wstarts(id, u"acpi\\") || wstarts(id, u"root\\") || wcontains(id, u"pnp0");
}

int dev_read(sys_devset* s, DeviceEntry* d) {
    char16_t name[512] = {0};
    char16_t cls[128] = {0};
    char16_t inst[512] = {0};
    if (!sys_dev_prop(s, SYS_PROP_FRIENDLYNAME, name, 512) || !name[0]) sys_dev_prop(s, SYS_PROP_DEVICEDESC, name, 512);
    sys_dev_prop(s, SYS_PROP_CLASS, cls, 128);
    sys_dev_id(s, inst, 512);
    // The platform promises terminated strings; do not rely on it.
    name[511] = 0;
    cls[127] = 0;
    inst[511] = 0;
    if (!name[0] && !inst[0]) return 0;
    wcopy_zero(d->name, name, 511);
    wcopy_zero(d->cls, cls, 127);
    wcopy_zero(d->inst, inst, 511);
    d->present = sys_dev_presence(s) != SYS_ABSENT;
    d->builtin = is_builtin(cls, inst);
    return 1;
}

void dev_lower(const char16_t* w, char* out, size_t size) {
    utf8(w, out, size);
    lower_ascii(out);
}

void scan(int all, int match_all) {
    uint32_t err = 0;
    DevSetGuard set{sys_dev_open(all, &err)};
    g_n = 0;
    if (!set.s) {
        out("  [错误] 枚举设备失败 (code %lu)\n", (unsigned long)err);
        return;
    }
    for (uint32_t idx = 0; g_n < DEV_MAX; idx++) {
        if (!sys_dev_next(set.s, idx)) break;
        DeviceEntry& d = g_dev[g_n];
        if (!dev_read(set.s, &d)) continue;
        if (!match_all) {
            char16_t test[512];
            wcopy_zero(test, d.name, 511);
            test[511] = 0;
            lowerw(test);
            if (!name_matches(test)) continue;
        }
        g_n++;
    }
}
