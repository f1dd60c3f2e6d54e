// The steps of the demonstration. Quillfen's part (its exit codes, the
// values it writes and lifts, what its documents say) fails a step when it
// is wrong; Windows' part, where Quillfen's is right, can only show that
// this PC cannot demonstrate it.
#include "selftest/steps.h"

#include "block/layering.h"
#include "block/registry.h"
#include "files/datafile.h"
#include "log/log.h"
#include "selftest/devices.h"
#include "selftest/journal.h"
#include "selftest/keys.h"
#include "selftest/report.h"
#include "sys/sys.h"

namespace {

constexpr uint32_t INSTALL_WAIT_MS = 60000;
// The task starts a few seconds after the device's event, and its pass
// takes a few more.
constexpr int TASK_WAIT_S = 30;
constexpr int RESCAN_WAIT_S = 15;
constexpr int SETTLE_S = 10;

const char* const INSTANCE[RUN_DEVICES] = {"canary", "model1", "model2", "model3", "task2", "task1"};

// The id the system gives when it decorates nothing, as the canary showed.
void plain_id(const Context& c, int which, char* out, size_t size) {
    fmt(out, size, "SWD\\%s\\%s", c.enumerator, INSTANCE[which]);
}

// The device's hardware id and its name, both holding the nonce.
void identity(const Context& c, int which, char* hw, size_t hw_size, char* name, size_t name_size) {
    if (which == DEV_MODEL_REFUSED || which == DEV_MODEL_SPARED || which == DEV_MODEL_AGAIN) {
        scopy(hw, hw_size, c.model);
        fmt(name, name_size, "Quillfen self-test %s model unit %s", c.nonce, INSTANCE[which] + 5);
    } else if (which == DEV_CANARY) {
        fmt(hw, hw_size, "%s\\Canary", c.enumerator);
        fmt(name, name_size, "Quillfen self-test %s canary", c.nonce);
    } else {
        fmt(hw, hw_size, "%s\\Task", c.enumerator);
        fmt(name, name_size, "QFST%s task device %s", c.nonce, INSTANCE[which] + 4);
    }
}

// Plugs the device in, written in the journal first, and waits for
// Windows to decide its install.
sys_swdev_made plug(Context& c, int which) {
    Made& d = c.dev[which];
    char hw[128], name[128], expected[128];
    identity(c, which, hw, sizeof hw, name, sizeof name);
    plain_id(c, which, expected, sizeof expected);
    if (!journal_note(c.journal, "device", expected)) {
        say("the journal cannot be written: %s is not made", expected);
        d.slot = -1;
        return SYS_SWDEV_FAILED;
    }
    char16_t enumerator[32], instance[16], hw16[130], name16[128];
    utf16(c.enumerator, enumerator, countof(enumerator));
    utf16(INSTANCE[which], instance, countof(instance));
    size_t n = utf16(hw, hw16, countof(hw16) - 1);
    hw16[n + 1] = 0;  // the list's second terminator
    utf16(name, name16, countof(name16));
    sys_swdev_made m = sys_swdev_create(enumerator, instance, hw16, name16, INSTALL_WAIT_MS, &d.slot, d.id, INST_UNITS);
    if (m != SYS_SWDEV_MADE) {
        d.slot = -1;
        return m;
    }
    utf8(d.id, d.id8, sizeof d.id8);
    if (!sys_dev_wait_installs(INSTALL_WAIT_MS)) say("installs were still pending after %u s", INSTALL_WAIT_MS / 1000);
    // "No install pending" is true when it is said: a device attached
    // without a driver and without a problem may still be installing.
    uint32_t problem;
    for (int s = 0; s < SETTLE_S && device_seen(d.id, &problem) == SEEN_NOT_STARTED && problem == 0; s++) {
        sys_sleep(1000);
        (void)sys_dev_wait_installs(1000);
    }
    return m;
}

void unplug(Context& c, int which) {
    if (c.dev[which].slot < 0) return;
    sys_swdev_close(c.dev[which].slot);
    c.dev[which].slot = -1;
}

const char* seen_text(dev_seen s, uint32_t problem, char* buf, size_t size) {
    if (s == SEEN_STARTED) return "installed and started";
    if (s == SEEN_NO_RECORD) return "no record left";
    if (s == SEEN_NOT_PRESENT) return "not present";
    fmt(buf, size, "not installed (problem code %u)", (unsigned)problem);
    return buf;
}

dev_seen look(const Made& d) {
    uint32_t problem;
    char buf[64];
    dev_seen s = device_seen(d.id, &problem);
    say("%s: %s", d.id8, seen_text(s, problem, buf, sizeof buf));
    return s;
}

// Windows' decision on a device just plugged in: 1 refused, 0 installed,
// -1 cannot be told (its record went before it could be read, and no
// audit event names it).
int refused(const Made& d) {
    dev_seen s = look(d);
    if (s == SEEN_STARTED) return 0;
    int e = sys_event_seen(u"Security", u"Microsoft-Windows-Security-Auditing", 6423, d.id, 3600);
    say("event 6423 (install forbidden by policy) for it: %s",
        e > 0 ? "logged" : e == 0 ? "not found" : "the Security log cannot be read");
    return s == SEEN_NOT_STARTED || e > 0 ? 1 : -1;
}

// A rule about to be made, written in the journal first.
int note_rule(Context& c, const char* kind, const char* text) {
    if (c.nrules == (int)countof(c.rules) || !journal_note(c.journal, kind, text)) return 0;
    scopy(c.rules[c.nrules].kind, sizeof c.rules[0].kind, kind);
    scopy(c.rules[c.nrules++].text, sizeof c.rules[0].text, text);
    return 1;
}

// Whether a value of the list key holds the id, A-Z taken as a-z.
int listed(const char16_t* list, const char* id8) {
    static char16_t name[256], text[INST_UNITS], want[INST_UNITS];
    utf16(id8, want, countof(want));
    RegWalk w;
    reg_walk_open(&w, list, name, countof(name), text, countof(text));
    while (reg_walk_next(&w))
        if (w.type == SYS_REG_SZ && wicmp(text, want) == 0) return 1;
    return 0;
}

int switch_on(block_list l) { return read_switch(LISTS[l]) == SW_ON; }

int layered_on(void) {
    uint32_t v = 0;
    return sys_reg_dword(RESTRICTIONS_KEY, LAYERED, &v) == SYS_REG_OK && v == 1;
}

// What --blist --json says of the object holding "key":"value": a boolean
// member; -1 when it is not listed.
int blist_says(const Context& c, const char* key, const char* value, const char* member, char* reason = nullptr,
               size_t size = 0) {
    if (qf_run(c.qf, {"--blist", "--json"}) < 0) return -1;
    const char* end;
    const char* obj = peek_object(qf_output(), key, value, &end);
    if (!obj) return -1;
    if (reason) (void)peek_text(obj, end, "model_block_reason", reason, size);
    return peek_bool(obj, end, member);
}

// This PC cannot show the step; the run goes on.
run_end cannot(const char* why) {
    judge(VERDICT_CANNOT, "%s", why);
    return RUN_DONE;
}

// The canary says this environment cannot demonstrate the block at all.
run_end cannot_at_all(const char* why) {
    judge(VERDICT_CANNOT, "%s", why);
    return RUN_CANNOT;
}

run_end stopped(const char* why) {
    judge(VERDICT_FAIL, "%s", why);
    return RUN_STOPPED;
}

// ---- the steps ----------------------------------------------------------------

run_end canary(Context& c) {
    step("The canary: Windows refuses a software device once Quillfen blocks its instance id");
    Made& d = c.dev[DEV_CANARY];
    sys_swdev_made m = plug(c, DEV_CANARY);
    if (m == SYS_SWDEV_UNAVAILABLE) return cannot_at_all("software devices cannot be made here");
    if (m != SYS_SWDEV_MADE) return cannot_at_all("Windows did not make the software device");
    if (look(d) != SEEN_STARTED) return cannot_at_all("Windows does not install the canary even without a block: nothing to compare");
    if (!note_rule(c, "id", d.id8)) return stopped("the journal cannot be written");
    if (qf_run(c.qf, {"--blacklist", "--id", d.id8, "--hours", "1"}) != 0) return stopped("quillfen --blacklist --id failed");
    int blocked = blist_says(c, "instance_id", d.id8, "install_blocked");
    if (blocked == 0)
        return cannot_at_all("Quillfen writes no install block on this PC (a Home edition, or a build before Windows 10 2004)");
    if (blocked < 0) return stopped("quillfen --blist --json does not list the entry");
    if (!listed(LISTS[BLOCK_INSTANCE_IDS].key, d.id8) || !switch_on(BLOCK_INSTANCE_IDS))
        return stopped("DenyInstanceIDs does not hold the id under its switch, though Quillfen says it is blocked");
    say("DenyInstanceIDs holds it, its switch on");
    // A record that was installed is not installed again when it returns:
    // only a new record meets the block.
    unplug(c, DEV_CANARY);
    if (!device_uninstall(d.id)) return cannot_at_all("the canary's record could not be uninstalled");
    char first[sizeof d.id8];
    scopy(first, sizeof first, d.id8);
    if (plug(c, DEV_CANARY) != SYS_SWDEV_MADE) return cannot_at_all("Windows did not make the canary again");
    if (!ieq_ascii(first, d.id8)) {
        say("it came back as %s", d.id8);
        return cannot_at_all("Windows gave the re-created device another id: a block by instance id cannot be shown with "
                      "software devices here");
    }
    int r = refused(d);
    if (r == 0) return cannot_at_all("Windows installed the device despite the block: software devices are not subject to "
                              "the installation restrictions here");
    if (r < 0) return cannot_at_all("Windows' decision could not be read before the record went");
    judge(VERDICT_PASS, "Windows refused the re-created device: a block by instance id works here");
    return RUN_DONE;
}

void hex4(unsigned v, char* out) {
    for (int i = 3; i >= 0; i--, v >>= 4) out[i] = "0123456789ABCDEF"[v & 15];
    out[4] = 0;
}

// A USB-style id from the nonce that no device has: the first of a few tries.
int choose_model(Context& c) {
    uint64_t h = FNV_START;
    for (const char* p = c.nonce; *p; p++) h = fnv_step(h, (unsigned char)*p);
    for (int k = 0; k < 16; k++, h = fnv_step(h, 0x5A)) {
        char vid[5], pid[5];
        hex4((unsigned)(h >> 48), vid);
        hex4((unsigned)h, pid);
        fmt(c.model, sizeof c.model, "USB\\VID_%s&PID_%s", vid, pid);
        char16_t m16[64];
        utf16(c.model, m16, countof(m16));
        int taken = device_id_taken(m16);
        if (taken == 0) return 1;
        if (taken < 0) return 0;
    }
    return 0;
}

run_end by_model(Context& c) {
    step("Refusal by model: a model rule keeps a new device of that model from installing");
    if (!choose_model(c)) return stopped("no USB-style id free of every device here could be found");
    say("%s matches no present or recorded device", c.model);
    char name[64];
    fmt(name, sizeof name, "Quillfen self-test %s", c.nonce);
    if (!note_rule(c, "model", c.model)) return stopped("the journal cannot be written");
    if (qf_run(c.qf, {"--blacklist", "--model", c.model, "--hours", "1", "--name", name}) != 0)
        return stopped("quillfen --blacklist --model failed");
    if (!listed(LISTS[BLOCK_DEVICE_IDS].key, c.model) || !switch_on(BLOCK_DEVICE_IDS))
        return stopped("DenyDeviceIDs does not hold the model under its switch");
    say("DenyDeviceIDs holds it, its switch on");
    if (plug(c, DEV_MODEL_REFUSED) != SYS_SWDEV_MADE) return cannot("Windows did not make the software device");
    int r = refused(c.dev[DEV_MODEL_REFUSED]);
    say("Quillfen's pass does not remove this one: it reaches a model only on devices whose instance id starts "
        "with the model's bus and vendor, and a software device's starts with SWD\\ (docs/admin.md)");
    if (r == 0) cannot("Windows installed a device whose hardware id DenyDeviceIDs holds");
    else if (r < 0) cannot("Windows' decision could not be read before the record went");
    else judge(VERDICT_PASS, "Windows refused a new device of the blocked model");
    return RUN_DONE;
}

run_end spared(Context& c) {
    step("A unit spared under layered evaluation, the rest of its model still refused");
    char unit[128];
    plain_id(c, DEV_MODEL_SPARED, unit, sizeof unit);
    // Plugged in first, and refused as its model is blocked: an approval
    // tells which model's block it is to outrank by the unit's hardware ids,
    // which Quillfen reads from the record Windows keeps.
    if (plug(c, DEV_MODEL_SPARED) != SYS_SWDEV_MADE || !ieq_ascii(c.dev[DEV_MODEL_SPARED].id8, unit))
        return cannot("Windows did not make the unit to approve under its id");
    (void)look(c.dev[DEV_MODEL_SPARED]);
    if (!note_rule(c, "approve", unit)) return stopped("the journal cannot be written");
    if (qf_run(c.qf, {"--approve", "--id", unit, "--hours", "1"}) != 0) return stopped("quillfen --approve --id failed");
    char reason[128];
    int kept = blist_says(c, "model_id", c.model, "model_blocked", reason, sizeof reason);
    if (kept == 0 && reason[0]) {
        say("Quillfen gives up the model block here: %s", reason);
        judge(VERDICT_CANNOT, "layered evaluation cannot be used here, so an approved unit cannot be shown");
        return RUN_DONE;
    }
    if (kept != 1) {
        judge(VERDICT_FAIL, "approving one unit gave up its model's block without a reason");
        return RUN_DONE;
    }
    int layered = qf_run(c.qf, {"--check", "--json"}) >= 0 && peek_bool(qf_output(), qf_output() + strlen(qf_output()), "layering_set") == 1;
    if (!listed(LISTS[BLOCK_ALLOW_IDS].key, unit) || !layered_on() || !switch_on(BLOCK_ALLOW_IDS) ||
        !listed(LISTS[BLOCK_DEVICE_IDS].key, c.model) || !layered) {
        judge(VERDICT_FAIL, "the allow list, its switches or the model's block are not as Quillfen says");
        return RUN_DONE;
    }
    say("AllowInstanceIDs holds the unit, AllowDenyLayered and its switch on, DenyDeviceIDs keeps the model");
    // Windows decides again when the unit arrives again.
    unplug(c, DEV_MODEL_SPARED);
    if (plug(c, DEV_MODEL_SPARED) != SYS_SWDEV_MADE) return cannot("Windows did not make the approved unit again");
    if (look(c.dev[DEV_MODEL_SPARED]) != SEEN_STARTED) return cannot("Windows refused the approved unit despite the allow");
    if (plug(c, DEV_MODEL_AGAIN) != SYS_SWDEV_MADE) return cannot("Windows did not make the software device");
    int r = refused(c.dev[DEV_MODEL_AGAIN]);
    if (r == 0) cannot("Windows installed another unit of the model beside the approved one");
    else if (r < 0) cannot("Windows' decision could not be read before the record went");
    else judge(VERDICT_PASS, "the approved unit installed, another unit of the model was refused");
    return RUN_DONE;
}

// Whether Quillfen's log holds the text (lower-cased, as it logs ids). The
// log has no size bound: it is searched a chunk at a time, each chunk
// behind the tail of the one before, so that a line across two is found.
int logged(const Context& c, const char* text) {
    char16_t path[PATH_UNITS];
    if (!tested_file(c.qf, data_file_name(DATA_LOG), path, countof(path))) return 0;
    char want[INST_UNITS * 3];
    scopy(want, sizeof want, text);
    lower_ascii(want);
    if (!want[0]) return 0;
    size_t keep_max = strlen(want) - 1;
    static char buf[(64 << 10) + sizeof want];
    sys_read r;
    sys_file* f = sys_file_open(path, &r);
    if (!f) return 0;
    size_t keep = 0;
    uint32_t got;
    int found = 0;
    while (!found && sys_file_next(f, buf + keep, 64 << 10, &got) && got) {
        size_t n = keep + got;
        buf[n] = 0;
        found = strstr(buf, want) != nullptr;
        keep = n < keep_max ? n : keep_max;
        memmove(buf, buf + n - keep, keep);
    }
    sys_file_close(f);
    return found;
}

run_end task(Context& c) {
    step("The scheduled task: a device of a blocked name is removed on arrival, an approved one stays");
    char rule[64], spared[128];
    fmt(rule, sizeof rule, "qfst%s task", c.nonce);
    lower_ascii(rule);  // as Quillfen keeps a name
    if (!note_rule(c, "name", rule)) return stopped("the journal cannot be written");
    uint64_t before = tree_print(RESTRICTIONS_KEY);
    if (qf_run(c.qf, {"--blacklist", "--name", rule, "--hours", "1"}) != 0) return stopped("quillfen --blacklist --name failed");
    if (tree_print(RESTRICTIONS_KEY) != before) judge(VERDICT_FAIL, "a rule by name changed the install restrictions");
    else say("the install restrictions are unchanged: a rule by name writes nothing to Windows");
    plain_id(c, DEV_TASK_SPARED, spared, sizeof spared);
    if (!note_rule(c, "approve", spared)) return stopped("the journal cannot be written");
    if (qf_run(c.qf, {"--approve", "--id", spared, "--hours", "1"}) != 0) return stopped("quillfen --approve --id failed");
    // The approved one first: the pass that removes the other has seen it.
    if (plug(c, DEV_TASK_SPARED) != SYS_SWDEV_MADE || plug(c, DEV_TASK_REMOVED) != SYS_SWDEV_MADE)
        return cannot("Windows did not make the software devices");
    const Made& gone = c.dev[DEV_TASK_REMOVED];
    uint32_t problem;
    int s = 0;
    for (; s <= TASK_WAIT_S && !sys_interrupted(); s++) {
        dev_seen now = device_seen(gone.id, &problem);
        if (now == SEEN_NO_RECORD || now == SEEN_NOT_PRESENT) break;
        sys_sleep(1000);
    }
    if (s > TASK_WAIT_S) {
        judge(VERDICT_FAIL, "the task did not remove %s within %d s of its arrival", gone.id8, TASK_WAIT_S);
        return RUN_DONE;
    }
    say("%s was removed %d s after its arrival", gone.id8, s);
    int log = logged(c, gone.id8);
    int event = sys_event_seen(u"Application", EVENT_SOURCE, EV_HIT, gone.id, 3600);
    say("Quillfen's log: %s; its event %d: %s", log ? "logged" : "not logged", (int)EV_HIT,
        event > 0 ? "written" : event == 0 ? "not found" : "the Application log cannot be read");
    int stays = device_seen(c.dev[DEV_TASK_SPARED].id, &problem) == SEEN_STARTED;
    say("the approved %s: %s", c.dev[DEV_TASK_SPARED].id8, stays ? "still there" : "gone");
    if (!log || event == 0 || !stays) judge(VERDICT_FAIL, "the removal was not logged and evented, or the approved device went too");
    else judge(VERDICT_PASS, "the task removed the device within %d s, logged it, and spared the approved one", TASK_WAIT_S);
    return RUN_DONE;
}

// Installed again after the lift: by Quillfen's rescan, or after a re-plug.
int back(Context& c, int which, int* replugged) {
    Made& d = c.dev[which];
    uint32_t problem;
    for (int s = 0; s <= RESCAN_WAIT_S; s++) {
        dev_seen now = device_seen(d.id, &problem);
        if (now == SEEN_STARTED) return 1;
        if (now != SEEN_NOT_STARTED || d.slot < 0) break;  // unplugged, or taken away by Quillfen's pass
        sys_sleep(1000);
        (void)sys_dev_wait_installs(1000);
    }
    *replugged = 1;
    unplug(c, which);
    (void)device_uninstall(d.id);
    return plug(c, which) == SYS_SWDEV_MADE && look(d) == SEEN_STARTED;
}

run_end lifting(Context& c) {
    step("Lifting: every rule lifted, the restrictions as they were, the devices install again");
    int ok = 1;
    for (int i = 0; i < c.nrules; i++) {
        const RunRule& r = c.rules[i];
        int lifted = qf_lift(c.qf, r.kind, r.text) == 0;
        ok &= lifted && journal_lifted(c.journal, r.kind, r.text);
    }
    if (!ok) return stopped("a lift failed");
    if (tree_print(RESTRICTIONS_KEY) != c.restrictions) {
        judge(VERDICT_FAIL, "the install restrictions are not as they were before the run");
        return RUN_DONE;
    }
    say("the install restrictions are as they were before the run");
    int all = 1, replugs = 0;
    for (int which : {DEV_CANARY, DEV_MODEL_REFUSED, DEV_MODEL_AGAIN}) {
        if (!c.dev[which].id[0]) continue;  // never made: an earlier step could not go so far
        int replugged = 0;
        all &= back(c, which, &replugged);
        replugs += replugged;
    }
    if (!all) cannot("a device that was refused does not install even after a re-plug");
    else if (replugs) judge(VERDICT_PASS, "the refused devices install again; %d needed a re-plug (Quillfen's rescan, "
                                          "or its pass taking the record away, did not bring it back)", replugs);
    else judge(VERDICT_PASS, "the refused devices installed again after Quillfen's rescan");
    return RUN_DONE;
}

}  // namespace

run_end steps_run(Context& c) {
    for (Made& d : c.dev) d.slot = -1;
    run_end (*const STEPS[])(Context&) = {canary, by_model, spared, task, lifting};
    for (auto* s : STEPS) {
        if (sys_interrupted()) return RUN_INTERRUPTED;
        run_end e = s(c);
        if (e != RUN_DONE) return sys_interrupted() ? RUN_INTERRUPTED : e;
    }
    return sys_interrupted() ? RUN_INTERRUPTED : RUN_DONE;
}

void steps_unplug_all(Context& c) {
    for (int i = 0; i < RUN_DEVICES; i++) unplug(c, i);
}
