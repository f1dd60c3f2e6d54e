// The blacklist's changes and reads, each one locked step (step.h) with
// the models file, the rules file and the install block kept in step
// inside it.
#include "store/store.h"

#include "base/text.h"
#include "local/modelfile.h"
#include "local/models.h"
#include "local/rulefile.h"
#include "log/log.h"
#include "store/step.h"

namespace {

// The rules a step found ended, said once their drop is written: the
// entries and the rules file's. Static, as together they are 100 KB.
BlacklistEntry g_ended_entries[BL_MAX];
Rule g_ended_rules[RULES_MAX];
int g_nended_rules;

void say_ended(const char* what, const char* kind, const char* id, const char* name) {
    char lower[sizeof(BlacklistEntry::inst)];
    scopy(lower, sizeof lower, id);
    lower_ascii(lower);
    logline(EV_RULE_ENDED, "到期解除 | %s | %s | %s | %s", what, kind, lower, name[0] ? name : "(无名)");
}

// The rules file's ended rules, once the file no longer holds them.
void say_ended_rules(void) {
    for (int i = 0; i < g_nended_rules; i++) {
        const Rule& r = g_ended_rules[i];
        say_ended(r.kind == RULE_MODEL ? "拉黑" : "放行", r.kind == RULE_APPROVE_ID ? "按实例 ID" : "按型号", r.id, r.name);
    }
    g_nended_rules = 0;
}

void drop_ended_rules(void) { g_nended_rules = rules_drop_expired(sys_now(), g_ended_rules); }

enum Op { OP_ADD, OP_PUT, OP_REMOVE, OP_CLEAR, OP_RULE_PUT, OP_RULE_REMOVE };

// One change: what it is asked, and what it did.
struct Step {
    Op op;
    const BlacklistEntry* entry = nullptr;  // ADD, PUT, REMOVE
    const BlacklistModel* model = nullptr;  // kept with an ADD or a PUT, or null
    const BlacklistEntry* clear = nullptr;  // CLEAR: the entries the table showed
    int nclear = 0;
    bl_put_result put = BL_PUT_ADDED;       // what a PUT did,
    BlacklistEntry* put_entry = nullptr;    // and the entry as it stands afterwards
    int models_lost = 0;                    // the model could not be kept
    const Rule* rule = nullptr;             // RULE_PUT; and what it did (0 unchanged, 1 extended, 2 added)
    Rule* rule_after = nullptr;
    int rule_what = 0;
    rule_kind kind = RULE_MODEL;  // RULE_REMOVE: the rules of this kind with this id (all with null)
    const char* rule_id = nullptr;
    Rule* gone = nullptr;         // RULE_REMOVE: room for RULES_MAX, and how many went
    int ngone = 0;
};

// Applies the step's change to the work table; 1 when the file is to be
// written, 0 when it stands as it is, and BL_FULL / BL_GONE in *st.
int apply(Step* s, bl_status* st) {
    int* n;
    BlacklistEntry* t = step_entries(&n);
    if (s->op == OP_ADD) {
        if (*n >= BL_MAX) *st = BL_FULL;
        else t[(*n)++] = *s->entry;
        return 1;
    }
    if (s->op == OP_PUT) {
        int write = table_put(t, n, *s->entry, &s->put, s->put_entry);
        if (write < 0) *st = BL_FULL;
        return write;
    }
    if (s->op == OP_REMOVE) {
        if (!table_remove(t, n, *s->entry)) *st = BL_GONE;
        return 1;
    }
    // A rule changes its own file; blacklist.tsv stands as it is. Rules
    // that ended go first, so that they neither fill the file nor are
    // lifted again.
    if (s->op == OP_RULE_PUT || s->op == OP_RULE_REMOVE) drop_ended_rules();
    if (s->op == OP_RULE_PUT) {
        int full;
        if (!rules_put(*s->rule, &s->rule_what, s->rule_after, &full)) *st = full ? BL_FULL : BL_RULES_REFUSED;
        return 0;
    }
    if (s->op == OP_RULE_REMOVE) {
        s->ngone = rules_remove(s->kind, s->rule_id, s->gone);
        if (s->ngone < 0) *st = BL_RULES_REFUSED;
        return 0;
    }
    for (int i = 0; i < s->nclear; i++) (void)table_remove(t, n, s->clear[i]);  // gone already: skipped
    return 1;
}

void publish_and_sync(void) {
    step_publish(0);
    step_sync_blocks(BLOCK_AT_CONSOLE, 0);
}

bl_status change(Step* s) {
    sys_lock* lock;
    if (!step_open(&lock)) return BL_FAILED;
    if (!lock) return BL_FAILED;
    bl_status st = step_read(1);
    if (st == BL_OVERFULL || st == BL_BAD_LINES) {
        step_publish(0);  // the book shows the file's entries; nothing is written
    } else if (st == BL_OK) {
        int write = apply(s, &st);
        if (st == BL_OK && s->model) s->models_lost = !models_put(*s->model);
        if (st == BL_OK && !write) {
            // The entry stood already, or a rule changed: the file stays as it is.
            s->models_lost |= !models_save_puts() && s->model;
            if (!rules_save()) st = BL_FAILED;
            else say_ended_rules();
            publish_and_sync();
        } else if (st == BL_OK) {
            if (step_write()) {
                int* n;
                const BlacklistEntry* t = step_entries(&n);
                s->models_lost |= !models_save(t, *n) && s->model;
                publish_and_sync();
            } else {
                st = BL_FAILED;
            }
        } else {
            step_publish(0);  // nothing to write, but the book now shows the file
        }
    }
    step_close(lock);
    return st;
}

// A change of an entry or a rule about to be put: the block's question
// first, before the lock.
bl_status change_adding(Step* s) {
    RuleBook with = bl_book();
    with.coming = s->entry;
    with.coming_model = s->model;
    with.coming_rule = s->rule;
    step_prepare_blocks(with, BLOCK_AT_CONSOLE);
    return change(s);
}

// The prune of a read step; with the lock, the drop is written (and the
// models follow it). FAILED when it could not be.
bl_status prune_work(sys_lock* lock, bl_status st, int* dropped) {
    // The rules file's ended rules go too, when it may be written.
    if (lock) drop_ended_rules();
    else g_nended_rules = 0;
    if (g_nended_rules && rules_save()) {
        *dropped += g_nended_rules;
        say_ended_rules();
    }
    g_nended_rules = 0;
    int* n;
    BlacklistEntry* t = step_entries(&n);
    int gone = table_drop_expired(t, n, sys_now(), g_ended_entries);
    if (gone == 0) return st;
    if (!lock || !step_write()) return BL_FAILED;
    (void)models_save(t, *n);  // a model left over costs nothing: it is read only for its entry
    *dropped += gone;
    for (int i = 0; i < gone; i++) {
        const BlacklistEntry& e = g_ended_entries[i];
        say_ended("拉黑", e.byname ? "按名称" : "按实例 ID", e.inst, e.name);
    }
    return st;
}

// The empty book of a step that cannot make its paths: nothing can be
// read there, so there is nothing to drop.
bl_status nothing_there(void) {
    int* n;
    (void)step_entries(&n);
    *n = 0;
    step_publish(0);
    return BL_OK;
}

}  // namespace

bl_status bl_add(const BlacklistEntry& e, const BlacklistModel* model, BlockResult* block) {
    Step s{OP_ADD};
    s.entry = &e;
    s.model = model;
    bl_status st = change_adding(&s);
    if (block) *block = step_outcome_of(e, s.models_lost);
    return st;
}

bl_status bl_put(const BlacklistEntry& e, const BlacklistModel* model, bl_put_result* what, BlacklistEntry* entry,
                 BlockResult* block) {
    Step s{OP_PUT};
    s.entry = &e;
    s.model = model;
    s.put_entry = entry;
    bl_status st = change_adding(&s);
    *what = s.put;
    if (st != BL_OK) *entry = e;
    *block = st == BL_OK ? step_outcome_of(*entry, s.models_lost) : BlockResult{BLOCK_NONE, BLOCK_NONE, 0};
    return st;
}

bl_status bl_put_in_memory(const BlacklistEntry& e, const BlacklistModel* model, bl_put_result* what,
                           BlacklistEntry* entry) {
    int* n;
    BlacklistEntry* t = book_entries(&n);
    if (table_put(t, n, e, what, entry) < 0) return BL_FULL;
    BlacklistModel* m = book_models(&n);
    if (model) (void)model_put_into(m, n, *model);
    return BL_OK;
}

bl_status bl_rule_put(const Rule& r, int* what, Rule* after, BlockResult* block) {
    Step s{OP_RULE_PUT};
    s.rule = &r;
    s.rule_after = after;
    bl_status st = change_adding(&s);
    *what = s.rule_what;
    if (st != BL_OK) *after = r;
    // A model rule's block, or an approved unit's allow value.
    *block = BlockResult{st == BL_OK ? step_outcome(BLOCK_ALLOW_IDS, after->id) : BLOCK_NONE,
                         st == BL_OK ? step_outcome(BLOCK_DEVICE_IDS, after->id) : BLOCK_NONE, 0};
    return st;
}

bl_status bl_rule_put_in_memory(const Rule& r, int* what, Rule* after) {
    int* n;
    Rule* t = book_rules(&n);
    return rule_table_put(t, n, r, what, after) ? BL_OK : BL_FULL;
}

bl_status bl_rule_remove(rule_kind kind, const char* id, Rule* gone, int* n) {
    Step s{OP_RULE_REMOVE};
    s.kind = kind;
    s.rule_id = id;
    s.gone = gone;
    bl_status st = change(&s);
    *n = st == BL_OK ? s.ngone : 0;
    return st;
}

bl_status bl_remove(const BlacklistEntry& e) {
    Step s{OP_REMOVE};
    s.entry = &e;
    return change(&s);
}

namespace {

// The entries a clear removes, copied: the caller's may be the book's own,
// which the step rewrites. Static, as they are 128 KB.
BlacklistEntry g_clear[BL_MAX];

}  // namespace

bl_status bl_remove_each(const BlacklistEntry* t, int n) {
    for (int i = 0; i < n; i++) g_clear[i] = t[i];
    Step s{OP_CLEAR};
    s.clear = g_clear;
    s.nclear = n;
    return change(&s);
}

bl_status bl_prune(int* dropped) {
    *dropped = 0;
    // A plain read that cannot have the lock in time reads without it, and
    // then never writes.
    sys_lock* lock;
    if (!step_open(&lock)) return nothing_there();
    bl_status st = step_read(lock != nullptr);
    // Until the drop is written, the book shows the file as it stands.
    step_publish(0);
    if (st == BL_OK) {
        st = prune_work(lock, st, dropped);
        if (*dropped) publish_and_sync();
    }
    step_close(lock);
    return st;
}

bl_status bl_read(void) {
    sys_lock* lock;
    if (!step_open(&lock)) return nothing_there();
    bl_status st = step_read(lock != nullptr);
    step_publish(0);
    if (lock) sys_lock_drop(lock);
    return st;
}

PassStep bl_pass_step(void) {
    // What the step gives up: static, as it is 1 MB.
    static GivenUpList given_up;
    given_up.n = 0;
    PassStep r{BL_OK, 0, BL_FAILED, &given_up, 0};
    sys_lock* lock;
    if (!step_open(&lock)) {
        r.read = nothing_there();
        return r;
    }
    r.read = step_read(lock != nullptr);
    step_publish(0);
    // A policy rule that vanished in this read stays wanted for this pass:
    // a refresh empties a list before it writes it again.
    if (r.read != BL_UNREADABLE) step_hold_policy();
    if (r.read == BL_OK) {
        r.read = prune_work(lock, r.read, &r.dropped);
        int* n;
        const BlacklistEntry* t = step_entries(&n);
        // A model whose check a failed read left undecided is decided now.
        int decided = lock && r.read == BL_OK ? models_recheck(bl_book(), t, *n, sys_now()) : 0;
        if (decided) {
            (void)rules_save();
            (void)models_save_puts();  // else the next pass decides again
        }
        if (r.dropped || decided) step_publish(1);
    }
    if (lock && r.read != BL_UNREADABLE) {
        // Whether the task runs this copy is asked here, after the one read,
        // since only the file says whether a block is wanted at all; the
        // sync itself then holds the machine's lock once.
        step_prepare_blocks(bl_book(), BLOCK_UNATTENDED, &given_up);
        r.models_wanted = given_up.n > 0 || step_wants_models();
        step_sync_blocks(BLOCK_UNATTENDED, 1);
        r.synced = BL_OK;
    } else if (lock) {
        r.synced = BL_UNREADABLE;
    }
    step_close(lock);
    return r;
}

namespace {

// The task changed hands: the blocks of every copy are lifted even when the
// lock cannot be had, since nothing would lift them afterwards; a new
// owner's own blocks are written under the lock (else by its next pass).
int hand_over(int take_over) {
    sys_lock* lock = nullptr;
    int opened = step_open(&lock);
    int done = take_over ? block_take_over() : block_give_up();
    if (opened && lock && take_over && step_read(1) != BL_UNREADABLE) publish_and_sync();
    step_close(lock);
    return done;
}

}  // namespace

int bl_blocks_take_over(void) { return hand_over(1); }

int bl_blocks_give_up(void) { return hand_over(0); }
