// The install block kept in step with the ids its caller wants: the policy
// switches, the lists of denied ids, and our record of the values we wrote.
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

#include <cstring>

#include "base/text.h"
#include "block/layering.h"
#include "block/registry.h"
#include "block/view.h"
#include "log/log.h"
#include "proc/run.h"
#include "sys/sys.h"

namespace {

// What a step could not tell, for its reads failed: never taken for an
// answer, and asked again by the next step.
constexpr int UNTOLD = -2;

// What the process learns once and keeps from step to step: static, as it
// outlives each call.
struct Cache {
    int left;          // the last step left something standing (block_left)
    int said_unsupported;
    int said_disabled[BLOCK_LISTS], said_not_on[BLOCK_LISTS];
    int lifted;  // a block went since the last rescan
    char16_t saved_owner[PATH_UNITS];  // TaskCommand before a give-up, to put back
};

Cache g_cache;
// What this module's steps read of the registry: static, as it is some 3 MB.
BlockRead g_read;
// A log line's id: static, as it is 2 KB.
char g_log_text[DEV_TEXT_BYTES];

// The id as the log lines show it: lower-cased.
const char* lower_id(const char16_t* id) {
    utf8(id, g_log_text, sizeof g_log_text);
    lower_ascii(g_log_text);
    return g_log_text;
}

void number_name(uint32_t n, char16_t* out) {
    char a[NAME_UNITS_REG];
    fmt(a, sizeof a, "%u", (unsigned)n);
    out[0] = 0;
    wcat8(out, NAME_UNITS_REG, a);
}

// ---- the switch ----------------------------------------------------------------

// The policy is on (1), or we may switch it on: only where the switch is
// absent and the list empty or ours alone. 0 when it is an administrator's
// and not on; -1 when it could not be read or written.
int switch_on(const RestrictList& L, block_caller who) {
    int l = (int)(&L - LISTS);
    switch_state sw = read_switch(L);
    if (sw == SW_ON) return 1;
    if (sw == SW_UNTOLD || (sw == SW_ABSENT && (g_read.list_failed || g_read.rec_failed))) return -1;
    if (sw == SW_ABSENT && list_is_ours(g_read)) {
        // Our mark first: a switch we set but did not mark would stay on
        // for good, taken for an administrator's.
        if (!sys_reg_set_dword(PRODUCT_KEY, L.mark, 1)) return -1;
        if (sys_reg_set_dword(RESTRICTIONS_KEY, L.switch_name, 1)) return 1;
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
int settle_switch(const RestrictList& L) {
    // Read before it is deleted: the idle pass must not load what writing needs.
    sys_reg_type type;
    if (!g_read.rec_failed && records_left(g_read) == 0 && sys_reg_kind(PRODUCT_KEY, L.written, &type) != SYS_REG_MISSING &&
        !sys_reg_delete_value(PRODUCT_KEY, L.written))
        return 0;
    uint32_t ours = 0;
    sys_reg r = sys_reg_dword(PRODUCT_KEY, L.mark, &ours);
    if (r == SYS_REG_MISSING || (r == SYS_REG_OK && ours != 1)) return 1;
    if (r != SYS_REG_OK) return 0;
    switch_state sw = read_switch(L);
    if (sw == SW_UNTOLD) return 0;
    if (sw == SW_ON) {
        read_list(g_read, L);
        if (g_read.rec_failed || g_read.list_failed) return 0;
        if (records_left(g_read) > 0) return 1;
        if (g_read.nvalues == 0 && !sys_reg_delete_value(RESTRICTIONS_KEY, L.switch_name)) return 0;
    }
    return sys_reg_delete_value(PRODUCT_KEY, L.mark);
}

// ---- writing -------------------------------------------------------------------

// A record's data: the id, the blacklist's path, and the unsure mark.
void record_text(const char16_t* id, int unsure) {
    g_read.text[0] = 0;
    wcat(g_read.text, countof(g_read.text), id);
    wcat8(g_read.text, countof(g_read.text), "\t");
    wcat(g_read.text, countof(g_read.text), g_read.blacklist_path);
    if (unsure) wcat8(g_read.text, countof(g_read.text), "\t?");
}

// The list key's time after a change of ours and the values it left, so
// that the next step can tell another's change from ours. The list must be
// read, and kept true by the change.
void note_written(const RestrictList& L) {
    uint64_t t = 0;
    char16_t num[48] = {0};
    char a[48];
    if (sys_reg_key_time(L.key, &t) == SYS_REG_FAILED) return;  // the next step finds the list changed
    uint64_t print = list_print(g_read);
    if (print) fmt(a, sizeof a, "%llu\t%llu", (unsigned long long)t, (unsigned long long)print);
    else fmt(a, sizeof a, "%llu", (unsigned long long)t);
    wcat8(num, countof(num), a);
    (void)sys_reg_set_text(PRODUCT_KEY, L.written, num, SYS_REG_SZ);
}

// Someone else wrote the list since our last change: every value of ours
// that still holds its id may now be theirs. 0 when it cannot be told.
// The list must be read.
int mark_unsure(const RestrictList& L) {
    uint64_t now = 0;
    sys_reg r = sys_reg_key_time(L.key, &now);
    if (r == SYS_REG_FAILED) return 0;
    char16_t was[48];
    sys_reg w = sys_reg_text(PRODUCT_KEY, L.written, was, countof(was));
    if (w == SYS_REG_FAILED) return 0;
    char a[48];
    utf8(was, a, sizeof a);
    if (w == SYS_REG_MISSING) {
        // Nothing kept yet (a first step of this version): what stands is taken as it is.
        note_written(L);
        return 1;
    }
    // A list that could not be read whole cannot be compared: asked again next step.
    if (strchr(a, '\t') && g_read.list_failed) return 0;
    if (list_as_noted(g_read, a, now)) return 1;
    // Every copy's records: the mark goes after each one's own data.
    for (int i = 0; i < g_read.nrec; i++) {
        ListRecord& rec = g_read.rec[i];
        if (rec.unsure || held_by(g_read, L, rec.name, rec.id) != HOLDS) continue;
        if (sys_reg_text(L.records, rec.name, g_read.text, countof(g_read.text)) != SYS_REG_OK) continue;
        wcat8(g_read.text, countof(g_read.text), "\t?");
        if (sys_reg_set_text(L.records, rec.name, g_read.text, SYS_REG_SZ)) rec.unsure = 1;
    }
    note_written(L);
    return 1;
}

// Writes the id under the next free number, into `name`, and records it;
// a value found there meanwhile is never written over.
int write_block(const RestrictList& L, const char16_t* id, char16_t* name) {
    for (uint32_t n = g_read.highest + 1; n != 0 && n <= g_read.highest + 16; n++) {
        number_name(n, name);
        char16_t held[4];
        sys_reg r = sys_reg_text(L.key, name, held, countof(held));
        if (r == SYS_REG_OK || r == SYS_REG_FAILED) continue;  // taken (or unreadable): next
        record_text(id, 0);
        // The record first: a block must never exist that nothing would lift.
        if (!sys_reg_set_text(L.records, name, g_read.text, SYS_REG_SZ)) return 0;
        if (!sys_reg_set_text(L.key, name, id, SYS_REG_SZ)) {
            (void)sys_reg_delete_value(L.records, name);
            return 0;
        }
        value_added(g_read, name, id);
        note_written(L);
        return 1;
    }
    return 0;
}

// Deletes record `r` and, while its list value still holds its id, that
// value too; an unsure one is left standing and kept as such. What cannot
// be read may still be ours: the record then stays, and the next step tries
// again. 0 when the value or the record may stand.
int lift(const RestrictList& L, ListRecord& r) {
    held_state held = held_by(g_read, L, r.name, r.id);
    if (held == UNKNOWN) return 0;
    if (held == HOLDS && r.unsure) {
        // Ours or a refreshed policy's: an administrator's value is never
        // deleted, so it stays, and the screens and the log say so.
        if (!sys_reg_set_text(L.kept, r.name, r.id, SYS_REG_SZ)) return 0;
        if (L.allows) logline(EV_ALLOW_KEPT, "系统允许安装无法确认为本程序所写，已保留 | %s", lower_id(r.id));
        else logline(EV_BLOCK_KEPT, "系统安装禁止无法确认为本程序所写，已保留 | %s", lower_id(r.id));
    } else if (held == HOLDS) {
        if (!sys_reg_delete_value(L.key, r.name)) {
            if (L.allows) logline(EV_UNALLOW_FAILED, "撤下系统允许安装失败 | %s", lower_id(r.id));
            else logline(EV_UNBLOCK_FAILED, "解除系统安装禁止失败 | %s", lower_id(r.id));
            return 0;
        }
        value_forgotten(g_read, r.name);
        note_written(L);
        if (L.allows) {
            logline(EV_UNALLOWED, "已撤下系统允许安装 | %s", lower_id(r.id));
        } else {
            logline(EV_UNBLOCKED, "已解除系统安装禁止 | %s", lower_id(r.id));
            g_cache.lifted = 1;
        }
    }
    if (!sys_reg_delete_value(L.records, r.name)) return 0;
    r.gone = 1;
    return 1;
}

// Whether list L applies here: 1 applies, 0 does not, UNTOLD: the version
// or the edition cannot be read. Each list from the build that honours it;
// the allow list where layered evaluation may be used.
int applies_here(const RestrictList& L) {
    if (L.allows) {
        layering_state s = block_layering();
        return s == LAYERING_USABLE ? 1 : s == LAYERING_UNTOLD ? UNTOLD : 0;
    }
    const WindowsVersion& v = windows_version();
    if (!v.read) return UNTOLD;
    return !v.home && v.build > 0 && v.build >= L.first_build;
}

int is_wanted(const BlockIds* want, const char16_t* id) {
    for (int i = 0; i < want->n; i++)
        if (wicmp(want->id[i], id) == 0) return 1;
    return 0;
}

// Whether a wanted id needs a write: ours is not in the list, and nobody
// else's value holds it either.
int needs_write(const RestrictList& L, const char16_t* id) {
    const ListRecord* r = our_record_of(g_read, id);
    if (r) return held_by(g_read, L, r->name, id) != HOLDS;
    return !list_has_id(g_read, L, id);
}

// After the allow list's step: the layered switch we turned on goes once no
// copy has an allow value left. The records as the step left them: a lift
// marks its record gone, a write reads them again. 0 when it could not.
int settle_layering(const RestrictList& L) { return !L.allows || layering_switch_settle(g_read); }

// 0 when a block or a record may still stand.
int lift_all(const RestrictList& L) {
    read_records(g_read, L);
    read_list(g_read, L);
    // Without records there is nothing to lift, nor to mark.
    int all = !g_read.rec_failed && (g_read.nrec == 0 || mark_unsure(L));
    for (int i = 0; i < g_read.nrec; i++) all &= lift(L, g_read.rec[i]);
    read_kept(g_read, L, 1);
    return all & settle_layering(L);
}

// One list brought in line with the ids wanted of it.
void sync_list(const RestrictList& L, BlockIds* want, block_caller who, task_runs runs) {
    // Checked again under the lock, once: an allow of ours never stands
    // where layered evaluation may not be used, whatever was wanted before;
    // the step's own writes do not change the answer.
    int applies = want->n > 0 ? applies_here(L) : 1;
    if (L.allows && applies == 0) want->n = 0;
    read_records(g_read, L);
    int recorded = 0;
    for (int i = 0; i < g_read.nrec; i++) recorded += g_read.rec[i].ours;
    if (g_read.rec_failed) g_cache.left = 1;
    if (want->n == 0 && recorded == 0) {
        // The usual idle pass: two registry reads. A switch an earlier step
        // could not settle is settled here.
        if (!settle_switch(L)) g_cache.left = 1;
        if (!settle_layering(L)) g_cache.left = 1;
        return;
    }
    read_list(g_read, L);
    if (!mark_unsure(L)) {
        // Whether the list changed under us cannot be told: nothing is
        // written or lifted this time.
        g_cache.left = 1;
        for (int i = 0; i < want->n; i++) want->outcome[i] = BLOCK_FAILED;
        return;
    }
    for (int i = 0; i < g_read.nrec; i++)
        if (g_read.rec[i].ours && !is_wanted(want, g_read.rec[i].id) && (want->keep || !lift(L, g_read.rec[i])))
            g_cache.left = 1;
    int writing = -2;  // not asked yet: switch_on gives -1, 0 or 1
    task_owner owner = OWNER_UNKNOWN;
    int owner_read = 0;
    for (int i = 0; i < want->n; i++) {
        const char16_t* id = want->id[i];
        block_outcome& outcome = want->outcome[i];
        const ListRecord* r = our_record_of(g_read, id);
        held_state held = r ? held_by(g_read, L, r->name, id) : GONE;
        if (held == UNKNOWN) {  // it may stand: never written twice
            outcome = BLOCK_FAILED;
            continue;
        }
        if (held != HOLDS && !r && list_has_id(g_read, L, id)) continue;  // an administrator's value holds it
        if (!owner_read) owner = task_owner_now(who == BLOCK_UNATTENDED, runs), owner_read = 1;
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
            if (L.allows) logline(EV_ALLOW_FAILED, "写入系统允许安装失败 | %s", lower_id(id));
            else logline(EV_BLOCK_FAILED, "写入系统安装禁止失败 | %s", lower_id(id));
            outcome = BLOCK_FAILED;
            continue;
        }
        if (writing == -2) {
            // An allow value never stands without the layered switch.
            writing = L.allows ? layering_switch_on() : 1;
            if (writing == 1) writing = switch_on(L, who);
        }
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
                if (L.allows) logline(EV_ALLOW_REWRITTEN, "系统允许安装被移除，已重新写入 | %s", lower_id(id));
                else logline(EV_BLOCK_REWRITTEN, "系统安装禁止被移除，已重新写入 | %s", lower_id(id));
            } else if (L.allows) {
                logline(EV_ALLOWED, "已允许系统安装（分层评估） | %s", lower_id(id));
            } else {
                logline(EV_BLOCKED, "已禁止系统安装 | %s", lower_id(id));
            }
            // An allowed unit refused before installs at the rescan.
            g_cache.lifted |= L.allows;
            read_records(g_read, L);  // the record written, the old one gone
            outcome = BLOCK_WRITTEN;
        } else if (L.allows) {
            logline(EV_ALLOW_FAILED, "写入系统允许安装失败 | %s", lower_id(id));
            outcome = BLOCK_FAILED;
        } else {
            logline(EV_BLOCK_FAILED, "写入系统安装禁止失败 | %s", lower_id(id));
            outcome = BLOCK_FAILED;
        }
    }
    if (!settle_switch(L)) g_cache.left = 1;
    read_kept(g_read, L, 1);
    if (!settle_layering(L)) g_cache.left = 1;
}

}  // namespace

int block_applies(void) {
    return applies_here(LISTS[BLOCK_INSTANCE_IDS]) == 1 || applies_here(LISTS[BLOCK_DEVICE_IDS]) == 1;
}

int block_list_applies(block_list l) {
    int a = applies_here(LISTS[l]);
    return a == UNTOLD ? -1 : a;
}

int block_left(void) { return g_cache.left; }

int block_would_write(const BlockWant* want) {
    int any = 0, applies[BLOCK_LISTS];
    for (int l = 0; l < BLOCK_LISTS; l++) {
        applies[l] = want->list[l].n > 0 ? applies_here(LISTS[l]) : 0;
        any |= applies[l] != 0;
    }
    if (!any) return 0;
    // A look without the machine's lock, so that a step holds it once: a
    // read torn by another copy's step costs at most a question asked for
    // nothing, or a write left to the next step.
    // A switch that went (a policy back to "not configured") is to be
    // turned on again over values of ours alone: that is a write too.
    int ask = 0;
    for (int l = 0; l < BLOCK_LISTS && !ask; l++) {
        const BlockIds& ids = want->list[l];
        if (ids.n == 0 || applies[l] == 0) continue;
        read_list(g_read, LISTS[l]);
        read_records(g_read, LISTS[l]);
        ask = read_switch(LISTS[l]) != SW_ON;
        for (int i = 0; i < ids.n && !ask; i++) ask = needs_write(LISTS[l], ids.id[i]);
    }
    return ask;
}

void block_sync(BlockWant* want, block_caller who, task_runs runs) {
    for (BlockIds& ids : want->list)
        for (int i = 0; i < ids.n; i++) ids.outcome[i] = BLOCK_NONE;
    g_cache.left = 0;
    block_view_stale();
    MachineLock lock(who);
    if (!lock.m) {
        // Nothing is written without it; what needed writing failed.
        g_cache.left = 1;
        for (BlockIds& ids : want->list)
            for (int i = 0; i < ids.n; i++) ids.outcome[i] = BLOCK_FAILED;
        return;
    }
    // The allow list first: its values go before a model block is given up,
    // and are there before a model block they spare is written.
    const block_list order[] = {BLOCK_ALLOW_IDS, BLOCK_INSTANCE_IDS, BLOCK_DEVICE_IDS};
    for (block_list l : order) {
        if (!want->list[l].untold) {
            sync_list(LISTS[l], &want->list[l], who, runs);
            continue;
        }
        // Left as it stands: a value of ours in it may be one nobody wants,
        // and what is wanted was not written.
        read_records(g_read, LISTS[l]);
        for (int i = 0; i < g_read.nrec; i++) g_cache.left |= g_read.rec[i].ours;
        g_cache.left |= g_read.rec_failed;
        for (int i = 0; i < want->list[l].n; i++) want->list[l].outcome[i] = BLOCK_FAILED;
    }
}

int block_take_over(void) {
    block_view_stale();
    // The lifting is done even without the lock: once the task runs this
    // copy, nothing else would lift the other copies' blocks.
    MachineLock lock(BLOCK_AT_CONSOLE);
    int recorded = task_owner_set();
    task_runs_settle(recorded ? RUNS_YES : RUNS_NO);
    // A TaskCommand still naming another copy would keep this copy's pass
    // from ever writing a block; without one the pass takes the task up.
    int done = recorded || task_owner_clear();
    for (const RestrictList& L : LISTS) {
        done &= lift_all(L);
        (void)settle_switch(L);  // else the next pass settles it
    }
    return done && lock.m;
}

int block_give_up(void) {
    block_view_stale();
    MachineLock lock(BLOCK_AT_CONSOLE);
    // While the task is deleted no pass may write a block again, not even
    // one taking over what looks like an older version's task.
    int done = task_owner_save(g_cache.saved_owner, countof(g_cache.saved_owner)) && task_owner_removing();
    task_runs_settle(RUNS_NO);
    for (const RestrictList& L : LISTS) {
        done &= lift_all(L);
        done &= settle_switch(L);
    }
    g_cache.left = !done || !lock.m;
    return !g_cache.left;
}

namespace {

// 1 when the key holds no value (or is not there).
int key_empty(const char16_t* key) { return key_has_values(key) == 0; }

// Once the task is gone: our keys that hold nothing go, so that an
// uninstall leaves no empty key behind. A key with another copy's record
// or TaskCommand in it holds a value, and one with subkeys left is not
// deleted (sys_reg_delete_key), so nothing of anyone's goes with them.
void tidy_keys(void) {
    for (const RestrictList& L : LISTS) {
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

// pnputil has /scan-devices from Windows 10 2004 (19041) on; before that, and
// where it fails, the configuration manager is asked. A failed rescan only
// delays the install to the next plug-in.
void block_rescan_if_lifted(void) {
    if (!g_cache.lifted) return;
    g_cache.lifted = 0;
    const WindowsVersion& v = windows_version();
    int code;
    if (!(v.read && v.build > 0 && v.build < 19041) && run_silent("pnputil.exe", u"/scan-devices /async", &code) &&
        code == 0)
        return;
    (void)sys_rescan();
}
