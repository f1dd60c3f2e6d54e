// The blacklist file's steps: each change, each read and the pass's step,
// under the blacklist's lock, with the models file and the install block
// kept in step inside them.
#include "blacklist/store.h"

#include <cstring>

#include "base/text.h"
#include "blacklist/allows.h"
#include "blacklist/policyread.h"
#include "blacklist/rulefile.h"
#include "blacklist/wanted.h"
#include "files/datafile.h"
#include "sys/sys.h"
#include "task/owner.h"

// The table this module owns (store.h).
BlacklistEntry g_bl[BL_MAX];
int g_bn;

namespace {

// Another of our processes may hold the lock while it saves; a user at the
// menu can wait this long.
constexpr uint32_t LOCK_WAIT_MS = 10000;

int same_entry(const BlacklistEntry& a, const BlacklistEntry& b) {
    return a.until == b.until && a.byname == b.byname && strcmp(a.name, b.name) == 0 &&
           strcmp(a.inst, b.inst) == 0 && strcmp(a.cls, b.cls) == 0;
}

struct Paths {
    char16_t file[PATH_UNITS];
    char16_t tmp[PATH_UNITS];
    char16_t lock[PATH_UNITS];
    char16_t dir[PATH_UNITS];
    char16_t models[PATH_UNITS];
    char16_t models_tmp[PATH_UNITS];
    char16_t rules[PATH_UNITS];
    char16_t rules_tmp[PATH_UNITS];
    char16_t policy[PATH_UNITS];
    char16_t policy_tmp[PATH_UNITS];
};

int make_paths(Paths* p) {
    return data_path(p->file, countof(p->file), DATA_BLACKLIST) && data_path(p->tmp, countof(p->tmp), DATA_BLACKLIST_TMP) &&
           data_path(p->lock, countof(p->lock), DATA_BLACKLIST_LOCK) && data_dir(p->dir, countof(p->dir)) &&
           data_path(p->models, countof(p->models), DATA_MODELS) &&
           data_path(p->models_tmp, countof(p->models_tmp), DATA_MODELS_TMP) &&
           data_path(p->rules, countof(p->rules), DATA_RULES) && data_path(p->rules_tmp, countof(p->rules_tmp), DATA_RULES_TMP) &&
           data_path(p->policy, countof(p->policy), DATA_POLICY) &&
           data_path(p->policy_tmp, countof(p->policy_tmp), DATA_POLICY_TMP);
}

// The data files' paths, made afresh by each step: static, as ten paths
// of 1,024 units would weigh on the stack.
Paths g_paths;

// The table as the current step read it and changed it: static, as it is
// 128 KB.
BlacklistEntry g_work[BL_MAX];
int g_nwork;
// What the last read found, for the screens.
bl_status g_last = BL_OK;
int g_bad, g_first_bad, g_overfull;
// A file of 64 entries is about 126 KB; reads go through it in pieces.
char g_bytes[256 * 1024];
// The reader's line buffer is 2 KB.
bl_reader g_reader;

// Reads the file into g_work, whatever its size. A missing file is an empty
// table; one that cannot be read whole is UNREADABLE, never a short table.
// The models file follows when an entry matches by name; the rules file
// and policy are read in every step, since their rules need no entry.
// Policy is taken from its last read while unchanged; a caller with the
// lock (`locked`) keeps a new one.
bl_status read_work(const Paths& p, int locked) {
    const PolicyKeep keep{p.policy, p.policy_tmp, locked};
    models_begin(p.models, p.models_tmp);
    rules_forget();
    g_nwork = 0;
    g_bad = g_first_bad = g_overfull = 0;
    sys_read r;
    sys_file* f = sys_file_open(p.file, &r);
    if (!f) {
        g_last = r == SYS_READ_MISSING ? BL_OK : BL_UNREADABLE;
        if (g_last == BL_OK) rules_read(p.rules, p.rules_tmp);
        // Policy stands apart from the files: its mode and errors are
        // told even when the blacklist cannot be read.
        (void)policy_load(sys_now(), &keep);
        allows_load();
        return g_last;
    }
    bl_read_start(&g_reader, g_work);
    uint32_t got = 0;
    int ok;
    while ((ok = sys_file_next(f, g_bytes, sizeof g_bytes, &got)) && got > 0) bl_read_bytes(&g_reader, g_bytes, got);
    sys_file_close(f);
    if (!ok) {
        g_last = BL_UNREADABLE;
        (void)policy_load(sys_now(), &keep);
        allows_load();
        return g_last;
    }
    bl_read_end(&g_reader);
    rules_read(p.rules, p.rules_tmp);
    (void)policy_load(sys_now(), &keep);
    allows_load();
    g_nwork = g_reader.n;
    g_bad = g_reader.bad;
    g_first_bad = g_reader.first_bad;
    g_overfull = g_reader.total > BL_MAX;
    g_last = g_bad > 0 ? BL_BAD_LINES : g_reader.total > BL_MAX ? BL_OVERFULL : BL_OK;
    int by_name = 0;
    for (int i = 0; i < g_nwork; i++) by_name |= g_work[i].byname;
    if (by_name) models_read();
    return g_last;
}

// Temporary files of earlier versions were named blacklist.tsv.<pid>.tmp.
int old_temp_name(const char16_t* n) {
    const char* pre = data_file_name(DATA_BLACKLIST);
    size_t i = 0;
    for (; pre[i]; i++)
        if (n[i] != (char16_t)(unsigned char)pre[i]) return 0;
    if (n[i++] != u'.') return 0;
    size_t digits = 0;
    while (n[i] >= u'0' && n[i] <= u'9') i++, digits++;
    return digits > 0 && wicmp(n + i, u".tmp") == 0;
}

// One that cannot be deleted makes the create-new fail, and so the save.
void delete_stale_temps(const Paths& p) {
    (void)sys_file_delete(p.tmp);
    sys_dir* d = sys_dir_open(p.dir);
    if (!d) return;
    char16_t name[PATH_UNITS], full[PATH_UNITS];
    while (sys_dir_next(d, name, countof(name))) {
        if (!old_temp_name(name)) continue;
        full[0] = 0;
        wcat(full, countof(full), p.dir);
        wcat(full, countof(full), name);
        (void)sys_file_delete(full);  // leftovers of older versions: best effort
    }
    sys_dir_close(d);
}

// Writes g_work: a fresh temporary file, then one replace step.
int write_work(const Paths& p) {
    size_t n = bl_format(g_work, g_nwork, g_bytes, sizeof g_bytes);
    if (n == 0) return 0;
    delete_stale_temps(p);
    // Created new, never opened: a file planted in advance must not pass its
    // owner or permissions on to the blacklist.
    if (!sys_file_create(p.tmp, g_bytes, (uint32_t)n)) return 0;
    if (!sys_file_replace(p.tmp, p.file)) {
        (void)sys_file_delete(p.tmp);  // the next save deletes it if this one cannot
        return 0;
    }
    return 1;
}

void publish_work(void) {
    for (int i = 0; i < g_nwork; i++) g_bl[i] = g_work[i];
    g_bn = g_nwork;
    models_publish();
    rules_publish();
}

// The ids and models the table wants blocked, and what the last sync did
// for each: static, as they are 128 KB.
BlockWant g_want;

// What the table t (and `extra`, an entry about to be added, with its
// model) wants blocked, into g_want.
// Inside a step, the install block follows the rules as the step leaves
// them. Models or rules that cannot be read change no model block, as an
// unreadable blacklist changes none; a policy that cannot be read whole
// changes no block at all that it may account for. sync_wanted takes g_want
// as the step's prepare_blocks left it: with approvals it costs a lookup each.
void sync_wanted(block_caller who) {
    int policy = policy_outcome_last() == POLICY_UNREADABLE;
    g_want.list[BLOCK_INSTANCE_IDS].keep = policy;
    g_want.list[BLOCK_DEVICE_IDS].keep = policy;
    g_want.list[BLOCK_DEVICE_IDS].untold = models_untold() || rules_untold();
    block_sync(&g_want, who, task_runs_known());
}

void sync_blocks(block_caller who) {
    int nm, nr;
    const BlacklistModel* m = models_work(&nm);
    const Rule* r = rules_work(&nr);
    bl_wanted_all(WantInput{g_work, g_nwork, nullptr, m, nm, nullptr, r, nr, nullptr}, sys_now(), &g_want);
    sync_wanted(who);
}

// Whether the task runs this copy is asked once per process (again while
// it could not be told), and only when the sync would write a block; only
// then may the sync write.
void prepare_blocks(const WantInput& in, block_caller who) {
    bl_wanted_all(in, sys_now(), &g_want);
    if (task_runs_known() < 0 && block_would_write(&g_want)) (void)task_runs_this_copy(who == BLOCK_UNATTENDED);
}

block_outcome outcome_in(const BlockIds& ids, const char* text) {
    char16_t id[INST_UNITS];
    utf16(text, id, countof(id));
    for (int i = 0; i < ids.n; i++)
        if (wicmp(ids.id[i], id) == 0) return ids.outcome[i];
    return BLOCK_NONE;
}

BlockResult outcome_of(const BlacklistEntry& e, int model_lost) {
    BlockResult r{outcome_in(g_want.list[BLOCK_INSTANCE_IDS], e.inst), BLOCK_NONE, model_lost};
    int nm;
    const BlacklistModel* m = models_work(&nm);
    for (int i = 0; i < nm; i++)
        if (ieq_ascii(m[i].inst, e.inst) && m[i].verdict == MODEL_OK)
            r.model = outcome_in(g_want.list[BLOCK_DEVICE_IDS], m[i].model);
    return r;
}

enum Op { OP_ADD, OP_PUT, OP_REMOVE, OP_CLEAR, OP_RULE_PUT, OP_RULE_REMOVE };

// One change: what it is asked, and what it did.
struct Step {
    Op op;
    const BlacklistEntry* entry;  // ADD, PUT, REMOVE
    const BlacklistModel* model;  // kept with an ADD or a PUT, or null
    const BlacklistEntry* clear;  // CLEAR: the entries the table showed
    int nclear;
    bl_put_result put;            // what a PUT did,
    BlacklistEntry* put_entry;    // and the entry as it stands afterwards
    int models_lost;              // the model could not be kept
    const Rule* rule = nullptr;   // RULE_PUT; and what it did (0 unchanged, 1 extended, 2 added)
    Rule* rule_after = nullptr;
    int rule_what = 0;
    rule_kind kind = RULE_MODEL;  // RULE_REMOVE: the rules of this kind with this id (all with null)
    const char* rule_id = nullptr;
    Rule* gone = nullptr;         // RULE_REMOVE: room for RULES_MAX, and how many went
    int ngone = 0;
};

// Puts e into the table t of *n entries; 1 when the table changed, -1 when
// e would be one entry too many. *what and *after say what it did.
int put_into(BlacklistEntry* t, int* n, const BlacklistEntry& e, bl_put_result* what, BlacklistEntry* after) {
    for (int i = 0; i < *n; i++) {
        BlacklistEntry& old = t[i];
        int same = e.inst[0] ? ieq_ascii(old.inst, e.inst) : !old.inst[0] && strcmp(old.name, e.name) == 0;
        if (!same) continue;
        int changed = e.until > old.until || (e.byname && !old.byname);
        if (e.until > old.until) old.until = e.until;
        if (e.byname && !old.byname) old.byname = 1;
        *what = changed ? BL_PUT_EXTENDED : BL_PUT_UNCHANGED;
        *after = old;
        return changed;
    }
    if (*n >= BL_MAX) return -1;
    t[(*n)++] = e;
    *what = BL_PUT_ADDED;
    *after = e;
    return 1;
}

// Removes the first entry equal to e; 0 when there is none.
int remove_equal(const BlacklistEntry& e) {
    for (int i = 0; i < g_nwork; i++) {
        if (!same_entry(g_work[i], e)) continue;
        for (int k = i; k + 1 < g_nwork; k++) g_work[k] = g_work[k + 1];
        g_nwork--;
        return 1;
    }
    return 0;
}

// Applies the step's change to g_work; 1 when the file is to be written,
// 0 when it stands as it is, and BL_FULL / BL_GONE in *st.
int apply(Step* s, bl_status* st) {
    if (s->op == OP_ADD) {
        if (g_nwork >= BL_MAX) *st = BL_FULL;
        else g_work[g_nwork++] = *s->entry;
        return 1;
    }
    if (s->op == OP_PUT) {
        int write = put_into(g_work, &g_nwork, *s->entry, &s->put, s->put_entry);
        if (write < 0) *st = BL_FULL;
        return write;
    }
    if (s->op == OP_REMOVE) {
        if (!remove_equal(*s->entry)) *st = BL_GONE;
        return 1;
    }
    // A rule changes its own file; blacklist.tsv stands as it is. Rules
    // that ended go first, so that they neither fill the file nor are
    // lifted again.
    if (s->op == OP_RULE_PUT || s->op == OP_RULE_REMOVE) (void)rules_drop_expired(sys_now());
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
    for (int i = 0; i < s->nclear; i++) (void)remove_equal(s->clear[i]);  // gone already: skipped
    return 1;
}

bl_status change(Step* s) {
    if (!make_paths(&g_paths)) return BL_FAILED;
    sys_lock* lock = sys_lock_take(g_paths.lock, LOCK_WAIT_MS);
    if (!lock) return BL_FAILED;
    bl_status st = read_work(g_paths, 1);
    if (st == BL_OVERFULL || st == BL_BAD_LINES) {
        publish_work();  // the table shows the file's entries; nothing is written
    } else if (st == BL_OK) {
        int write = apply(s, &st);
        if (st == BL_OK && s->model) s->models_lost = !models_put(*s->model);
        if (st == BL_OK && !write) {
            // The entry stood already, or a rule changed: the file stays as it is.
            s->models_lost |= !models_save_puts() && s->model;
            if (!rules_save()) st = BL_FAILED;
            publish_work();
            sync_blocks(BLOCK_AT_CONSOLE);
        } else if (st == BL_OK) {
            if (write_work(g_paths)) {
                s->models_lost |= !models_save(g_work, g_nwork) && s->model;
                publish_work();
                sync_blocks(BLOCK_AT_CONSOLE);
            } else {
                st = BL_FAILED;
            }
        } else {
            publish_work();  // nothing to write, but the table now shows the file
        }
    }
    sys_lock_drop(lock);
    block_rescan_if_lifted();
    return st;
}

// A change of an entry about to be added: the block's question first,
// before the lock.
bl_status change_adding(Step* s) {
    prepare_blocks(WantInput{g_bl, g_bn, s->entry, g_mod, g_nmod, s->model, g_rules, g_nrules, s->rule},
                   BLOCK_AT_CONSOLE);
    return change(s);
}

// Drops the expired entries of g_work; how many went.
int drop_expired(void) {
    int64_t now = sys_now();
    int w = 0;
    for (int i = 0; i < g_nwork; i++)
        if (g_work[i].until > now) g_work[w++] = g_work[i];
    int gone = g_nwork - w;
    g_nwork = w;
    return gone;
}

// The prune of a read step; with the lock, the drop is written (and the
// models follow it). FAILED when it could not be.
bl_status prune_work(sys_lock* lock, bl_status st, int* dropped) {
    // The rules file's ended rules go too, when it may be written.
    int rules_gone = lock ? rules_drop_expired(sys_now()) : 0;
    if (rules_gone && rules_save()) *dropped += rules_gone;
    int gone = drop_expired();
    if (gone == 0) return st;
    if (!lock || !write_work(g_paths)) return BL_FAILED;
    (void)models_save(g_work, g_nwork);  // a model left over costs nothing: it is read only for its entry
    *dropped += gone;
    return st;
}

}  // namespace

bl_status bl_add(const BlacklistEntry& e, const BlacklistModel* model, BlockResult* block) {
    Step s{OP_ADD, &e, model, nullptr, 0, BL_PUT_ADDED, nullptr, 0};
    bl_status st = change_adding(&s);
    if (block) *block = outcome_of(e, s.models_lost);
    return st;
}

bl_status bl_put(const BlacklistEntry& e, const BlacklistModel* model, bl_put_result* what, BlacklistEntry* entry,
                 BlockResult* block) {
    Step s{OP_PUT, &e, model, nullptr, 0, BL_PUT_ADDED, entry, 0};
    bl_status st = change_adding(&s);
    *what = s.put;
    if (st != BL_OK) *entry = e;
    *block = st == BL_OK ? outcome_of(*entry, s.models_lost) : BlockResult{BLOCK_NONE, BLOCK_NONE, 0};
    return st;
}

bl_status bl_put_in_memory(const BlacklistEntry& e, const BlacklistModel* model, bl_put_result* what,
                           BlacklistEntry* entry) {
    if (put_into(g_bl, &g_bn, e, what, entry) < 0) return BL_FULL;
    if (model) (void)model_put_into(g_mod, &g_nmod, *model);
    return BL_OK;
}

bl_status bl_rule_put(const Rule& r, int* what, Rule* after, BlockResult* block) {
    Step s{OP_RULE_PUT, nullptr, nullptr, nullptr, 0, BL_PUT_ADDED, nullptr, 0};
    s.rule = &r;
    s.rule_after = after;
    prepare_blocks(WantInput{g_bl, g_bn, nullptr, g_mod, g_nmod, nullptr, g_rules, g_nrules, &r}, BLOCK_AT_CONSOLE);
    bl_status st = change(&s);
    *what = s.rule_what;
    if (st != BL_OK) *after = r;
    *block = BlockResult{BLOCK_NONE, st == BL_OK ? outcome_in(g_want.list[BLOCK_DEVICE_IDS], after->id) : BLOCK_NONE, 0};
    return st;
}

bl_status bl_rule_put_in_memory(const Rule& r, int* what, Rule* after) {
    for (int i = 0; i < g_nrules; i++) {
        Rule& old = g_rules[i];
        if (old.kind != r.kind || !ieq_ascii(old.id, r.id)) continue;
        *what = r.until > old.until;
        if (r.until > old.until) old.until = r.until;
        *after = old;
        return BL_OK;
    }
    if (g_nrules == RULES_MAX) return BL_FULL;
    g_rules[g_nrules++] = r;
    *what = 2;
    *after = r;
    return BL_OK;
}

bl_status bl_rule_remove(rule_kind kind, const char* id, Rule* gone, int* n) {
    Step s{OP_RULE_REMOVE, nullptr, nullptr, nullptr, 0, BL_PUT_ADDED, nullptr, 0};
    s.kind = kind;
    s.rule_id = id;
    s.gone = gone;
    bl_status st = change(&s);
    *n = st == BL_OK ? s.ngone : 0;
    return st;
}

bl_status bl_remove(const BlacklistEntry& e) {
    Step s{OP_REMOVE, &e, nullptr, nullptr, 0, BL_PUT_ADDED, nullptr, 0};
    return change(&s);
}

namespace {

// The entries a clear removes, copied: the caller's may be g_bl itself,
// which the step rewrites. Static, as they are 128 KB.
BlacklistEntry g_clear[BL_MAX];

}  // namespace

bl_status bl_remove_each(const BlacklistEntry* t, int n) {
    for (int i = 0; i < n; i++) g_clear[i] = t[i];
    Step s{OP_CLEAR, nullptr, nullptr, g_clear, n, BL_PUT_ADDED, nullptr, 0};
    return change(&s);
}

bl_status bl_clear(void) { return bl_remove_each(g_bl, g_bn); }

bl_status bl_prune(int* dropped) {
    *dropped = 0;
    if (!make_paths(&g_paths)) {
        g_bn = 0;
        g_last = BL_OK;
        return BL_OK;  // nothing can be read there, so there is nothing to drop
    }
    // A plain read that cannot have the lock in time reads without it, and
    // then never writes.
    sys_lock* lock = sys_lock_take(g_paths.lock, LOCK_WAIT_MS);
    bl_status st = read_work(g_paths, lock != nullptr);
    // Until the drop is written, the table shows the file as it stands.
    publish_work();
    if (st == BL_OK) {
        st = prune_work(lock, st, dropped);
        if (*dropped) {
            publish_work();
            sync_blocks(BLOCK_AT_CONSOLE);
        }
    }
    if (lock) sys_lock_drop(lock);
    block_rescan_if_lifted();
    return st;
}

bl_status bl_read(void) {
    if (!make_paths(&g_paths)) {
        g_bn = 0;
        g_last = BL_OK;
        return BL_OK;
    }
    sys_lock* lock = sys_lock_take(g_paths.lock, LOCK_WAIT_MS);
    bl_status st = read_work(g_paths, lock != nullptr);
    publish_work();
    if (lock) sys_lock_drop(lock);
    return st;
}

bl_status bl_pass_step(int* dropped, bl_status* synced) {
    *dropped = 0;
    *synced = BL_FAILED;
    if (!make_paths(&g_paths)) {
        g_bn = 0;
        g_last = BL_OK;
        return BL_OK;
    }
    sys_lock* lock = sys_lock_take(g_paths.lock, LOCK_WAIT_MS);
    bl_status st = read_work(g_paths, lock != nullptr);
    publish_work();
    // A policy rule that vanished in this read stays wanted for this pass:
    // a refresh empties a list before it writes it again.
    if (st != BL_UNREADABLE) (void)policy_hold();
    if (st == BL_OK) {
        st = prune_work(lock, st, dropped);
        if (*dropped) publish_work();
    }
    if (lock && st != BL_UNREADABLE) {
        // Whether the task runs this copy is asked here, after the one read,
        // since only the file says whether a block is wanted at all; the
        // sync itself then holds the machine's lock once.
        int nm, nr;
        const BlacklistModel* m = models_work(&nm);
        const Rule* r = rules_work(&nr);
        prepare_blocks(WantInput{g_work, g_nwork, nullptr, m, nm, nullptr, r, nr, nullptr}, BLOCK_UNATTENDED);
        sync_wanted(BLOCK_UNATTENDED);
        *synced = BL_OK;
    } else if (lock) {
        *synced = BL_UNREADABLE;
    }
    if (lock) sys_lock_drop(lock);
    block_rescan_if_lifted();
    return st;
}

namespace {

// The task changed hands: the blocks of every copy are lifted even when the
// lock cannot be had, since nothing would lift them afterwards; a new
// owner's own blocks are written under the lock (else by its next pass).
int hand_over(int take_over) {
    sys_lock* lock = make_paths(&g_paths) ? sys_lock_take(g_paths.lock, LOCK_WAIT_MS) : nullptr;
    int done = take_over ? block_take_over() : block_give_up();
    if (lock) {
        if (take_over && read_work(g_paths, 1) != BL_UNREADABLE) {
            publish_work();
            sync_blocks(BLOCK_AT_CONSOLE);
        }
        sys_lock_drop(lock);
    }
    block_rescan_if_lifted();
    return done;
}

}  // namespace

int bl_blocks_take_over(void) { return hand_over(1); }

int bl_blocks_give_up(void) { return hand_over(0); }

bl_status bl_last_read(void) { return g_last; }

int bl_bad_lines(int* first) {
    *first = g_first_bad;
    return g_bad;
}

int bl_overfull(void) { return g_overfull; }

int bl_index_of(const BlacklistEntry& e) {
    for (int i = 0; i < g_bn; i++)
        if (same_entry(g_bl[i], e)) return i;
    return -1;
}

int bl_in_force(int64_t now) {
    int n = 0;
    for (int i = 0; i < g_bn; i++) n += now < g_bl[i].until;
    return n;
}
