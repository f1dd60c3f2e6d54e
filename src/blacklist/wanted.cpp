// The rule for which entries want an install block.
#include "blacklist/wanted.h"

#include "base/text.h"
#include "blacklist/modelfile.h"
#include "block/view.h"
#include "device/model.h"

static_assert(BLOCK_MAX_IDS >= BL_MAX, "every entry of a full blacklist can want a block");

namespace {

// An entry's class as UTF-16: static, beside the callers' large tables.
char16_t g_cls[CLASS_UNITS];
char16_t g_id[INST_UNITS], g_parent[INST_UNITS];

}  // namespace

int bl_wants_block(const BlacklistEntry& e, int64_t now, char16_t* id) {
    if (now >= e.until || !e.inst[0]) return 0;
    utf16(e.inst, id, INST_UNITS);
    utf16(e.cls, g_cls, countof(g_cls));
    return !is_builtin(g_cls, id);
}

namespace {

// Each id once, letter case aside.
void add_once(BlockIds* out, const char16_t* id) {
    for (int k = 0; k < out->n; k++)
        if (wicmp(out->id[k], id) == 0) return;
    if (out->n == BLOCK_MAX_IDS) return;
    wcopy_zero(out->id[out->n], id, INST_UNITS);
    out->outcome[out->n++] = BLOCK_NONE;
}

}  // namespace

void bl_wanted(const BlacklistEntry* t, int n, const BlacklistEntry* extra, int64_t now, BlockIds* out) {
    out->n = 0;
    out->untold = 0;
    for (int i = 0; i <= n; i++) {
        const BlacklistEntry* e = i < n ? &t[i] : extra;
        if (e && bl_wants_block(*e, now, g_id)) add_once(out, g_id);
    }
}

void bl_wanted_models(const BlacklistEntry* t, int n, const BlacklistEntry* extra, const BlacklistModel* m, int nm,
                      const BlacklistModel* extra_model, int64_t now, BlockIds* out) {
    out->n = 0;
    out->untold = 0;
    for (int i = 0; i <= n; i++) {
        const BlacklistEntry* e = i < n ? &t[i] : extra;
        if (!e || !e->byname || !bl_wants_block(*e, now, g_id)) continue;
        for (int k = 0; k <= nm; k++) {
            const BlacklistModel* model = k < nm ? &m[k] : extra_model;
            if (!model || model->verdict != MODEL_OK || !ieq_ascii(model->inst, e->inst)) continue;
            utf16(model->model, g_id, countof(g_id));
            add_once(out, g_id);
            // A function's composite device goes with it: Windows installs a
            // device whole, its functions beneath it.
            if (model_parent_id(g_id, g_parent, countof(g_parent))) add_once(out, g_parent);
        }
    }
}

int bl_blocked(const BlacklistEntry& e) {
    utf16(e.inst, g_id, countof(g_id));
    return block_holds(BLOCK_INSTANCE_IDS, g_id);
}

const char* bl_model_id(const BlacklistEntry& e) {
    const BlacklistModel* m = bl_model_of(e);
    return m ? m->model : nullptr;
}

int bl_model_blocked(const BlacklistEntry& e) {
    const BlacklistModel* m = bl_model_of(e);
    if (!m || m->verdict != MODEL_OK) return 0;
    utf16(m->model, g_id, countof(g_id));
    if (!block_holds(BLOCK_DEVICE_IDS, g_id)) return 0;
    return !model_parent_id(g_id, g_parent, countof(g_parent)) || block_holds(BLOCK_DEVICE_IDS, g_parent);
}

const char* bl_model_parent(const BlacklistEntry& e, char* out, size_t size) {
    const BlacklistModel* m = bl_model_of(e);
    if (!m) return nullptr;
    utf16(m->model, g_id, countof(g_id));
    if (!model_parent_id(g_id, g_parent, countof(g_parent))) return nullptr;
    utf8(g_parent, out, size);
    return out;
}
