// Choosing the model id from a device's hardware ids.
#include "device/model.h"

#include "base/text.h"

namespace {

// Whether the '&'-separated part list after the bus holds a part that
// starts with `tag` (letter case aside), and it has more after the tag.
int has_part(const char16_t* parts, const char16_t* tag) {
    size_t tl = wlen(tag);
    for (const char16_t* p = parts; *p;) {
        size_t i = 0;
        while (i < tl && p[i] && (p[i] == tag[i] || (p[i] >= u'a' && p[i] <= u'z' && p[i] - 32 == tag[i]))) i++;
        if (i == tl && p[tl] && p[tl] != u'&') return 1;
        while (*p && *p != u'&') p++;
        if (*p) p++;
    }
    return 0;
}

}  // namespace

namespace {

// The position (from 0) of the first part that starts with `tag` and has a
// value after it; -1 when none.
int part_at(const char16_t* parts, const char16_t* tag) {
    int k = 0;
    for (const char16_t* p = parts; *p; k++) {
        if (wistarts(p, tag) && p[wlen(tag)] && p[wlen(tag)] != u'&') return k;
        while (*p && *p != u'&') p++;
        if (*p) p++;
    }
    return -1;
}

}  // namespace

model_fault model_id_fault(const char16_t* id) {
    for (const char16_t* p = id; *p; p++) {
        if (*p < 0x20) return MODEL_ID_CONTROL;  // a device picks its own ids: none of ours holds a line break
        if (*p == u';') return MODEL_ID_SEVERAL;
    }
    const char16_t* parts = id;
    while (*parts && *parts != u'\\') parts++;
    if (!*parts || parts == id) return MODEL_ID_NO_VENDOR;
    parts++;
    for (const char16_t* p = parts; *p; p++)
        if (*p == u'\\') return MODEL_ID_INSTANCE;
    // Every part holds something, and a tag its value.
    for (const char16_t* p = parts;; p++) {
        const char16_t* end = p;
        while (*end && *end != u'&') end++;
        if (end == p || end[-1] == u'_') return MODEL_ID_EMPTY_PART;
        if (!*end) break;
        p = end;
    }
    if (has_part(parts, u"REV_")) return MODEL_ID_REVISION;
    int vid = part_at(parts, u"VID_"), pid = part_at(parts, u"PID_");
    int ven = part_at(parts, u"VEN_"), dev = part_at(parts, u"DEV_");
    if ((vid >= 0 && pid >= 0 && pid < vid) || (ven >= 0 && dev >= 0 && dev < ven)) return MODEL_ID_ORDER;
    if (vid >= 0 && pid >= 0) return MODEL_ID_OK;
    // The ACPI driver builds ACPI\VEN_v&DEV_d as well as its compact ids.
    int acpi = parts - id == 5 && wistarts(id, u"ACPI\\");
    if (ven >= 0 && dev >= 0 && (acpi || has_part(parts, u"SUBSYS_"))) return MODEL_ID_OK;
    return MODEL_ID_NO_VENDOR;
}

int names_a_model(const char16_t* id) { return model_id_fault(id) == MODEL_ID_OK; }

int ids_hold(const char16_t* ids, const char16_t* id) {
    for (const char16_t* p = ids; *p; p += wlen(p) + 1)
        if (wicmp(p, id) == 0) return 1;
    return 0;
}

int model_parent_id(const char16_t* model, char16_t* out, size_t units) {
    if (units) out[0] = 0;
    if (!wistarts(model, u"USB\\")) return 0;
    // The last '&' part must be MI_ and a number: the interface.
    size_t n = wlen(model), amp = n;
    while (amp > 4 && model[amp - 1] != u'&') amp--;
    if (amp <= 4 || n - amp < 4 || !wistarts(model + amp, u"MI_")) return 0;
    size_t cut = amp - 1;
    if (cut + 1 > units) return 0;
    for (size_t i = 0; i < cut; i++) out[i] = model[i];
    out[cut] = 0;
    return names_a_model(out);
}

int composite_parent(const char16_t* hardware, const char16_t* compatible) {
    if (!ids_hold(compatible, u"USB\\COMPOSITE") || ids_hold(compatible, u"USB\\Class_09") ||
        ids_hold(compatible, u"USB\\DevClass_09"))
        return 0;
    for (const char16_t* p = hardware; *p; p += wlen(p) + 1)
        if (wistarts(p, u"USB\\ROOT_HUB") || wicmp(p, u"USB\\USB20_HUB") == 0) return 0;
    return 1;
}

int model_prefix(const char16_t* model, char16_t* out, size_t units) {
    size_t n = 0;
    while (model[n] && model[n] != u'\\') n++;
    if (!model[n]) return 0;
    n++;
    while (model[n] && model[n] != u'&') n++;
    if (!model[n] || n + 2 > units) return 0;
    for (size_t i = 0; i <= n; i++) out[i] = model[i];
    out[n + 1] = 0;
    return 1;
}

int model_product_prefix(const char16_t* model, char16_t* out, size_t units) {
    if (!model_prefix(model, out, units)) return 0;
    size_t n = wlen(out);
    const char16_t* part = model + n;
    if (!wistarts(part, u"PID_") && !wistarts(part, u"DEV_")) return 1;
    size_t end = n + 4;
    while (model[end] && model[end] != u'&' && model[end] != u'\\') end++;
    if (end == n + 4 || end + 1 > units) return 1;
    for (size_t i = n; i < end; i++) out[i] = model[i];
    out[end] = 0;
    return 2;
}

int model_id(const char16_t* ids, char16_t* out, size_t units) {
    if (units) out[0] = 0;
    for (const char16_t* id = ids; *id; id += wlen(id) + 1) {
        size_t n = wlen(id);
        if (n + 1 > units || !names_a_model(id)) continue;  // a cut id would be another model's
        for (size_t i = 0; i <= n; i++) out[i] = id[i];
        return 1;
    }
    return 0;
}

int instance_device_id(const char16_t* inst, char16_t* out, size_t units) {
    if (units) out[0] = 0;
    size_t cut = wlen(inst);
    while (cut > 0 && inst[cut - 1] != u'\\') cut--;
    if (cut < 2 || cut > units) return 0;
    for (size_t i = 0; i + 1 < cut; i++) out[i] = inst[i];
    out[cut - 1] = 0;
    return 1;
}
