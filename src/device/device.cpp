// The built-in/system classification, and device texts as compared.
#include "device/device.h"

#include "base/text.h"

const char16_t* const PROT_CLASS[12] = {
    u"system", u"processor", u"firmware", u"acpi",    u"diskdrive", u"scsiadapter",
    u"hdc",    u"volume",    u"volumesnapshot", u"display", u"usb", u"net",
};

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

void dev_lower(const char16_t* w, char* out, size_t size) {
    utf8(w, out, size);
    lower_ascii(out);
}
