// Reading devices, the keyword test and the built-in classification.
#include "device/scan.h"

#include "base/text.h"
#include "device/devset.h"
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

int dev_read(sys_devset* s, DeviceEntry* d) {
    char16_t name[NAME_UNITS] = {0};
    char16_t cls[CLASS_UNITS] = {0};
    char16_t inst[INST_UNITS] = {0};
    // A missing property or id leaves an empty text; the member still counts.
    if (!sys_dev_prop(s, SYS_PROP_FRIENDLYNAME, name, countof(name)) || !name[0])
        if (!sys_dev_prop(s, SYS_PROP_DEVICEDESC, name, countof(name))) name[0] = 0;
    if (!sys_dev_prop(s, SYS_PROP_CLASS, cls, countof(cls))) cls[0] = 0;
    if (!sys_dev_id(s, inst, countof(inst))) inst[0] = 0;
    if (!name[0] && !inst[0]) return 0;
    // The field's last unit is never written: it stays the terminator.
    wcopy_zero(d->name, name, countof(d->name) - 1);
    wcopy_zero(d->cls, cls, countof(d->cls) - 1);
    wcopy_zero(d->inst, inst, countof(d->inst) - 1);
    d->present = sys_dev_presence(s) != SYS_ABSENT;
    d->builtin = is_builtin(cls, inst);
    return 1;
}

void dev_lower(const char16_t* w, char* out, size_t size) {
    utf8(w, out, size);
    lower_ascii(out);
}

int scan(int all, int match_all, uint32_t* err) {
    *err = 0;
    DevSetGuard set{sys_dev_open(all, err)};
    g_n = 0;
    if (!set.s) return 0;
    for (uint32_t idx = 0; g_n < DEV_MAX; idx++) {
        if (!sys_dev_next(set.s, idx)) break;
        DeviceEntry& d = g_dev[g_n];
        if (!dev_read(set.s, &d)) continue;
        if (!match_all) {
            char16_t test[NAME_UNITS];
            wcopy_zero(test, d.name, countof(test) - 1);
            test[countof(test) - 1] = 0;
            lowerw(test);
            if (!name_matches(test)) continue;
        }
        g_n++;
    }
    return 1;
}
