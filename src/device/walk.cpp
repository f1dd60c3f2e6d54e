// The device walk: open the set, read each member, lower-case its texts.
#include "device/walk.h"

#include "base/text.h"

namespace {

void fill(sys_devset* s, WalkedDevice* out) {
    out->presence = sys_dev_presence(s);
    dev_lower(out->d.inst, out->inst, sizeof out->inst);
    dev_lower(out->d.name, out->name, sizeof out->name);
}

}  // namespace

int dev_walk_open(DevWalk* w, int all) {
    w->index = 0;
    w->err = 0;
    w->set = sys_dev_open(all, &w->err);
    return w->set != nullptr;
}

int dev_walk_next(DevWalk* w, WalkedDevice* out) {
    if (!w->set) return 0;
    while (sys_dev_next(w->set, w->index++)) {
        if (!dev_read(w->set, &out->d)) continue;
        fill(w->set, out);
        return 1;
    }
    return 0;
}

void dev_walk_close(DevWalk* w) {
    if (w->set) sys_dev_close(w->set);
    w->set = nullptr;
}

int dev_lookup(const char16_t* id, WalkedDevice* out) {
    sys_devset* s = sys_dev_open_id(id);
    if (!s) return 0;
    int ok = dev_read(s, &out->d);
    if (ok) fill(s, out);
    sys_dev_close(s);
    return ok;
}
