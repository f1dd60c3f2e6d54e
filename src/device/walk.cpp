// The device walk: open the set, read each member, lower-case its texts.
#include "device/walk.h"

#include <initializer_list>

#include "base/text.h"
#include "device/devset.h"
#include "device/model.h"

int dev_read(sys_devset* s, WalkedDevice* w) {
    char16_t* name = w->whole;
    char16_t cls[CLASS_UNITS] = {0};
    char16_t inst[INST_UNITS] = {0};
    // A missing property or id leaves an empty text; the member still counts.
    // A long name is read whole: a device must not hide behind its length.
    if (!sys_dev_prop(s, SYS_PROP_FRIENDLYNAME, name, WHOLE_NAME_UNITS) || !name[0])
        if (!sys_dev_prop(s, SYS_PROP_DEVICEDESC, name, WHOLE_NAME_UNITS)) name[0] = 0;
    if (!sys_dev_prop(s, SYS_PROP_CLASS, cls, countof(cls))) cls[0] = 0;
    if (!sys_dev_id(s, inst, countof(inst))) inst[0] = 0;
    if (!name[0] && !inst[0]) return 0;
    DeviceEntry* d = &w->d;
    // The field's last unit is never written: it stays the terminator. A
    // name cut to fit ends on a whole character.
    size_t keep = wlen(name);
    d->name_cut = keep > countof(d->name) - 1;
    if (d->name_cut) {
        keep = countof(d->name) - 1;
        if (name[keep - 1] >= 0xD800 && name[keep - 1] <= 0xDBFF) keep--;
    }
    wcopy_zero(d->name, name, countof(d->name) - 1);
    for (size_t i = keep; i < countof(d->name) - 1; i++) d->name[i] = 0;
    wcopy_zero(d->cls, cls, countof(d->cls) - 1);
    wcopy_zero(d->inst, inst, countof(d->inst) - 1);
    d->present = sys_dev_presence(s) != SYS_ABSENT;
    d->builtin = is_builtin(cls, inst);
    return 1;
}

namespace {

void fill(sys_devset* s, WalkedDevice* out, int lower) {
    out->presence = sys_dev_presence(s);
    out->parent[0] = 0;
    out->inst[0] = out->name[0] = 0;
    if (!lower) return;
    dev_lower(out->d.inst, out->inst, sizeof out->inst);
    dev_lower(out->whole, out->name, sizeof out->name);
}

}  // namespace

int dev_walk_open(DevWalk* w, int flags) {
    w->index = 0;
    w->lower = (flags & WALK_LOWER) != 0;
    w->err = 0;
    w->set = sys_dev_open(flags & WALK_ALL, &w->err);
    return w->set != nullptr;
}

int dev_walk_next(DevWalk* w, WalkedDevice* out) {
    if (!w->set) return 0;
    while (sys_dev_next(w->set, w->index++)) {
        if (!dev_read(w->set, out)) continue;
        fill(w->set, out, w->lower);
        return 1;
    }
    return 0;
}

void dev_walk_close(DevWalk* w) {
    if (w->set) sys_dev_close(w->set);
    w->set = nullptr;
}

sys_read dev_walk_ids(DevWalk* w, sys_ids which, char16_t* buf, uint32_t units) {
    if (!w->set) {
        if (units > 1) buf[0] = buf[1] = 0;
        return SYS_READ_FAILED;
    }
    return sys_dev_ids(w->set, which, buf, units);
}

int dev_lookup_ids(const char16_t* id, HardwareIds* hw, HardwareIds* compatible) {
    for (HardwareIds* l : {hw, compatible}) {
        if (!l) continue;
        l->ids[0] = l->ids[1] = 0;
        l->read = SYS_READ_FAILED;
        l->parent[0] = 0;
    }
    DevSetGuard set{sys_dev_open_id(id)};
    if (!set.s) return 0;
    hw->read = sys_dev_ids(set.s, SYS_IDS_HARDWARE, hw->ids, IDS_UNITS);
    (void)sys_dev_parent(set.s, hw->parent, INST_UNITS);
    if (compatible) compatible->read = sys_dev_ids(set.s, SYS_IDS_COMPATIBLE, compatible->ids, IDS_UNITS);
    return 1;
}

int dev_unit_ids(const char16_t* inst, HardwareIds* hw, int look_up) {
    if (look_up && dev_lookup_ids(inst, hw)) return 1;
    hw->ids[0] = hw->ids[1] = 0;
    if (!instance_device_id(inst, hw->ids, countof(hw->ids))) return 0;
    hw->ids[wlen(hw->ids) + 1] = 0;
    return 1;
}

int dev_walk_parent(DevWalk* w, char16_t* buf) {
    buf[0] = 0;
    return w->set && sys_dev_parent(w->set, buf, INST_UNITS);
}

int dev_lookup(const char16_t* id, WalkedDevice* out) {
    DevSetGuard set{sys_dev_open_id(id)};
    if (!set.s) return 0;
    int ok = dev_read(set.s, out);
    if (ok) fill(set.s, out, 1);
    if (ok && !sys_dev_parent(set.s, out->parent, INST_UNITS)) out->parent[0] = 0;
    return ok;
}
