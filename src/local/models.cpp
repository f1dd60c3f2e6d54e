// A by-name entry's model and its check.
#include "local/models.h"

#include <cstring>

#include "base/text.h"
#include "device/model.h"
#include "local/modelfile.h"
#include "local/rulefile.h"
#include "rules/judge.h"
#include "sys/sys.h"

namespace {

// Another device being looked at and its id lists: static, as they are
// some 70 KB.
char16_t g_hw[IDS_UNITS], g_compat[IDS_UNITS];
WalkedDevice g_other;
// The composite device's id of the model being checked, and the coming
// entry's model, which reaches nothing before its check is made.
char16_t g_parent[INST_UNITS];
BlacklistModel g_unchecked;

}  // namespace

void bl_model_check(const RuleBook& b, const DeviceEntry& d, const HardwareIds& hardware, const BlacklistEntry& coming,
                    ModelCheck* out) {
    // A device without the list says as little as one whose list failed.
    out->verdict = hardware.read == SYS_READ_OK ? MODEL_NONE : MODEL_NO_IDS;
    out->others = out->unreached = 0;
    out->text[0] = out->parent[0] = 0;
    if (!model_id(hardware.ids, out->id, countof(out->id))) return;
    utf8(out->id, out->text, sizeof out->text);
    int function = model_parent_id(out->id, g_parent, countof(g_parent));
    if (function) utf8(g_parent, out->parent, sizeof out->parent);
    if (d.builtin) {
        out->verdict = MODEL_BUILTIN;
        return;
    }
    // Windows refuses every device that has the id among its hardware or
    // compatible ids: one that no entry reaches would lose its driver's
    // updates and reinstallation.
    // Judged before the walk opens the one device set.
    RuleBook with = b;
    with.coming = &coming;
    scopy(g_unchecked.inst, sizeof g_unchecked.inst, coming.inst);
    g_unchecked.verdict = MODEL_NONE;
    with.coming_model = &g_unchecked;
    const Judge& judging = judge_prepare(with, sys_now());
    DevWalk w;
    if (!dev_walk_open(&w, WALK_ALL | WALK_LOWER)) {
        out->verdict = MODEL_UNKNOWN;
        return;
    }
    int unread = 0;
    while (dev_walk_next(&w, &g_other)) {
        if (wicmp(g_other.d.inst, d.inst) == 0 || wicmp(g_other.d.inst, hardware.parent) == 0) continue;
        // A list that cannot be read whole may hold the id: no answer.
        unread |= dev_walk_ids(&w, SYS_IDS_HARDWARE, g_hw, IDS_UNITS) == SYS_READ_FAILED;
        unread |= dev_walk_ids(&w, SYS_IDS_COMPATIBLE, g_compat, IDS_UNITS) == SYS_READ_FAILED;
        int own = ids_hold(g_hw, out->id) || ids_hold(g_compat, out->id);
        int parents = function && (ids_hold(g_hw, g_parent) || ids_hold(g_compat, g_parent));
        if (!own && !parents) continue;
        out->others++;
        // Another unit's composite device is this model's, not another's.
        if (!own && composite_parent(g_hw, g_compat)) continue;
        JudgeDevice other = judge_device(g_other, &w);
        if (g_other.d.builtin || !judge(judging, other).blocked) out->unreached++;
    }
    dev_walk_close(&w);
    out->verdict = out->unreached ? MODEL_SHARED : unread ? MODEL_UNKNOWN : MODEL_OK;
}

void bl_model_rule_check(const char16_t* id, int force, ModelCheck* out) {
    out->verdict = MODEL_UNKNOWN;
    out->others = out->unreached = 0;
    wcopy_zero(out->id, id, INST_UNITS - 1);
    out->id[INST_UNITS - 1] = 0;
    utf8(out->id, out->text, sizeof out->text);
    out->parent[0] = 0;
    int function = model_parent_id(out->id, g_parent, countof(g_parent));
    if (function) utf8(g_parent, out->parent, sizeof out->parent);
    char16_t prefix16[INST_UNITS];
    char prefix[DEV_TEXT_BYTES];
    if (!model_prefix(out->id, prefix16, countof(prefix16))) return;
    size_t len = utf8(prefix16, prefix, sizeof prefix);
    lower_ascii(prefix);
    DevWalk w;
    if (!dev_walk_open(&w, WALK_ALL | WALK_LOWER)) return;
    int unread = 0, builtin = 0;
    while (dev_walk_next(&w, &g_other)) {
        if (strncmp(g_other.inst, prefix, len) != 0) continue;
        unread |= dev_walk_ids(&w, SYS_IDS_HARDWARE, g_hw, IDS_UNITS) == SYS_READ_FAILED;
        unread |= dev_walk_ids(&w, SYS_IDS_COMPATIBLE, g_compat, IDS_UNITS) == SYS_READ_FAILED;
        int composite = composite_parent(g_hw, g_compat);
        int unit = ids_hold(g_hw, out->id) || (function && composite && ids_hold(g_hw, g_parent));
        int other = ids_hold(g_compat, out->id) || (function && ids_hold(g_compat, g_parent));
        if (unit) {
            out->others++;
            builtin |= g_other.d.builtin && !composite;
        } else if (other) {
            out->unreached++;
        }
    }
    dev_walk_close(&w);
    out->verdict = out->unreached ? MODEL_SHARED : builtin && !force ? MODEL_BUILTIN : unread ? MODEL_UNKNOWN : MODEL_OK;
}

namespace {

// A rule or an entry being checked again: static, as they are KBs.
Rule g_recheck;
ModelCheck g_check;
HardwareIds g_ids;

}  // namespace

int models_recheck(const RuleBook& b, const BlacklistEntry* t, int n, int64_t now) {
    int decided = 0, nr, nm;
    const Rule* r = rules_work(&nr);
    for (int i = 0; i < nr; i++) {
        if (r[i].kind != RULE_MODEL || r[i].verdict != MODEL_UNKNOWN || !rule_in_force(r[i].until, now)) continue;
        char16_t id[INST_UNITS];
        utf16(r[i].id, id, countof(id));
        bl_model_rule_check(id, 0, &g_check);
        if (g_check.verdict == MODEL_UNKNOWN) continue;
        int what, full;
        g_recheck = r[i];
        g_recheck.verdict = g_check.verdict;
        decided += rules_put(g_recheck, &what, &g_recheck, &full);
    }
    const BlacklistModel* m = models_work(&nm);
    for (int i = 0; i < nm; i++) {
        if (m[i].verdict != MODEL_UNKNOWN) continue;
        for (int k = 0; k < n; k++) {
            const BlacklistEntry& e = t[k];
            if (!e.byname || !rule_in_force(e.until, now) || !ieq_ascii(e.inst, m[i].inst)) continue;
            // The device may be gone: its model stands for the ids read then.
            DeviceEntry d{};
            char16_t cls[CLASS_UNITS];
            utf16(e.inst, d.inst, countof(d.inst));
            utf16(e.cls, cls, countof(cls));
            d.builtin = is_builtin(cls, d.inst);
            size_t len = utf16(m[i].model, g_ids.ids, countof(g_ids.ids) - 1);
            g_ids.ids[len + 1] = 0;
            g_ids.read = SYS_READ_OK;
            g_ids.parent[0] = 0;
            bl_model_check(b, d, g_ids, e, &g_check);
            BlacklistModel found;
            if (g_check.verdict != MODEL_UNKNOWN && bl_model_record(e, g_check, &found)) decided += models_put(found);
            break;
        }
    }
    return decided;
}

int bl_model_record(const BlacklistEntry& e, const ModelCheck& c, BlacklistModel* out) {
    if (c.verdict == MODEL_NONE || c.verdict == MODEL_NO_IDS || !e.inst[0]) return 0;
    scopy(out->inst, sizeof out->inst, e.inst);
    scopy(out->model, sizeof out->model, c.text);
    out->verdict = c.verdict;
    return 1;
}
