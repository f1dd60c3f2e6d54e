// The device table of a scan and the keyword test.
#include "device/scan.h"

#include "base/text.h"
#include "device/model.h"
#include "device/walk.h"

// The last scan's table, how many devices matched, and the keyword: the
// tables this module owns (scan.h).
DeviceEntry g_dev[DEV_MAX];
int g_n;
int g_matched;
char16_t g_key[KEY_UNITS];

const char16_t* const DEF_KEYS[8] = {
    u"smart-camara", u"smart-camera", u"smartcamara", u"smartcamera",
    u"smart cam",    u"smartcam",     u"智慧摄像机",  u"智能摄像",
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

namespace {

// The device the scan is looking at, and its whole name lower-cased:
// static, as they are 28 KB.
WalkedDevice g_walked;
char16_t g_test[WHOLE_NAME_UNITS];

}  // namespace

namespace {

// A walked device's id lists: static, as they are 64 KB.
char16_t g_hw[IDS_UNITS], g_compat[IDS_UNITS];

}  // namespace

int scan_model(const char16_t* model, uint32_t* err) {
    *err = 0;
    g_n = 0;
    g_matched = 0;
    char16_t prefix[INST_UNITS];
    if (!model_prefix(model, prefix, countof(prefix))) return 1;
    DevWalk w;
    if (!dev_walk_open(&w, WALK_PRESENT)) {
        *err = w.err;
        return 0;
    }
    while (dev_walk_next(&w, &g_walked)) {
        // Only devices of the model's bus and vendor have their lists read.
        if (!wistarts(g_walked.d.inst, prefix)) continue;
        (void)dev_walk_ids(&w, SYS_IDS_HARDWARE, g_hw, IDS_UNITS);
        if (!ids_hold(g_hw, model)) continue;
        (void)dev_walk_ids(&w, SYS_IDS_COMPATIBLE, g_compat, IDS_UNITS);
        g_matched++;
        if (g_n == DEV_MAX) continue;
        g_dev[g_n] = g_walked.d;
        if (composite_parent(g_hw, g_compat)) g_dev[g_n].builtin = 0;
        g_n++;
    }
    dev_walk_close(&w);
    return 1;
}

int scan(int flags, uint32_t* err) {
    *err = 0;
    g_n = 0;
    g_matched = 0;
    DevWalk w;
    if (!dev_walk_open(&w, flags & SCAN_ALL ? WALK_ALL : WALK_PRESENT)) {
        *err = w.err;
        return 0;
    }
    // Past a full table the walk goes on, to count what it could not keep.
    while (dev_walk_next(&w, &g_walked)) {
        if (!(flags & SCAN_MATCH_ALL)) {
            size_t i = 0;
            for (; g_walked.whole[i] && i + 1 < countof(g_test); i++) g_test[i] = g_walked.whole[i];
            g_test[i] = 0;
            lowerw(g_test);
            if (!name_matches(g_test)) continue;
        }
        g_matched++;
        if (g_n < DEV_MAX) g_dev[g_n++] = g_walked.d;
    }
    dev_walk_close(&w);
    return 1;
}
