// The self-test's course: recover what an earlier run left, refuse where a
// run would touch what is not Quillfen's, save, demonstrate, put back.
#include "selftest/selftest.h"

#include "base/text.h"
#include "block/registry.h"
#include "log/log.h"
#include "selftest/audit.h"
#include "selftest/devices.h"
#include "selftest/journal.h"
#include "selftest/keys.h"
#include "selftest/preflight.h"
#include "selftest/report.h"
#include "selftest/steps.h"
#include "sys/sys.h"
#include "version.h"

namespace {

const char JOURNAL_FILE[] = "quillfen-selftest.journal";
const char LOCK_FILE[] = "quillfen-selftest.lock";

const char USAGE[] =
    "usage: quillfen-selftest [--quillfen <path of quillfen.exe>] [--cleanup]\n"
    "  Shows, with software devices, that Windows refuses what Quillfen blocks. It changes\n"
    "  policy values and makes devices: run it on a test PC, in Windows Sandbox or on a CI runner,\n"
    "  elevated. --quillfen: the copy to test (default: quillfen.exe beside this program).\n"
    "  --cleanup: only undo what an earlier run left. See docs/selftest.md.\n";

Context g_c;

// Undoes what the journal says a run did, and checks that it is undone:
// 1 when everything is as it was (the journal is gone), 0 when not.
int recover(const Tested& t, const char16_t* path) {
    static Journal j;
    int got = journal_read(path, &j);
    if (got == 0) return 1;
    step("Cleanup: every rule lifted, every device uninstalled, the keys and the audit setting put back");
    if (got < 0) {
        judge(VERDICT_FAIL, "the journal cannot be read; it stays, for another try with --cleanup");
        return 0;
    }
    if (!j.whole) {
        // It breaks off before the first change: there is nothing to undo.
        say("the journal breaks off before the run changed anything");
        return sys_file_delete(path);
    }
    say("run %s", j.nonce);
    // Lifted through Quillfen, which takes its values out of Windows' lists;
    // rules a run did not get to make fail here harmlessly.
    for (int i = j.nrules - 1; i >= 0; i--) (void)qf_lift(t, j.rules[i].kind, j.rules[i].text);
    // A task that stays would go on removing devices by the PC's own rules.
    int task_left = j.task_ours && qf_run(t, {"--remove-task"}) != 0 && qf_task_installed(t) != 0;
    char16_t prefix[64];
    char p8[64];
    fmt(p8, sizeof p8, "SWD\\QFST%s\\", j.nonce);
    utf16(p8, prefix, countof(prefix));
    int left = devices_uninstall_under(prefix);
    int restored = trees_restore();
    if (j.audit >= 0) (void)audit_pnp_set(j.audit);
    // Checked afresh, whatever each call above reported.
    int ok = 1;
    if (left != 0 || device_id_taken(prefix) != 0) {
        judge(VERDICT_FAIL, "records of the run's devices are left (%s...)", p8);
        ok = 0;
    }
    if (task_left) {
        judge(VERDICT_FAIL, "the scheduled task the run installed could not be removed");
        ok = 0;
    }
    int rules_left = qf_run(t, {"--blist", "--json"}) < 0;
    char lower[16];
    scopy(lower, sizeof lower, j.nonce);
    lower_ascii(lower);
    static char out[1 << 20];
    scopy(out, sizeof out, qf_output());
    lower_ascii(out);
    rules_left |= strstr(out, lower) != nullptr;
    if (rules_left) {
        judge(VERDICT_FAIL, "Quillfen still lists a rule of the run");
        ok = 0;
    }
    int differ = trees_differ();
    if (!restored || differ != 0) {
        judge(VERDICT_FAIL, "the install restrictions or HKLM\\SOFTWARE\\Quillfen are not as they were");
        ok = 0;
    }
    if (j.audit >= 0 && audit_pnp_read(t) != j.audit) {
        judge(VERDICT_FAIL, "the Plug and Play Events audit setting is not as it was");
        ok = 0;
    }
    qf_forget_output(t);
    if (!ok) {
        say("the journal stays: run quillfen-selftest --cleanup again");
        return 0;
    }
    say("the restrictions, HKLM\\SOFTWARE\\Quillfen and the audit setting are as they were; no device of the run is left");
    return sys_file_delete(path);
}

// The nonce of this run: from the clock and the computer's name, moved on
// while devices of that name stand already.
int choose_nonce(Context& c) {
    char16_t computer[64] = u"";
    (void)sys_computer_name(computer, countof(computer));
    uint64_t h = FNV_START;
    for (const char16_t* p = computer; *p; p++) h = fnv_step(h, *p);
    h = fnv_step(h, (uint32_t)sys_now());
    for (int k = 0; k < 16; k++, h = fnv_step(h, 0xA5)) {
        for (int i = 0; i < 8; i++) c.nonce[i] = "0123456789ABCDEF"[h >> (4 * i) & 15];
        c.nonce[8] = 0;
        fmt(c.enumerator, sizeof c.enumerator, "QFST%s", c.nonce);
        char p8[64];
        char16_t prefix[64];
        fmt(p8, sizeof p8, "SWD\\%s\\", c.enumerator);
        utf16(p8, prefix, countof(prefix));
        int taken = device_id_taken(prefix);
        if (taken == 0) return 1;
        if (taken < 0) return 0;
    }
    return 0;
}

void print(const char* text) { sys_out(text, (uint32_t)strlen(text)); }

// why: nullptr when the reasons were said already.
int refused(const char* why) {
    if (why) say("REFUSED: %s", why);
    print("Nothing was changed.\n");
    return SELFTEST_REFUSED;
}

int finish(int code) {
    static char line[128];
    size_t n = fmt(line, sizeof line, "\n%d passed, %d failed, %d cannot be demonstrated here: exit %d\n",
                   verdicts(VERDICT_PASS), verdicts(VERDICT_FAIL), verdicts(VERDICT_CANNOT), code);
    sys_out(line, (uint32_t)n);
    sys_console_restore();
    return code;
}

}  // namespace

int selftest_main(int argc, char** argv) {
    sys_console_init();
    // Quillfen's own log and events are the tested copy's, beside it: the
    // core's calls made here (a program that hangs) write none of them.
    log_off();
    const char* exe = nullptr;
    int cleanup_only = 0;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--quillfen") == 0 && i + 1 < argc) {
            exe = argv[++i];
        } else if (strcmp(argv[i], "--cleanup") == 0) {
            cleanup_only = 1;
        } else {
            int help = strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "/?") == 0;
            (help ? sys_out : sys_err)(USAGE, sizeof USAGE - 1);
            return help ? SELFTEST_PASSED : SELFTEST_USAGE;
        }
    }
    char banner[128];
    size_t bn = fmt(banner, sizeof banner, "Quillfen self-test %s\n", QF_VERSION);
    sys_out(banner, (uint32_t)bn);
    // As quillfen.exe: the DLLs it loads come from the system directory only.
    if (!sys_restrict_dll_search()) return finish(refused("DLL loads cannot be restricted to the system directory here"));
    static char16_t path[PATH_UNITS];
    if (exe) {
        utf16(exe, path, countof(path));
    } else if (sys_exe_loaded_path(path, countof(path))) {
        size_t n = wlen(path);
        while (n > 0 && path[n - 1] != u'\\' && path[n - 1] != u'/') n--;
        path[n] = 0;
        wcat8(path, countof(path), "quillfen.exe");
    }
    Context& c = g_c;
    if (!tested_at(&c.qf, path) || !tested_file(c.qf, JOURNAL_FILE, c.journal, countof(c.journal)))
        return finish(refused("the path of quillfen.exe is not usable; give it with --quillfen"));
    say("testing %s", c.qf.exe8);
    if (!sys_is_elevated()) return finish(refused("it needs administrator rights: run it from an elevated prompt"));
    sys_interrupt_catch();
    char16_t lock_path[PATH_UNITS];
    (void)tested_file(c.qf, LOCK_FILE, lock_path, countof(lock_path));
    // A journal's run may still be under way: its lock says so.
    sys_lock* lock = nullptr;
    if (sys_file_exists(c.journal)) {
        if (!(lock = sys_lock_take(lock_path, 0))) return finish(refused("another self-test is running here"));
        if (!recover(c.qf, c.journal)) {
            sys_lock_drop(lock);
            return finish(SELFTEST_FAILED);
        }
    }
    if (cleanup_only) {
        if (!lock) say("no journal: an earlier run left nothing to undo");
        sys_lock_drop(lock);
        (void)sys_file_delete(lock_path);
        return finish(SELFTEST_PASSED);
    }
    if (!sys_swdev_available()) {
        sys_lock_drop(lock);
        print("\nThis environment cannot demonstrate the block: software devices cannot be made here "
              "(cfgmgr32.dll has no SwDeviceCreate). Nothing was changed.\n");
        return finish(SELFTEST_CANNOT);
    }
    step("Before any change: the settings a run touches are Quillfen's alone");
    tree_read saved = trees_save();
    if (saved != TREE_OK) {
        sys_lock_drop(lock);
        return finish(refused(saved == TREE_TOO_BIG     ? "the restrictions or HKLM\\SOFTWARE\\Quillfen hold more than a run can put back"
                              : saved == TREE_ODD_VALUE ? "a value of a kind a run cannot put back stands there"
                                                        : "the restrictions or HKLM\\SOFTWARE\\Quillfen cannot be read"));
    }
    int ok = preflight(c.qf);
    int theirs = ok ? task_before(c.qf) : 0;
    if (!ok || theirs < 0 || !choose_nonce(c)) {
        qf_forget_output(c.qf);
        sys_lock_drop(lock);
        return finish(refused(ok && theirs >= 0 ? "the devices here cannot be read" : nullptr));
    }
    c.restrictions = tree_print(RESTRICTIONS_KEY);
    if (!lock && !(lock = sys_lock_take(lock_path, 0))) return finish(refused("another self-test is running here"));
    int audit = audit_pnp_read(c.qf);
    // The journal stands before the first change; each rule and device is
    // written in it before it is made.
    if (!journal_begin(c.journal, c.nonce, audit)) {
        say("the journal cannot be written at %s: nothing was changed", c.qf.exe8);
        (void)sys_file_delete(c.journal);
        sys_lock_drop(lock);
        return finish(SELFTEST_FAILED);
    }
    say("run %s: the journal is %s beside the tested copy", c.nonce, JOURNAL_FILE);
    if (audit < 0) say("the Plug and Play Events audit setting cannot be read: it is left alone, event 6423 may be missing");
    else if (!(audit & 1) && !audit_pnp_set(audit | 1)) say("auditing of Plug and Play Events could not be turned on");
    run_end end = RUN_DONE;
    if (!theirs) {
        say("the scheduled task is not installed: the run installs it and removes it after");
        if (!journal_note(c.journal, "task", "ours")) {
            judge(VERDICT_FAIL, "the journal cannot be written");
            end = RUN_STOPPED;
        } else if (qf_run(c.qf, {"--install-task"}) != 0) {
            judge(VERDICT_FAIL, "quillfen --install-task failed");
            end = RUN_STOPPED;
        }
    }
    if (end == RUN_DONE) end = steps_run(c);
    if (end == RUN_INTERRUPTED) say("interrupted: cleaning up");
    steps_unplug_all(c);
    int clean = recover(c.qf, c.journal);
    sys_lock_drop(lock);
    if (clean) (void)sys_file_delete(lock_path);
    if (end == RUN_INTERRUPTED || end == RUN_STOPPED || !clean || verdicts(VERDICT_FAIL)) return finish(SELFTEST_FAILED);
    if (end == RUN_CANNOT) print("\nThis environment cannot demonstrate the block (see the canary above).\n");
    return finish(verdicts(VERDICT_CANNOT) || end != RUN_DONE ? SELFTEST_CANNOT : SELFTEST_PASSED);
}
