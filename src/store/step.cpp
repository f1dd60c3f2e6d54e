// A locked step of the blacklist: the files, the lock, the book, and the
// install block kept in step inside it.
#include "store/step.h"

#include "base/text.h"
#include "files/datafile.h"
#include "local/modelfile.h"
#include "local/rulefile.h"
#include "local/tsv.h"
#include "policy/allows.h"
#include "policy/policyread.h"
#include "rules/wanted.h"
#include "task/owner.h"

namespace {

// Another of our processes may hold the lock while it saves; a user at the
// menu can wait this long.
constexpr uint32_t LOCK_WAIT_MS = 10000;

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

// The table as the current step read it and changed it, and what the read
// found of it and of the sources read with it: static, as it is 128 KB.
BlacklistEntry g_work[BL_MAX];
int g_nwork;
SourceRead g_read;
PolicyRead g_policy;
AdminAllows g_allows;
// A file of 64 entries is about 126 KB; reads go through it in pieces.
char g_bytes[256 * 1024];
// The reader's line buffer is 2 KB.
bl_reader g_reader;

// The book and the tables it shows, as the last step published them: the
// tables this module owns. Static, as they are 330 KB.
BlacklistEntry g_entries[BL_MAX];
int g_nentries;
BlacklistModel g_models[BL_MAX];
int g_nmodels;
Rule g_rules[RULES_MAX];
int g_nrules;
RuleBook g_book = [] {
    RuleBook b{};
    b.entries = g_entries;
    b.models = g_models;
    b.rules = g_rules;
    return b;
}();

void read_rest(int locked, int rules) {
    const PolicyKeep keep{g_paths.dir, g_paths.policy, g_paths.policy_tmp, locked};
    if (rules) rules_read(g_paths.rules, g_paths.rules_tmp);
    // Policy stands apart from the files: its mode and errors are told
    // even when the blacklist cannot be read.
    g_policy = policy_load(sys_now(), &keep);
    g_allows = allows_load();
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
void delete_stale_temps(void) {
    (void)sys_file_delete(g_paths.tmp);
    sys_dir* d = sys_dir_open(g_paths.dir);
    if (!d) return;
    char16_t name[PATH_UNITS], full[PATH_UNITS];
    while (sys_dir_next(d, name, countof(name))) {
        if (!old_temp_name(name)) continue;
        full[0] = 0;
        wcat(full, countof(full), g_paths.dir);
        wcat(full, countof(full), name);
        (void)sys_file_delete(full);  // leftovers of older versions: best effort
    }
    sys_dir_close(d);
}

// The ids and models the rules want blocked, and what the last sync did
// for each: static, as they are 128 KB.
BlockWant g_want;

}  // namespace

int step_open(sys_lock** lock) {
    *lock = nullptr;
    if (!make_paths(&g_paths)) return 0;
    *lock = sys_lock_take(g_paths.lock, LOCK_WAIT_MS);
    return 1;
}

void step_close(sys_lock* lock) {
    if (lock) sys_lock_drop(lock);
    block_rescan_if_lifted();
}

bl_status step_read(int locked) {
    models_begin(g_paths.models, g_paths.models_tmp);
    rules_forget();
    g_nwork = 0;
    g_read = SourceRead{SOURCE_OK, 0, 0, 0};
    sys_read r;
    sys_file* f = sys_file_open(g_paths.file, &r);
    if (!f) {
        int missing = r == SYS_READ_MISSING;
        if (!missing) g_read.state = SOURCE_UNREADABLE;
        read_rest(locked, missing);
        return missing ? BL_OK : BL_UNREADABLE;
    }
    bl_read_start(&g_reader, g_work);
    uint32_t got = 0;
    int ok;
    while ((ok = sys_file_next(f, g_bytes, sizeof g_bytes, &got)) && got > 0) bl_read_bytes(&g_reader, g_bytes, got);
    sys_file_close(f);
    if (!ok) {
        g_read.state = SOURCE_UNREADABLE;
        read_rest(locked, 0);
        return BL_UNREADABLE;
    }
    bl_read_end(&g_reader);
    read_rest(locked, 1);
    g_nwork = g_reader.n;
    g_read.bad = g_reader.bad;
    g_read.first_bad = g_reader.first_bad;
    g_read.overfull = g_reader.total > BL_MAX;
    g_read.state = g_read.bad > 0 ? SOURCE_BAD_LINES : g_read.overfull ? SOURCE_OVERFULL : SOURCE_OK;
    int by_name = 0;
    for (int i = 0; i < g_nwork; i++) by_name |= g_work[i].byname;
    if (by_name) models_read();
    return bl_read_status(g_read);
}

BlacklistEntry* step_entries(int** n) {
    *n = &g_nwork;
    return g_work;
}

int step_write(void) {
    size_t n = bl_format(g_work, g_nwork, g_bytes, sizeof g_bytes);
    if (n == 0) return 0;
    delete_stale_temps();
    // Created new, never opened: a file planted in advance must not pass its
    // owner or permissions on to the blacklist.
    if (!sys_file_create(g_paths.tmp, g_bytes, (uint32_t)n)) return 0;
    if (!sys_file_replace(g_paths.tmp, g_paths.file)) {
        (void)sys_file_delete(g_paths.tmp);  // the next save deletes it if this one cannot
        return 0;
    }
    return 1;
}

void step_publish(int keep_held) {
    for (int i = 0; i < g_nwork; i++) g_entries[i] = g_work[i];
    g_nentries = g_nwork;
    int n;
    const BlacklistModel* m = models_work(&n);
    for (int i = 0; i < n; i++) g_models[i] = m[i];
    g_nmodels = n;
    const Rule* r = rules_work(&n);
    for (int i = 0; i < n; i++) g_rules[i] = r[i];
    g_nrules = n;
    RuleBook& b = g_book;
    b.nentries = g_nentries;
    b.blacklist = g_read;
    b.nmodels = g_nmodels;
    b.models_file = models_source();
    b.nrules = g_nrules;
    b.rules_file = rules_source();
    b.policy = g_policy.rules;
    b.npolicy = g_policy.n;
    if (!keep_held) {
        b.held = nullptr;
        b.nheld = 0;
    }
    b.errors = g_policy.errors;
    b.nerrors = g_policy.nerrors;
    b.error_sum = g_policy.error_sum;
    b.ended = g_policy.ended;
    b.nended = g_policy.nexpired;
    b.policy_read = g_policy.outcome;
    b.mode = g_policy.mode;
    b.layering_never = g_policy.layering == LAYERING_NEVER;
    b.allows = g_allows.t;
    b.nallows = g_allows.n;
    b.coming = nullptr;
    b.coming_model = nullptr;
    b.coming_rule = nullptr;
    b.generation++;
}

void step_hold_policy(void) {
    PolicyHeld held = policy_hold(g_policy);
    g_book.held = held.rules;
    g_book.nheld = held.n;
    g_book.generation++;  // what is worked out of the book counts the held rules too
}

const RuleBook& bl_book(void) { return g_book; }

BlacklistEntry* book_entries(int** n) {
    *n = &g_book.nentries;
    g_book.generation++;
    return g_entries;
}

BlacklistModel* book_models(int** n) {
    *n = &g_book.nmodels;
    g_book.generation++;
    return g_models;
}

Rule* book_rules(int** n) {
    *n = &g_book.nrules;
    g_book.generation++;
    return g_rules;
}

void step_prepare_blocks(const RuleBook& with, block_caller who, GivenUpList* given_up) {
    bl_wanted_all(with, sys_now(), &g_want, given_up);
    if (task_runs_known() < 0 && block_would_write(&g_want)) (void)task_runs_this_copy(who == BLOCK_UNATTENDED);
}

void step_sync_blocks(block_caller who, int prepared) {
    const RuleBook& b = g_book;
    if (!prepared) bl_wanted_all(b, sys_now(), &g_want);
    int policy = b.policy_read == POLICY_UNREADABLE;
    g_want.list[BLOCK_INSTANCE_IDS].keep = policy;
    g_want.list[BLOCK_DEVICE_IDS].keep = policy;
    g_want.list[BLOCK_DEVICE_IDS].untold = b.models_file.state != SOURCE_OK || b.rules_file.state != SOURCE_OK;
    block_sync(&g_want, who, task_runs_known());
}

int step_wants_models(void) { return g_want.list[BLOCK_DEVICE_IDS].n > 0; }

block_outcome step_outcome(block_list l, const char* text) {
    const BlockIds& ids = g_want.list[l];
    char16_t id[INST_UNITS];
    utf16(text, id, countof(id));
    for (int i = 0; i < ids.n; i++)
        if (wicmp(ids.id[i], id) == 0) return ids.outcome[i];
    return BLOCK_NONE;
}

BlockResult step_outcome_of(const BlacklistEntry& e, int model_lost) {
    BlockResult r{step_outcome(BLOCK_INSTANCE_IDS, e.inst), BLOCK_NONE, model_lost};
    int nm;
    const BlacklistModel* m = models_work(&nm);
    for (int i = 0; i < nm; i++)
        if (ieq_ascii(m[i].inst, e.inst) && m[i].verdict == MODEL_OK) r.model = step_outcome(BLOCK_DEVICE_IDS, m[i].model);
    return r;
}

bl_status bl_read_status(const RuleBook& b) { return bl_read_status(b.blacklist); }

bl_status bl_read_status(const SourceRead& r) {
    switch (r.state) {
    case SOURCE_UNREADABLE: return BL_UNREADABLE;
    case SOURCE_BAD_LINES: return BL_BAD_LINES;
    case SOURCE_OVERFULL: return BL_OVERFULL;
    default: return BL_OK;
    }
}
