// Whether each block the rules want stands, and why not.
#include "rules/standing.h"

#include "base/text.h"
#include "block/block.h"
#include "sys/sys.h"
#include "task/owner.h"

namespace {

// The wanted lists and what they give up, worked out for one generation of
// the book: static, as they are 2 MB.
BlockWant g_want;
GivenUpList g_given_up;
uint32_t g_generation;
const RuleBook* g_of;
int g_worked;

void work_out(const RuleBook& b) {
    if (g_worked && g_of == &b && g_generation == b.generation) return;
    bl_wanted_all(b, sys_now(), &g_want, &g_given_up);
    g_of = &b;
    g_generation = b.generation;
    // A book with a change coming is a caller's copy, made again in the same
    // place for the next change: its address and generation tell nothing.
    g_worked = !b.coming && !b.coming_model && !b.coming_rule;
}

// Why a block that is wanted does not stand: the build, audit mode, the task.
Standing missing(const RuleBook& b, block_list l) {
    if (b.mode == POLICY_AUDIT) return {WHY_AUDIT, GIVEN_UP_APPROVED};
    int applies = block_list_applies(l);
    if (applies <= 0) return {applies < 0 ? WHY_UNTOLD : WHY_UNSUPPORTED, GIVEN_UP_APPROVED};
    task_owner owner = task_owner_get();
    if (owner == OWNER_UNKNOWN) return {WHY_UNTOLD, GIVEN_UP_APPROVED};
    if (owner != OWNER_THIS_COPY) return {WHY_NO_TASK, GIVEN_UP_APPROVED};
    return {NOT_STANDING, GIVEN_UP_APPROVED};
}

}  // namespace

const BlockWant& book_wanted(const RuleBook& b) {
    work_out(b);
    return g_want;
}

const GivenUpList& book_given_up(const RuleBook& b) {
    work_out(b);
    return g_given_up;
}

Standing model_standing(const RuleBook& b, const char* model, model_verdict verdict) {
    if (verdict == MODEL_SHARED) return {WHY_SHARED, GIVEN_UP_APPROVED};
    if (verdict == MODEL_BUILTIN) return {WHY_BUILTIN, GIVEN_UP_APPROVED};
    if (verdict == MODEL_UNKNOWN) return {WHY_CHECK_UNKNOWN, GIVEN_UP_APPROVED};
    work_out(b);
    int why = given_up_why(g_given_up, BLOCK_DEVICE_IDS, model);
    if (why >= 0) return {WHY_GIVEN_UP, (given_up_reason)why};
    char parent[DEV_TEXT_BYTES];
    // A composite device given up for a spared function leaves the model
    // standing by its own id.
    int parent_spared = bl_model_parent(model, parent, sizeof parent) &&
                        given_up_why(g_given_up, BLOCK_DEVICE_IDS, parent) == GIVEN_UP_FUNCTION_SPARED;
    if (parent_spared ? bl_id_blocked_in(BLOCK_DEVICE_IDS, model) : bl_id_model_blocked(model))
        return {STANDS, GIVEN_UP_APPROVED};
    return missing(b, BLOCK_DEVICE_IDS);
}

Standing policy_standing(const RuleBook& b, const PolicyRule& p) {
    return p.kind == POLICY_INSTANCE_ID ? instance_standing(b, p.id, "") : model_standing(b, p.id, MODEL_OK);
}

Standing instance_standing(const RuleBook& b, const char* inst, const char* cls) {
    if (!bl_may_block(inst, cls)) return {WHY_BUILTIN, GIVEN_UP_APPROVED};
    work_out(b);
    int why = given_up_why(g_given_up, BLOCK_INSTANCE_IDS, inst);
    if (why >= 0) return {WHY_GIVEN_UP, (given_up_reason)why};
    if (bl_id_blocked_in(BLOCK_INSTANCE_IDS, inst)) return {STANDS, GIVEN_UP_APPROVED};
    return missing(b, BLOCK_INSTANCE_IDS);
}
