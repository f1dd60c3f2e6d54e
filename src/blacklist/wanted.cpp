// The rule for which entries want an install block.
#include "blacklist/wanted.h"

#include "base/text.h"
#include "blacklist/modelfile.h"

static_assert(BLOCK_MAX_IDS >= BL_MAX, "every entry of a full blacklist can want a block");

namespace {

// An entry's class as UTF-16: static, beside the callers' large tables.
char16_t g_cls[CLASS_UNITS];
char16_t g_id[INST_UNITS];

}  // namespace

int bl_wants_block(const BlacklistEntry& e, int64_t now, char16_t* id) {
    if (now >= e.until || !e.inst[0]) return 0;
    utf16(e.inst, id, INST_UNITS);
    utf16(e.cls, g_cls, countof(g_cls));
    return !is_builtin(g_cls, id);
}

void bl_wanted(const BlacklistEntry* t, int n, const BlacklistEntry* extra, int64_t now, BlockIds* out) {
    out->untold = 0;
    out->n = 0;
    for (int i = 0; i <= n && out->n < BLOCK_MAX_IDS; i++) {
        const BlacklistEntry* e = i < n ? &t[i] : extra;
        if (!e || !bl_wants_block(*e, now, g_id)) continue;
        int dup = 0;
        for (int k = 0; k < out->n && !dup; k++) dup = wicmp(out->id[k], g_id) == 0;
        if (dup) continue;
        wcopy_zero(out->id[out->n], g_id, INST_UNITS);
        out->outcome[out->n++] = BLOCK_NONE;
    }
}

namespace {

void add_once(BlockIds* out, const char16_t* id) {
    for (int k = 0; k < out->n; k++)
        if (wicmp(out->id[k], id) == 0) return;
    if (out->n == BLOCK_MAX_IDS) return;
    wcopy_zero(out->id[out->n], id, INST_UNITS);
    out->outcome[out->n++] = BLOCK_NONE;
}

}  // namespace

void bl_wanted_models(const BlacklistEntry* t, int n, const BlacklistModel* m, int nm, int64_t now, BlockIds* out) {
    out->n = 0;
    out->untold = 0;
    for (int i = 0; i < n; i++) {
        const BlacklistEntry& e = t[i];
        if (!e.byname || !bl_wants_block(e, now, g_id)) continue;
        for (int k = 0; k < nm; k++) {
            if (m[k].verdict != MODEL_OK || !ieq_ascii(m[k].inst, e.inst)) continue;
            utf16(m[k].model, g_id, countof(g_id));
            add_once(out, g_id);
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
    return block_holds(BLOCK_DEVICE_IDS, g_id);
}
