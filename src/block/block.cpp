// The install block in the registry: the policy switch, the list of denied
// instance ids, and our record of the values we wrote.
//
// An administrator stays in charge: we never change, renumber or delete a
// list value we did not write, never write over a value that holds another
// id, never touch a switch we did not turn on, and touch nothing else under
// the restrictions key. Each value we write is recorded under
// SOFTWARE\Quillfen\DenyInstanceIDs with the same number, as
// "<instance id>\t<path of the blacklist it came from>", so that two copies
// in different folders each manage only their own.
//
// A policy refresh rewrites the whole list, and may put the same id at the
// number we wrote. So we keep the list key's time as it stood after our own
// last change: when it changed since, someone else wrote the list, and a
// value of ours that still holds our id may now be theirs. Such a value is
// marked unsure ("\t?" after the record's path); at its entry's end it is
// left standing, its record dropped, and that is said.
#include "block/block.h"

#include "base/text.h"
#include "files/datafile.h"
#include "log/log.h"
#include "proc/run.h"
#include "sys/sys.h"

namespace {

const char16_t POLICY_KEY[] = u"SOFTWARE\\Policies\\Microsoft\\Windows\\DeviceInstall\\Restrictions";
const char16_t VERSION_KEY[] = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
// Every copy, whatever its folder or session, takes it before it reads or
// writes the block's values, so that no step sees another's half done.
const char16_t MUTEX[] = u"Global\\Quillfen-Block";
// As long as the blacklist's lock waits: a user at the menu can wait this long.
constexpr uint32_t LOCK_WAIT_MS = 10000;

// One of Windows' deny lists, and what we keep of it under our own key.
struct List {
    const char16_t* switch_name;  // the policy's switch, under POLICY_KEY
    const char16_t* key;          // the list
    const char16_t* records;      // our record of each value we wrote
    const char16_t* mark;         // under PRODUCT_KEY: we turned the switch on
    const char16_t* written;      // under PRODUCT_KEY: the list key's time after our last change
    const char16_t* kept;         // values left standing that may be an administrator's
};

// In the order of enum block_list. Each switch has a mark of its own, so
// that neither list's step can take the other's switch for its own.
const List LISTS[BLOCK_LISTS] = {
    {
        u"DenyInstanceIDs",
        u"SOFTWARE\\Policies\\Microsoft\\Windows\\DeviceInstall\\Restrictions\\DenyInstanceIDs",
        u"SOFTWARE\\Quillfen\\DenyInstanceIDs",
        u"EnabledByQuillfen",
        u"DenyInstanceIDsWritten",
        u"SOFTWARE\\Quillfen\\DenyInstanceIDsKept",
    },
    {
        u"DenyDeviceIDs",
        u"SOFTWARE\\Policies\\Microsoft\\Windows\\DeviceInstall\\Restrictions\\DenyDeviceIDs",
        u"SOFTWARE\\Quillfen\\DenyDeviceIDs",
        u"DeviceIDsEnabledByQuillfen",
        u"DenyDeviceIDsWritten",
        u"SOFTWARE\\Quillfen\\DenyDeviceIDsKept",
    },
};

// Windows 10 2004 is the first to honour the list (Policy CSP -
// DeviceInstallation).
constexpr int64_t FIRST_BUILD = 19041;
// Values of one list, of every copy's records, and of kept values: the
// whole list is read in one pass whatever its length up to this; a longer
// one is not ours to change.
constexpr int MAX_VALUES = 16384;
constexpr int MAX_RECORDS = 512;
constexpr size_t NAME_UNITS_REG = 16;
// A key that cannot be read at all fails at every position; a walk gives
// up after this many failures in a row rather than count to four billion.
constexpr int MAX_FAILURES = 16;
// What a step could not tell, for its reads failed: never taken for an
// answer, and asked again by the next step.
constexpr int UNTOLD = -2;

struct Value {
    char16_t name[NAME_UNITS_REG];
    uint64_t hash;     // of its text, A-Z lower-cased; 0 when it holds no id
    uint8_t longname;  // a name longer than any we write: never one of ours
};

struct Record {
    char16_t name[NAME_UNITS_REG];
    char16_t id[INST_UNITS];
    uint8_t ours;    // written for this copy's blacklist
    uint8_t unsure;  // the list changed since: the value may be someone else's
    uint8_t gone;    // deleted by this step
};

// What the process learns once and keeps from step to step: static, as it
// outlives each call.
struct Cache {
    int applies = -1;  // Windows honours the list here; -1 not read yet, UNTOLD
    int left;          // the last step left something standing (block_left)
    int said_unsupported, said_no_lock;
    int said_disabled[BLOCK_LISTS], said_not_on[BLOCK_LISTS];
    int lifted;  // a block went since the last rescan
    int viewed;  // block_look's reading stands: nothing changed since
    char16_t blacklist_path[PATH_UNITS];  // the path our records name
    char16_t saved_owner[PATH_UNITS];     // TaskCommand before a give-up, to put back
};

// What a step reads from the registry, and room for one value's name and
// data, a record's path and a log text: static, as together they are some
// 1.4 MB. Each step reads it afresh; the screens read it once per drawing.
struct Scratch {
    Value values[MAX_VALUES];
    int nvalues;
    int list_failed;   // a value of it could not be read, or it is too long
    uint32_t highest;  // the highest numeric name in the list
    Record rec[MAX_RECORDS];
    int nrec;
    int rec_failed;    // a record could not be read: one of ours may be missing
    int kept;          // values we left that still stand
    char16_t name[256], text[INST_UNITS + PATH_UNITS + 4], path[PATH_UNITS];
    char log_text[DEV_TEXT_BYTES];
};

Cache g_cache;
Scratch g_s;

// The machine-wide lock for one step; a step without it writes nothing.
struct MachineLock {
    sys_mutex* m;
    explicit MachineLock(block_caller who) : m(sys_mutex_take(MUTEX, LOCK_WAIT_MS)) {
        if (m || g_cache.said_no_lock) return;
        logline(EV_BLOCK_LOCK_BUSY, "系统安装禁止的锁被占用，未修改");
        g_cache.said_no_lock = who == BLOCK_UNATTENDED ? 0 : 1;
    }
    ~MachineLock() {
        if (m) sys_mutex_drop(m);
    }
};

uint64_t hash_of(const char16_t* s) {
    uint64_t h = 1469598103934665603ULL;
    for (; *s; s++) {
        char16_t c = *s >= u'A' && *s <= u'Z' ? (char16_t)(*s + 32) : *s;
        h = (h ^ c) * 1099511628211ULL;
    }
    return h ? h : 1;
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

// ---- reading ----------------------------------------------------------------

// The whole list in one pass: every value counts, also one whose name or
// data could not be read, for "is the list empty" and for the highest number.
void read_list(const List& L) {
    g_s.nvalues = 0;
    g_s.list_failed = 0;
    g_s.highest = 0;
    int failures = 0;
    for (uint32_t i = 0; failures < MAX_FAILURES; i++) {
        sys_reg_type type;
        sys_reg r = sys_reg_value_at(L.key, i, g_s.name, countof(g_s.name), &type, g_s.text, countof(g_s.text));
        if (r == SYS_REG_MISSING) break;
        if (r != SYS_REG_OK || g_s.nvalues == MAX_VALUES) {
            failures += r != SYS_REG_OK;
            g_s.list_failed = 1;
            continue;
        }
        failures = 0;
        Value& v = g_s.values[g_s.nvalues++];
        v.longname = wlen(g_s.name) >= NAME_UNITS_REG;
        wcopy_zero(v.name, g_s.name, NAME_UNITS_REG - 1);
        v.name[NAME_UNITS_REG - 1] = 0;
        uint32_t n = block_value_number(g_s.name);
        if (n > g_s.highest) g_s.highest = n;
        // A text of another type, or longer than an id, holds no id.
        int id = (type == SYS_REG_SZ || type == SYS_REG_EXPAND_SZ) && g_s.text[0] && wlen(g_s.text) < INST_UNITS;
        v.hash = id ? hash_of(g_s.text) : 0;
    }
    if (failures == MAX_FAILURES) g_s.list_failed = 1;
}

const Value* value_named(const char16_t* name) {
    for (int i = 0; i < g_s.nvalues; i++)
        if (!g_s.values[i].longname && wicmp(g_s.values[i].name, name) == 0) return &g_s.values[i];
    return nullptr;
}

void forget_value(const char16_t* name) {
    for (int i = 0; i < g_s.nvalues; i++)
        if (!g_s.values[i].longname && wicmp(g_s.values[i].name, name) == 0) {
            g_s.values[i] = g_s.values[--g_s.nvalues];
            return;
        }
}

// Whether the value holds exactly this id: the hash finds it, the registry
// confirms it.
int value_holds(const List& L, const Value& v, const char16_t* id) {
    if (v.hash != hash_of(id)) return 0;
    if (v.longname) return 1;  // not to be read again by its cut name: the hash must do
    sys_reg r = sys_reg_text(L.key, v.name, g_s.text, countof(g_s.text));
    return r == SYS_REG_OK && wicmp(g_s.text, id) == 0;
}

enum held_state { HOLDS, HOLDS_OTHER, GONE, UNKNOWN };

held_state held_by(const List& L, const char16_t* name, const char16_t* id) {
    const Value* v = value_named(name);
    if (!v) return g_s.list_failed ? UNKNOWN : GONE;
    if (v->hash != hash_of(id)) return HOLDS_OTHER;
    sys_reg r = sys_reg_text(L.key, v->name, g_s.text, countof(g_s.text));
    if (r == SYS_REG_MISSING) return GONE;
    if (r != SYS_REG_OK) return UNKNOWN;
    return wicmp(g_s.text, id) == 0 ? HOLDS : HOLDS_OTHER;
}

// Whether any value of the list holds the id.
int list_has_id(const List& L, const char16_t* id) {
    for (int i = 0; i < g_s.nvalues; i++)
        if (value_holds(L, g_s.values[i], id)) return 1;
    return 0;
}

// Every copy's records.
void read_records(const List& L) {
    g_s.nrec = 0;
    g_s.rec_failed = 0;
    if (!g_cache.blacklist_path[0] && !data_path(g_cache.blacklist_path, countof(g_cache.blacklist_path), DATA_BLACKLIST))
        g_cache.blacklist_path[0] = 0;
    int failures = 0;
    for (uint32_t i = 0; failures < MAX_FAILURES; i++) {
        sys_reg_type type;
        sys_reg r = sys_reg_value_at(L.records, i, g_s.name, countof(g_s.name), &type, g_s.text, countof(g_s.text));
        if (r == SYS_REG_MISSING) break;
        if (r != SYS_REG_OK || g_s.nrec == MAX_RECORDS) {
            failures += r != SYS_REG_OK;
            g_s.rec_failed = 1;
            continue;
        }
        failures = 0;
        Record& rec = g_s.rec[g_s.nrec];
        int unsure;
        if (wlen(g_s.name) >= NAME_UNITS_REG ||
            !block_record_parse(g_s.text, rec.id, g_s.path, countof(g_s.path), &unsure))
            continue;
        g_s.nrec++;
        wcopy_zero(rec.name, g_s.name, NAME_UNITS_REG);
        rec.ours = g_cache.blacklist_path[0] && wicmp(g_s.path, g_cache.blacklist_path) == 0;
        rec.unsure = (uint8_t)unsure;
        rec.gone = 0;
    }
    if (failures == MAX_FAILURES) g_s.rec_failed = 1;
}

const Record* our_record_of(const char16_t* id) {
    for (int i = 0; i < g_s.nrec; i++)
        if (g_s.rec[i].ours && !g_s.rec[i].gone && wicmp(g_s.rec[i].id, id) == 0) return &g_s.rec[i];
    return nullptr;
}

int records_left(void) {
    int n = 0;
    for (int i = 0; i < g_s.nrec; i++) n += !g_s.rec[i].gone;
    return n;
}

// Whether every value of the list is a record of some copy of Quillfen: a
// list of ours alone may be switched on again where the switch went.
int list_is_ours(void) {
    if (g_s.list_failed || g_s.rec_failed) return 0;
    for (int i = 0; i < g_s.nvalues; i++) {
        int recorded = 0;
        for (int k = 0; k < g_s.nrec && !recorded && !g_s.values[i].longname; k++)
            recorded = !g_s.rec[k].gone && wicmp(g_s.rec[k].name, g_s.values[i].name) == 0 &&
                       g_s.values[i].hash == hash_of(g_s.rec[k].id);
        if (!recorded) return 0;
    }
    return 1;
}

// ---- the switch ----------------------------------------------------------------

enum switch_state { SW_ON, SW_OFF, SW_OTHER, SW_ABSENT, SW_UNTOLD };

// DWORD 1 is on, DWORD 0 an administrator's "Disabled"; anything else is an
// administrator's too, and nothing we would read as on.
switch_state read_switch(const List& L) {
    sys_reg_type type;
    sys_reg r = sys_reg_kind(POLICY_KEY, L.switch_name, &type);
    if (r == SYS_REG_MISSING) return SW_ABSENT;
    if (r != SYS_REG_OK) return SW_UNTOLD;
    if (type != SYS_REG_DWORD) return SW_OTHER;
    uint32_t v = 0;
    if (sys_reg_dword(POLICY_KEY, L.switch_name, &v) != SYS_REG_OK) return SW_UNTOLD;
    return v == 1 ? SW_ON : v == 0 ? SW_OFF : SW_OTHER;
}

// The policy is on (1), or we may switch it on: only where the switch is
// absent and the list empty or ours alone. 0 when it is an administrator's
// and not on; -1 when it could not be read or written.
int switch_on(const List& L, block_caller who) {
    int l = (int)(&L - LISTS);
    switch_state sw = read_switch(L);
    if (sw == SW_ON) return 1;
    if (sw == SW_UNTOLD || (sw == SW_ABSENT && (g_s.list_failed || g_s.rec_failed))) return -1;
    if (sw == SW_ABSENT && list_is_ours()) {
        // Our mark first: a switch we set but did not mark would stay on
        // for good, taken for an administrator's.
        if (!sys_reg_set_dword(PRODUCT_KEY, L.mark, 1)) return -1;
        if (sys_reg_set_dword(POLICY_KEY, L.switch_name, 1)) return 1;
        (void)sys_reg_delete_value(PRODUCT_KEY, L.mark);
        return -1;
    }
    if (who == BLOCK_UNATTENDED) return 0;
    if (sw == SW_OFF && !g_cache.said_disabled[l]) {
        logline(EV_BLOCK_DISABLED, "系统安装禁止由管理员设置为关闭，未写入");
        g_cache.said_disabled[l] = 1;
    } else if (sw != SW_OFF && !g_cache.said_not_on[l]) {
        logline(EV_BLOCK_NOT_ON, "系统安装禁止的策略未启用，列表或开关属于他人，未写入");
        g_cache.said_not_on[l] = 1;
    }
    return 0;
}

// When we switched the policy on: a switch that no longer holds DWORD 1 is
// an administrator's, and only our mark goes; one that does goes back to
// "not configured" once no copy has a value left and the list is empty,
// and stays on for an administrator's values. 0 when it should have
// settled and could not.
// The records must be read; the list is read here. Once no copy has a
// value left, the list's time is forgotten too: there is nothing it would
// protect.
int settle_switch(const List& L) {
    // Read before it is deleted: the idle pass must not load what writing needs.
    sys_reg_type type;
    if (!g_s.rec_failed && records_left() == 0 && sys_reg_kind(PRODUCT_KEY, L.written, &type) != SYS_REG_MISSING &&
        !sys_reg_delete_value(PRODUCT_KEY, L.written))
        return 0;
    uint32_t ours = 0;
    sys_reg r = sys_reg_dword(PRODUCT_KEY, L.mark, &ours);
    if (r == SYS_REG_MISSING || (r == SYS_REG_OK && ours != 1)) return 1;
    if (r != SYS_REG_OK) return 0;
    switch_state sw = read_switch(L);
    if (sw == SW_UNTOLD) return 0;
    if (sw == SW_ON) {
        read_list(L);
        if (g_s.rec_failed || g_s.list_failed) return 0;
        if (records_left() > 0) return 1;
        if (g_s.nvalues == 0 && !sys_reg_delete_value(POLICY_KEY, L.switch_name)) return 0;
    }
    return sys_reg_delete_value(PRODUCT_KEY, L.mark);
}

// ---- writing -------------------------------------------------------------------

// A record's data: the id, the blacklist's path, and the unsure mark.
void record_text(const char16_t* id, int unsure) {
    g_s.text[0] = 0;
    wcat(g_s.text, countof(g_s.text), id);
    wcat8(g_s.text, countof(g_s.text), "\t");
    wcat(g_s.text, countof(g_s.text), g_cache.blacklist_path);
    if (unsure) wcat8(g_s.text, countof(g_s.text), "\t?");
}

// The list key's time after a change of ours, so that the next step can
// tell another's change from ours.
void note_written(const List& L) {
    uint64_t t = 0;
    char16_t num[24] = {0};
    char a[24];
    if (sys_reg_key_time(L.key, &t) == SYS_REG_FAILED) return;  // the next step finds the list changed
    fmt(a, sizeof a, "%llu", (unsigned long long)t);
    wcat8(num, countof(num), a);
    (void)sys_reg_set_text(PRODUCT_KEY, L.written, num, SYS_REG_SZ);
}

// Someone else wrote the list since our last change: every value of ours
// that still holds its id may now be theirs. 0 when it cannot be told.
int mark_unsure(const List& L) {
    uint64_t now = 0;
    sys_reg r = sys_reg_key_time(L.key, &now);
    if (r == SYS_REG_FAILED) return 0;
    char16_t was[24];
    sys_reg w = sys_reg_text(PRODUCT_KEY, L.written, was, countof(was));
    if (w == SYS_REG_FAILED) return 0;
    char a[32];
    utf8(was, a, sizeof a);
    if (w == SYS_REG_MISSING) {
        // Nothing kept yet (a first step of this version): what stands is taken as it is.
        note_written(L);
        return 1;
    }
    if ((uint64_t)parse_int(a, 0, INT64_MAX) == now) return 1;
    // Every copy's records: the mark goes after each one's own data.
    for (int i = 0; i < g_s.nrec; i++) {
        Record& rec = g_s.rec[i];
        if (rec.unsure || held_by(L, rec.name, rec.id) != HOLDS) continue;
        if (sys_reg_text(L.records, rec.name, g_s.text, countof(g_s.text)) != SYS_REG_OK) continue;
        wcat8(g_s.text, countof(g_s.text), "\t?");
        if (sys_reg_set_text(L.records, rec.name, g_s.text, SYS_REG_SZ)) rec.unsure = 1;
    }
    note_written(L);
    return 1;
}

// Writes the id under the next free number, into `name`, and records it;
// a value found there meanwhile is never written over.
int write_block(const List& L, const char16_t* id, char16_t* name) {
    for (uint32_t n = g_s.highest + 1; n != 0 && n <= g_s.highest + 16; n++) {
        number_name(n, name);
        char16_t held[4];
        sys_reg r = sys_reg_text(L.key, name, held, countof(held));
        if (r == SYS_REG_OK || r == SYS_REG_FAILED) continue;  // taken (or unreadable): next
        record_text(id, 0);
        // The record first: a block must never exist that nothing would lift.
        if (!sys_reg_set_text(L.records, name, g_s.text, SYS_REG_SZ)) return 0;
        if (!sys_reg_set_text(L.key, name, id, SYS_REG_SZ)) {
            (void)sys_reg_delete_value(L.records, name);
            return 0;
        }
        g_s.highest = n;
        if (g_s.nvalues < MAX_VALUES) {
            Value& v = g_s.values[g_s.nvalues++];
            wcopy_zero(v.name, name, NAME_UNITS_REG);
            v.hash = hash_of(id);
        }
        note_written(L);
        return 1;
    }
    return 0;
}

// Deletes record `r` and, while its list value still holds its id, that
// value too; an unsure one is left standing and kept as such. What cannot
// be read may still be ours: the record then stays, and the next step tries
// again. 0 when the value or the record may stand.
int lift(const List& L, Record& r) {
    held_state held = held_by(L, r.name, r.id);
    if (held == UNKNOWN) return 0;
    if (held == HOLDS && r.unsure) {
        // Ours or a refreshed policy's: an administrator's value is never
        // deleted, so it stays, and the screens and the log say so.
        if (!sys_reg_set_text(L.kept, r.name, r.id, SYS_REG_SZ)) return 0;
        logline(EV_BLOCK_KEPT, "系统安装禁止无法确认为本程序所写，已保留 | %s", lower_id(r.id));
    } else if (held == HOLDS) {
        if (!sys_reg_delete_value(L.key, r.name)) {
            logline(EV_UNBLOCK_FAILED, "解除系统安装禁止失败 | %s", lower_id(r.id));
            return 0;
        }
        forget_value(r.name);
        note_written(L);
        logline(EV_UNBLOCKED, "已解除系统安装禁止 | %s", lower_id(r.id));
        g_cache.lifted = 1;
    }
    if (!sys_reg_delete_value(L.records, r.name)) return 0;
    r.gone = 1;
    return 1;
}

// Kept values that no longer stand as they were are forgotten; the rest
// are counted for the screens.
void tidy_kept(const List& L, int may_write) {
    g_s.kept = 0;
    int failures = 0;
    for (uint32_t i = 0; failures < MAX_FAILURES;) {
        sys_reg_type type;
        sys_reg r = sys_reg_value_at(L.kept, i, g_s.name, countof(g_s.name), &type, g_s.path, countof(g_s.path));
        if (r == SYS_REG_MISSING) break;
        if (r != SYS_REG_OK) {
            failures++, i++;
            continue;
        }
        failures = 0;
        const Value* v = value_named(g_s.name);
        if (v && v->hash == hash_of(g_s.path)) {
            g_s.kept++;
            i++;
        } else if (!may_write || g_s.list_failed || !sys_reg_delete_value(L.kept, g_s.name)) {
            i++;
        }
    }
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

int is_wanted(const BlockIds* want, const char16_t* id) {
    for (int i = 0; i < want->n; i++)
        if (wicmp(want->id[i], id) == 0) return 1;
    return 0;
}

// Whether a wanted id needs a write: ours is not in the list, and nobody
// else's value holds it either.
int needs_write(const List& L, const char16_t* id) {
    const Record* r = our_record_of(id);
    if (r) return held_by(L, r->name, id) != HOLDS;
    return !list_has_id(L, id);
}

// 0 when a block or a record may still stand.
int lift_all(const List& L) {
    read_records(L);
    read_list(L);
    // Without records there is nothing to lift, nor to mark.
    int all = !g_s.rec_failed && (g_s.nrec == 0 || mark_unsure(L));
    for (int i = 0; i < g_s.nrec; i++) all &= lift(L, g_s.rec[i]);
    tidy_kept(L, 1);
    return all;
}

// One list brought in line with the ids wanted of it.
void sync_list(const List& L, BlockIds* want, block_caller who, task_runs runs) {
    read_records(L);
    int recorded = 0;
    for (int i = 0; i < g_s.nrec; i++) recorded += g_s.rec[i].ours;
    if (g_s.rec_failed) g_cache.left = 1;
    if (want->n == 0 && recorded == 0) {
        // The usual idle pass: two registry reads. A switch an earlier step
        // could not settle is settled here.
        if (!settle_switch(L)) g_cache.left = 1;
        return;
    }
    read_list(L);
    if (!mark_unsure(L)) {
        // Whether the list changed under us cannot be told: nothing is
        // written or lifted this time.
        g_cache.left = 1;
        for (int i = 0; i < want->n; i++) want->outcome[i] = BLOCK_FAILED;
        return;
    }
    for (int i = 0; i < g_s.nrec; i++)
        if (g_s.rec[i].ours && !is_wanted(want, g_s.rec[i].id) && !lift(L, g_s.rec[i])) g_cache.left = 1;
    int writing = -2;  // not asked yet: switch_on gives -1, 0 or 1
    task_owner owner = OWNER_UNKNOWN;
    int owner_read = 0;
    for (int i = 0; i < want->n; i++) {
        const char16_t* id = want->id[i];
        block_outcome& outcome = want->outcome[i];
        const Record* r = our_record_of(id);
        held_state held = r ? held_by(L, r->name, id) : GONE;
        if (held == UNKNOWN) {  // it may stand: never written twice
            outcome = BLOCK_FAILED;
            continue;
        }
        if (held != HOLDS && !r && list_has_id(L, id)) continue;  // an administrator's value holds it
        if (!owner_read) owner = task_owner_now(who == BLOCK_UNATTENDED, runs), owner_read = 1;
        int applies = applies_here();
        if (applies == 0) {
            if (owner == OWNER_THIS_COPY && !g_cache.said_unsupported && who != BLOCK_UNATTENDED) {
                logline(EV_BLOCK_UNSUPPORTED, "系统安装禁止不适用（Windows 版本或版本类型）");
                g_cache.said_unsupported = 1;
            }
            break;
        }
        // Only while the task runs this copy: nothing else would lift it.
        int not_ours = owner == OWNER_OTHER || owner == OWNER_NONE || owner == OWNER_REMOVING || runs == RUNS_NO ||
                       runs == RUNS_UNASKED;
        int untold = applies == UNTOLD || runs == RUNS_UNTOLD || owner == OWNER_UNKNOWN;
        if (held == HOLDS && (not_ours || untold)) {
            // Not this step's to switch on; it counts while on.
            outcome = read_switch(L) == SW_ON ? BLOCK_WRITTEN : BLOCK_NONE;
            continue;
        }
        if (not_ours) break;
        // What it should be cannot be told: the block is not written, and
        // says so, rather than pass for one that does not apply.
        if (untold) {
            logline(EV_BLOCK_FAILED, "写入系统安装禁止失败 | %s", lower_id(id));
            outcome = BLOCK_FAILED;
            continue;
        }
        if (writing == -2) writing = switch_on(L, who);
        if (held == HOLDS) {
            // A value counts only while Windows honours the list.
            outcome = writing == 1 ? BLOCK_WRITTEN : writing == 0 ? BLOCK_NONE : BLOCK_FAILED;
            continue;
        }
        if (writing == 0) {  // an administrator's switch: said once, nothing written
            outcome = BLOCK_FAILED;
            continue;
        }
        // A record whose value went (a policy refresh may replace the whole
        // list) is written again under a free number.
        char16_t old_name[NAME_UNITS_REG] = {0};
        if (r) wcopy_zero(old_name, r->name, NAME_UNITS_REG);
        char16_t name[NAME_UNITS_REG];
        if (writing > 0 && write_block(L, id, name)) {
            if (r) {
                if (wicmp(old_name, name) != 0) (void)sys_reg_delete_value(L.records, old_name);
                logline(EV_BLOCK_REWRITTEN, "系统安装禁止被移除，已重新写入 | %s", lower_id(id));
            } else {
                logline(EV_BLOCKED, "已禁止系统安装 | %s", lower_id(id));
            }
            read_records(L);  // the record written, the old one gone
            outcome = BLOCK_WRITTEN;
        } else {
            logline(EV_BLOCK_FAILED, "写入系统安装禁止失败 | %s", lower_id(id));
            outcome = BLOCK_FAILED;
        }
    }
    if (!settle_switch(L)) g_cache.left = 1;
    tidy_kept(L, 1);
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

int block_record_parse(const char16_t* data, char16_t* id, char16_t* path, size_t units, int* unsure) {
    size_t tab = 0;
    while (data[tab] && data[tab] != u'\t') tab++;
    if (!data[tab] || tab >= INST_UNITS) return 0;  // an id longer than an id
    const char16_t* p = data + tab + 1;
    size_t n = 0;
    while (p[n] && p[n] != u'\t') n++;
    // After the path only the unsure mark may stand.
    *unsure = p[n] == u'\t';
    if (*unsure && (p[n + 1] != u'?' || p[n + 2])) return 0;
    if (n + 1 > units) return 0;
    for (size_t i = 0; i < tab; i++) id[i] = data[i];
    id[tab] = 0;
    for (size_t i = 0; i < n; i++) path[i] = p[i];
    path[n] = 0;
    return 1;
}

int block_left(void) { return g_cache.left; }

int block_would_write(const BlockWant* want) {
    if ((want->list[0].n == 0 && want->list[1].n == 0) || applies_here() == 0) return 0;
    // A look without the machine's lock, so that a step holds it once: a
    // read torn by another copy's step costs at most a question asked for
    // nothing, or a write left to the next step.
    // A switch that went (a policy back to "not configured") is to be
    // turned on again over values of ours alone: that is a write too.
    int ask = 0;
    for (int l = 0; l < BLOCK_LISTS && !ask; l++) {
        const BlockIds& ids = want->list[l];
        if (ids.n == 0) continue;
        read_list(LISTS[l]);
        read_records(LISTS[l]);
        ask = read_switch(LISTS[l]) != SW_ON;
        for (int i = 0; i < ids.n && !ask; i++) ask = needs_write(LISTS[l], ids.id[i]);
    }
    return ask;
}

void block_sync(BlockWant* want, block_caller who, task_runs runs) {
    for (BlockIds& ids : want->list)
        for (int i = 0; i < ids.n; i++) ids.outcome[i] = BLOCK_NONE;
    g_cache.left = 0;
    g_cache.viewed = 0;
    MachineLock lock(who);
    if (!lock.m) {
        // Nothing is written without it; what needed writing failed.
        g_cache.left = 1;
        for (BlockIds& ids : want->list)
            for (int i = 0; i < ids.n; i++) ids.outcome[i] = BLOCK_FAILED;
        return;
    }
    for (int l = 0; l < BLOCK_LISTS; l++) {
        if (!want->list[l].untold) {
            sync_list(LISTS[l], &want->list[l], who, runs);
            continue;
        }
        // Left as it stands: a value of ours in it may be one nobody wants.
        read_records(LISTS[l]);
        for (int i = 0; i < g_s.nrec; i++) g_cache.left |= g_s.rec[i].ours;
        g_cache.left |= g_s.rec_failed;
    }
}

int block_take_over(void) {
    g_cache.viewed = 0;
    // The lifting is done even without the lock: once the task runs this
    // copy, nothing else would lift the other copies' blocks.
    MachineLock lock(BLOCK_AT_CONSOLE);
    int recorded = task_owner_set();
    task_runs_settle(recorded ? RUNS_YES : RUNS_NO);
    // A TaskCommand still naming another copy would keep this copy's pass
    // from ever writing a block; without one the pass takes the task up.
    int done = recorded || task_owner_clear();
    for (const List& L : LISTS) {
        done &= lift_all(L);
        (void)settle_switch(L);  // else the next pass settles it
    }
    return done && lock.m;
}

int block_give_up(void) {
    g_cache.viewed = 0;
    MachineLock lock(BLOCK_AT_CONSOLE);
    // While the task is deleted no pass may write a block again, not even
    // one taking over what looks like an older version's task.
    int done = task_owner_save(g_cache.saved_owner, countof(g_cache.saved_owner)) && task_owner_removing();
    task_runs_settle(RUNS_NO);
    for (const List& L : LISTS) {
        done &= lift_all(L);
        done &= settle_switch(L);
    }
    g_cache.left = !done || !lock.m;
    return !g_cache.left;
}

namespace {

// 1 when the key holds no value (or is not there).
int key_empty(const char16_t* key) {
    char16_t name[8], text[8];
    sys_reg_type type;
    return sys_reg_value_at(key, 0, name, countof(name), &type, text, countof(text)) == SYS_REG_MISSING;
}

// Once the task is gone: our keys that hold nothing go, so that an
// uninstall leaves no empty key behind. A key with another copy's record
// or TaskCommand in it holds a value, and one with subkeys left is not
// deleted (sys_reg_delete_key), so nothing of anyone's goes with them.
void tidy_keys(void) {
    for (const List& L : LISTS) {
        if (key_empty(L.records)) (void)sys_reg_delete_key(L.records);
        if (key_empty(L.kept)) (void)sys_reg_delete_key(L.kept);
    }
    if (key_empty(PRODUCT_KEY)) (void)sys_reg_delete_key(PRODUCT_KEY);
}

}  // namespace

int block_give_up_end(int task_gone) {
    MachineLock lock(BLOCK_AT_CONSOLE);
    task_owner owner = task_owner_get();
    if (owner == OWNER_THIS_COPY || owner == OWNER_OTHER) return 1;  // another install came meanwhile
    // A task that stays runs on as before: its next pass takes its blocks up again.
    if (!task_gone) return owner != OWNER_REMOVING || task_owner_restore(g_cache.saved_owner);
    int cleared = owner == OWNER_NONE || task_owner_clear();
    if (cleared && lock.m) tidy_keys();
    return cleared;
}

void block_rescan_if_lifted(void) {
    if (!g_cache.lifted) return;
    g_cache.lifted = 0;
    int code;
    (void)run_silent("pnputil.exe", u"/scan-devices /async", &code);  // a failed rescan only delays the install
}

// ---- for the screens -------------------------------------------------------------

namespace {

// What a drawing shows of each list: this copy's values in force, and the
// values it left standing. Static: some 128 KB.
constexpr int VIEW_MAX = 128;
struct View {
    char16_t held[VIEW_MAX][INST_UNITS];
    int nheld;
    int count;
    int kept;
};
View g_view[BLOCK_LISTS];

void ensure_view(void) {
    if (!g_cache.viewed) block_look();
}

}  // namespace

void block_look(void) {
    // A drawing that cannot have the lock reads without it: it changes nothing.
    MachineLock lock(BLOCK_AT_CONSOLE);
    for (int l = 0; l < BLOCK_LISTS; l++) {
        const List& L = LISTS[l];
        View& v = g_view[l];
        v.nheld = v.count = 0;
        read_records(L);
        read_list(L);
        tidy_kept(L, 0);
        v.kept = g_s.kept;
        // A value counts only while Windows honours the list.
        if (read_switch(L) != SW_ON) continue;
        for (int i = 0; i < g_s.nrec; i++) {
            if (!g_s.rec[i].ours || held_by(L, g_s.rec[i].name, g_s.rec[i].id) != HOLDS) continue;
            v.count++;
            if (v.nheld < VIEW_MAX) wcopy_zero(v.held[v.nheld++], g_s.rec[i].id, INST_UNITS);
        }
    }
    g_cache.viewed = 1;
}

int block_holds(block_list list, const char16_t* id) {
    ensure_view();
    for (int i = 0; i < g_view[list].nheld; i++)
        if (wicmp(g_view[list].held[i], id) == 0) return 1;
    return 0;
}

int block_count(block_list list) {
    ensure_view();
    return g_view[list].count;
}

int block_kept(void) {
    ensure_view();
    return g_view[0].kept + g_view[1].kept;
}
