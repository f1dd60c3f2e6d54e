// The install block in the registry: the policy switch, the list of denied
// instance ids, and our record of the values we wrote.
//
// An administrator stays in charge: we never change, renumber or delete a
// list value we did not write, never write over a value that holds another
// id, and touch nothing else under the restrictions key. Each value we write
// is recorded under SOFTWARE\Quillfen\DenyInstanceIDs with the same number,
// as "<instance id>\t<path of the blacklist it came from>", so that two
// copies in different folders each manage only their own.
#include "block/block.h"

#include "base/text.h"
#include "files/datafile.h"
#include "files/exepath.h"
#include "log/log.h"
#include "proc/run.h"
#include "sys/sys.h"
#include "task/owner.h"
#include "task/task.h"

namespace {

const char16_t POLICY_KEY[] = u"SOFTWARE\\Policies\\Microsoft\\Windows\\DeviceInstall\\Restrictions";
const char16_t LIST_KEY[] = u"SOFTWARE\\Policies\\Microsoft\\Windows\\DeviceInstall\\Restrictions\\DenyInstanceIDs";
const char16_t SWITCH[] = u"DenyInstanceIDs";
const char16_t RECORD_KEY[] = u"SOFTWARE\\Quillfen\\DenyInstanceIDs";
const char16_t ENABLED_BY_US[] = u"EnabledByQuillfen";
const char16_t VERSION_KEY[] = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

// Windows 10 2004 is the first to honour the list (Policy CSP -
// DeviceInstallation).
constexpr int64_t FIRST_BUILD = 19041;
// More values than this under one key are not ours to manage; the numbers
// we pick are checked against the registry itself before each write.
constexpr int MAX_VALUES = 256;
constexpr size_t NAME_UNITS_REG = 16;


struct Record {
    char16_t name[NAME_UNITS_REG];
    char16_t id[INST_UNITS];
    int ours;  // written for this copy's blacklist
};

// What a step could not tell, for its reads failed: never taken for an
// answer, and asked again by the next step.
constexpr int UNTOLD = -2;

// What the process learns once and keeps from step to step: static, as it
// outlives each call.
struct Cache {
    int applies = -1;    // Windows honours the list here; -1 not read yet
    int task_runs = -1;  // the task runs this copy; -1 not asked in this process, UNTOLD
    int left;            // the last step left something standing (block_left)
    int said_unsupported;
    int said_disabled;
    int lifted;  // a block went since the last rescan
    char16_t blacklist_path[PATH_UNITS];  // the path our records name
};

// What each step reads afresh from the registry, and room for one value's
// name and data, an id, a log text and a record: static, as together they
// are some 600 KB.
struct Scratch {
    // The ids the list holds (the first MAX_VALUES values), to find an
    // administrator's value of an id.
    char16_t list[MAX_VALUES][INST_UNITS];
    int nlist;
    int nlist_all;     // every value of the list, kept or not
    int list_failed;   // a value of it could not be read
    uint32_t highest;  // the highest numeric name in the list
    Record rec[MAX_VALUES];
    int nrec;
    char16_t name[256], text[INST_UNITS + PATH_UNITS + 2];
    char16_t held[INST_UNITS];
    char log_text[DEV_TEXT_BYTES];
    Record old;
};

Cache g_cache;
Scratch g_s;

// A key that cannot be read at all fails at every position; the walk gives
// up after this many failures in a row rather than count to four billion.
constexpr int MAX_FAILURES = 16;

// Walks the whole list: every value counts, also one whose name or data we
// could not read, for "is the list empty" and for the highest number; the
// first MAX_VALUES are kept for finding an administrator's value of an id.
void read_list(void) {
    g_s.nlist = 0;
    g_s.nlist_all = 0;
    g_s.list_failed = 0;
    g_s.highest = 0;
    int failures = 0;
    for (uint32_t i = 0; failures < MAX_FAILURES; i++) {
        sys_reg_type type;
        sys_reg r = sys_reg_value_at(LIST_KEY, i, g_s.name, countof(g_s.name), &type, g_s.text, countof(g_s.text));
        if (r == SYS_REG_MISSING) break;
        g_s.nlist_all++;
        if (r != SYS_REG_OK) {
            failures++;
            g_s.list_failed = 1;
            continue;
        }
        failures = 0;
        uint32_t n = block_value_number(g_s.name);
        if (n > g_s.highest) g_s.highest = n;
        // A text longer than an id holds no id.
        if (g_s.nlist == MAX_VALUES || (type != SYS_REG_SZ && type != SYS_REG_EXPAND_SZ) || wlen(g_s.text) >= INST_UNITS)
            continue;
        wcopy_zero(g_s.list[g_s.nlist++], g_s.text, INST_UNITS);
    }
    if (failures == MAX_FAILURES) g_s.nlist_all = MAX_VALUES + 1;  // unreadable: never "empty"
}

enum held_state { HOLDS, HOLDS_OTHER, GONE, UNKNOWN };

// What the list value with this name holds, asked of the registry itself:
// a list too long to keep must not hide our own value.
held_state list_value(const char16_t* name, const char16_t* id) {
    sys_reg r = sys_reg_text(LIST_KEY, name, g_s.held, countof(g_s.held));
    if (r == SYS_REG_MISSING) return GONE;
    if (r != SYS_REG_OK) return UNKNOWN;
    return wicmp(g_s.held, id) == 0 ? HOLDS : HOLDS_OTHER;
}

int list_holds(const char16_t* name, const char16_t* id) { return list_value(name, id) == HOLDS; }

// Whether any value of the list (of the first MAX_VALUES) holds the id.
int list_has_id(const char16_t* id) {
    for (int i = 0; i < g_s.nlist; i++)
        if (wicmp(g_s.list[i], id) == 0) return 1;
    return 0;
}

// 0 when a record could not be read: one of ours may be missing.
int read_records(void) {
    g_s.nrec = 0;
    int whole = 1;
    if (!g_cache.blacklist_path[0] && !data_path(g_cache.blacklist_path, countof(g_cache.blacklist_path), DATA_BLACKLIST))
        g_cache.blacklist_path[0] = 0;
    int failures = 0;
    for (uint32_t i = 0; g_s.nrec < MAX_VALUES && failures < MAX_FAILURES; i++) {
        sys_reg_type type;
        sys_reg r = sys_reg_value_at(RECORD_KEY, i, g_s.name, countof(g_s.name), &type, g_s.text, countof(g_s.text));
        if (r == SYS_REG_MISSING) break;
        if (r != SYS_REG_OK) {
            failures++;
            whole = 0;
            continue;
        }
        failures = 0;
        Record& rec = g_s.rec[g_s.nrec];
        const char16_t* path;
        if (wlen(g_s.name) >= NAME_UNITS_REG || !block_record_parse(g_s.text, rec.id, &path)) continue;
        g_s.nrec++;
        wcopy_zero(rec.name, g_s.name, NAME_UNITS_REG);
        rec.ours = g_cache.blacklist_path[0] && wicmp(path, g_cache.blacklist_path) == 0;
    }
    return whole && failures < MAX_FAILURES;
}

const Record* our_record_of(const char16_t* id) {
    for (int i = 0; i < g_s.nrec; i++)
        if (g_s.rec[i].ours && wicmp(g_s.rec[i].id, id) == 0) return &g_s.rec[i];
    return nullptr;
}

int is_wanted(const BlockIds* want, const char16_t* id) {
    for (int i = 0; i < want->n; i++)
        if (wicmp(want->id[i], id) == 0) return 1;
    return 0;
}

// Whether a wanted id needs a write: ours is not in the list, and nobody
// else's value holds it either.
int needs_write(const char16_t* id) {
    const Record* r = our_record_of(id);
    if (r) return !list_holds(r->name, id);
    return !list_has_id(id);
}

// The id as the log lines show it: lower-cased.
const char* lower_id(const char16_t* id) {
    utf8(id, g_s.log_text, sizeof g_s.log_text);
    lower_ascii(g_s.log_text);
    return g_s.log_text;
}

void number_name(uint32_t n, char16_t* out) {
    char a[NAME_UNITS_REG];
    fmt(a, sizeof a, "%u", (unsigned)n);
    out[0] = 0;
    wcat8(out, NAME_UNITS_REG, a);
}

// Deletes record `r` and, while its list value still holds its id, that
// value too. What cannot be read may still be ours: the record then stays,
// and the next step tries again. 0 when the value or the record may stand.
int lift(const Record& r) {
    held_state held = list_value(r.name, r.id);
    if (held == UNKNOWN) return 0;
    if (held == HOLDS) {
        if (!sys_reg_delete_value(LIST_KEY, r.name)) return 0;
        logline(EV_UNBLOCKED, "已解除系统安装禁止 | %s", lower_id(r.id));
        g_cache.lifted = 1;
    }
    return sys_reg_delete_value(RECORD_KEY, r.name);
}

// When we switched the policy on and the last recorded value of any copy is
// gone: an empty list is "not configured" again; values an administrator
// added since keep the switch on, and only our mark of it goes. 0 when it
// should have settled and could not; a list that cannot be read is left
// alone, or we would forget the switch is ours.
int settle_switch(void) {
    uint32_t ours = 0;
    sys_reg r = sys_reg_dword(PRODUCT_KEY, ENABLED_BY_US, &ours);
    if (r == SYS_REG_MISSING || (r == SYS_REG_OK && ours != 1)) return 1;
    if (r != SYS_REG_OK) return 0;
    char16_t name[NAME_UNITS_REG];
    sys_reg_type type;
    r = sys_reg_value_at(RECORD_KEY, 0, name, countof(name), &type, nullptr, 0);
    if (r != SYS_REG_MISSING) return r == SYS_REG_OK;
    read_list();
    if (g_s.list_failed) return 0;
    if (g_s.nlist_all == 0 && !sys_reg_delete_value(POLICY_KEY, SWITCH)) return 0;
    return sys_reg_delete_value(PRODUCT_KEY, ENABLED_BY_US);
}

// The policy is on (1), or we may switch it on: only when the switch is
// absent and the list empty. A switch of 0 is an administrator's
// "Disabled" (0). -1 when it could not be read or written.
int switch_on(block_caller who) {
    uint32_t v = 0;
    sys_reg r = sys_reg_dword(POLICY_KEY, SWITCH, &v);
    if (r == SYS_REG_FAILED) return -1;
    if (r == SYS_REG_OK && v != 0) return 1;
    if (r == SYS_REG_MISSING && g_s.list_failed) return -1;
    if (r == SYS_REG_MISSING && g_s.nlist_all == 0) {
        // Our mark first: a switch we set but did not mark would stay on
        // for good, taken for an administrator's.
        if (!sys_reg_set_dword(PRODUCT_KEY, ENABLED_BY_US, 1)) return -1;
        if (sys_reg_set_dword(POLICY_KEY, SWITCH, 1)) return 1;
        (void)sys_reg_delete_value(PRODUCT_KEY, ENABLED_BY_US);
        return -1;
    }
    if (!g_cache.said_disabled && who != BLOCK_UNATTENDED) {
        logline(EV_BLOCK_DISABLED, "系统安装禁止由管理员设置为关闭，未写入");
        g_cache.said_disabled = 1;
    }
    return 0;
}

// Writes the id under the next free number, into `name`, and records it;
// a value found there meanwhile is never written over.
int write_block(const char16_t* id, char16_t* name) {
    for (uint32_t n = g_s.highest + 1; n != 0 && n <= g_s.highest + 16; n++) {
        number_name(n, name);
        char16_t held[4];
        sys_reg r = sys_reg_text(LIST_KEY, name, held, countof(held));
        if (r == SYS_REG_OK || r == SYS_REG_FAILED) continue;  // taken (or unreadable): next
        g_s.text[0] = 0;
        wcat(g_s.text, countof(g_s.text), id);
        wcat8(g_s.text, countof(g_s.text), "\t");
        wcat(g_s.text, countof(g_s.text), g_cache.blacklist_path);
        // The record first: a block must never exist that nothing would lift.
        if (!sys_reg_set_text(RECORD_KEY, name, g_s.text, SYS_REG_SZ)) return 0;
        if (!sys_reg_set_text(LIST_KEY, name, id, SYS_REG_SZ)) {
            (void)sys_reg_delete_value(RECORD_KEY, name);
            return 0;
        }
        g_s.highest = n;
        return 1;
    }
    return 0;
}

// A query that fails, or a TaskCommand that cannot be read, is UNTOLD.
int task_runs_this_copy(block_caller who) {
    if (g_cache.task_runs >= 0) return g_cache.task_runs;
    g_cache.task_runs = 0;
    char16_t exe[PATH_UNITS];
    task_state task = exe_path(exe, countof(exe)) ? task_query() : TASK_ABSENT;
    if (task != TASK_PRESENT) {
        if (task == TASK_QUERY_FAILED) g_cache.task_runs = UNTOLD;
        return g_cache.task_runs;
    }
    task_owner owner = task_owner_get();
    if (owner == OWNER_NONE && who == BLOCK_UNATTENDED) {
        // A task installed by an older version: it is what runs us now.
        g_cache.task_runs = task_owner_set() ? 1 : UNTOLD;
        return g_cache.task_runs;
    }
    g_cache.task_runs = owner == OWNER_UNKNOWN ? UNTOLD : owner == OWNER_THIS_COPY;
    return g_cache.task_runs;
}

// 1 applies, 0 does not, UNTOLD: the version or the edition cannot be read.
int applies_here(void) {
    if (g_cache.applies >= 0) return g_cache.applies;
    char16_t build[32], edition[64];
    char a[96];
    sys_reg b = sys_reg_text(VERSION_KEY, u"CurrentBuildNumber", build, countof(build));
    sys_reg e = sys_reg_text(VERSION_KEY, u"EditionID", edition, countof(edition));
    if (b == SYS_REG_FAILED || e == SYS_REG_FAILED) return UNTOLD;
    g_cache.applies = 0;
    if (b != SYS_REG_OK || e != SYS_REG_OK || !edition[0]) return 0;
    utf8(build, a, sizeof a);
    // The Home editions' ids start with "Core" (Core, CoreN, CoreSingleLanguage...).
    g_cache.applies = parse_int(a, 0, INT64_MAX) >= FIRST_BUILD && !wstarts(edition, u"Core");
    return g_cache.applies;
}

}  // namespace

int block_applies(void) { return applies_here() == 1; }

uint32_t block_value_number(const char16_t* name) {
    if (!name[0]) return 0;
    uint64_t v = 0;
    for (const char16_t* p = name; *p; p++) {
        if (*p < u'0' || *p > u'9' || v > 0xFFFFFFFFull / 10) return 0;
        v = v * 10 + (uint64_t)(*p - u'0');
    }
    return v <= 0xFFFFFFFFull ? (uint32_t)v : 0;
}

int block_record_parse(const char16_t* data, char16_t* id, const char16_t** path) {
    size_t tab = 0;
    while (data[tab] && data[tab] != u'\t') tab++;
    if (!data[tab] || tab >= INST_UNITS) return 0;  // an id longer than an id
    for (size_t i = 0; i < tab; i++) id[i] = data[i];
    id[tab] = 0;
    *path = data + tab + 1;
    return 1;
}

int block_left(void) { return g_cache.left; }

void block_prepare(const BlockIds* want, block_caller who) {
    if (g_cache.task_runs >= 0) return;
    if (want->n == 0 || applies_here() == 0) return;
    read_list();
    read_records();
    for (int i = 0; i < want->n; i++)
        if (needs_write(want->id[i])) {
            (void)task_runs_this_copy(who);
            return;
        }
}

void block_sync(BlockIds* want, block_caller who) {
    for (int i = 0; i < want->n; i++) want->outcome[i] = BLOCK_NONE;
    g_cache.left = !read_records();
    int recorded = 0;
    for (int i = 0; i < g_s.nrec; i++) recorded += g_s.rec[i].ours;
    if (want->n == 0 && recorded == 0) {
        // The usual idle pass: two registry reads. A switch an earlier step
        // could not settle is settled here.
        if (!settle_switch()) g_cache.left = 1;
        return;
    }
    read_list();
    for (int i = 0; i < g_s.nrec; i++)
        if (g_s.rec[i].ours && !is_wanted(want, g_s.rec[i].id) && !lift(g_s.rec[i])) g_cache.left = 1;
    int writing = -2;  // not asked yet: switch_on gives -1, 0 or 1
    task_owner owner = OWNER_UNKNOWN;
    int owner_read = 0;
    for (int i = 0; i < want->n; i++) {
        const char16_t* id = want->id[i];
        block_outcome& outcome = want->outcome[i];
        const Record* r = our_record_of(id);
        held_state held = r ? list_value(r->name, id) : GONE;
        if (held == HOLDS) {
            outcome = BLOCK_WRITTEN;
            continue;
        }
        if (held == UNKNOWN) {  // it may stand: never written twice
            outcome = BLOCK_FAILED;
            continue;
        }
        if (!r && list_has_id(id)) continue;  // an administrator's value holds it
        // Only while the task runs this copy: nothing else would lift it.
        // TaskCommand is read afresh under the lock before any write, for
        // another process may have installed the task from elsewhere, or
        // removed it, since this one asked.
        if (!owner_read) owner = task_owner_get(), owner_read = 1;
        int applies = applies_here();
        if (applies == 0) {
            if (owner == OWNER_THIS_COPY && !g_cache.said_unsupported && who != BLOCK_UNATTENDED) {
                logline(EV_BLOCK_UNSUPPORTED, "系统安装禁止不适用（Windows 版本或版本类型）");
                g_cache.said_unsupported = 1;
            }
            break;
        }
        if (g_cache.task_runs == 0 || g_cache.task_runs == -1 || owner == OWNER_OTHER || owner == OWNER_NONE) break;
        // What it should be cannot be told: the block is not written, and
        // says so, rather than pass for one that does not apply.
        if (applies == UNTOLD || g_cache.task_runs == UNTOLD || owner == OWNER_UNKNOWN) {
            logline(EV_BLOCK_FAILED, "写入系统安装禁止失败 | %s", lower_id(id));
            outcome = BLOCK_FAILED;
            continue;
        }
        if (writing == -2) writing = switch_on(who);
        if (writing == 0) {
            outcome = BLOCK_FAILED;
            continue;
        }
        // A record whose value went (a policy refresh may replace the whole
        // list) is written again under a free number.
        if (r) g_s.old = *r;
        char16_t name[NAME_UNITS_REG];
        if (writing > 0 && write_block(id, name)) {
            if (r) {
                if (wicmp(g_s.old.name, name) != 0) (void)sys_reg_delete_value(RECORD_KEY, g_s.old.name);
                logline(EV_BLOCK_REWRITTEN, "系统安装禁止被移除，已重新写入 | %s", lower_id(id));
            } else {
                logline(EV_BLOCKED, "已禁止系统安装 | %s", lower_id(id));
            }
            outcome = BLOCK_WRITTEN;
        } else {
            logline(EV_BLOCK_FAILED, "写入系统安装禁止失败 | %s", lower_id(id));
            outcome = BLOCK_FAILED;
        }
    }
    if (!settle_switch()) g_cache.left = 1;
}

namespace {

// 0 when a block or a record may still stand.
int lift_all(void) {
    int all = read_records();
    for (int i = 0; i < g_s.nrec; i++) all &= lift(g_s.rec[i]);
    return all;
}

}  // namespace

int block_take_over(void) {
    g_cache.task_runs = task_owner_set();
    // A TaskCommand still naming another copy would keep this copy's pass
    // from ever writing a block; without one the pass takes the task up.
    int done = g_cache.task_runs || task_owner_clear();
    done &= lift_all();
    (void)settle_switch();  // else the next pass settles it
    return done;
}

void block_give_up(void) {
    int done = task_owner_clear();
    g_cache.task_runs = 0;
    done &= lift_all();
    done &= settle_switch();
    g_cache.left = !done;
}

void block_rescan_if_lifted(void) {
    if (!g_cache.lifted) return;
    g_cache.lifted = 0;
    int code;
    (void)run_silent("pnputil.exe", u"/scan-devices /async", &code);  // a failed rescan only delays the install
}

int block_holds(const char16_t* id) {
    read_records();
    const Record* r = our_record_of(id);
    if (!r) return 0;
    read_list();
    return list_holds(r->name, id);
}

int block_count(void) {
    read_records();
    read_list();
    int n = 0;
    for (int i = 0; i < g_s.nrec; i++) n += g_s.rec[i].ours && list_holds(g_s.rec[i].name, g_s.rec[i].id);
    return n;
}
