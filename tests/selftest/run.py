#!/usr/bin/env python3
"""quillfen-selftest on the simulated machine, with the real quillfen as
the copy under test (a "program" line), sharing its registry, software
devices, task and audit setting.

    run.py SELFTEST QUILLFEN CHECK...

Checks: sequence (every step on a Windows 10 Pro, the canary's stop where
Windows ignores the restrictions, the refusals before any change, Ctrl+C),
faults (each change of a run made to fail) and kills (the run killed at
each change). After each run or its recovery both registry trees are as
they were, no device record, rule, task or audit setting of the run is
left, and the journal is gone.
"""

import os
import re
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "lib"))
import qftest  # noqa: E402  (tests/lib: the box, the machine file)

# The approvals change (issue 54) writes Windows' allow list; until it is
# merged, Quillfen gives up no model block for an approval, and the step
# that shows a unit spared under layered evaluation fails.
APPROVALS_MERGED = False

VERSION = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"
RESTRICTIONS = "SOFTWARE\\Policies\\Microsoft\\Windows\\DeviceInstall\\Restrictions"
TREES = (RESTRICTIONS.lower(), "software\\quillfen")
# A Windows 10 22H2 Pro with an update revision past the layering's first.
WINDOWS = [(VERSION, "CurrentBuildNumber", "sz", "19045"), (VERSION, "UBR", "dword", "2006"),
           (VERSION, "EditionID", "sz", "Professional")]
# The functions by which a run changes the machine or writes its journal,
# each made to fail at each of its calls. A kill stops the run between two
# of them, and a change Quillfen makes for a run comes after the journal's
# line for it: the kills skip sys_run, whose points those cover.
CHANGES = ["sys_file_create", "sys_file_append", "sys_swdev_create", "sys_run", "sys_dev_remove", "sys_reg_set_dword",
           "sys_reg_set_text", "sys_reg_delete_value", "sys_reg_delete_key", "sys_file_delete"]
KILLS = [fn for fn in CHANGES if fn != "sys_run"]


class Box(qftest.Box):
    def __init__(self, selftest, quillfen, registry=WINDOWS, machine=()):
        super().__init__(selftest, "qf-selftest-")
        self.quillfen = quillfen
        self.initial = "".join("\t".join(v) + "\n" for v in registry)
        self.write("registry", self.initial)
        self.lines = [("registry", self.path("registry")), ("record", self.path("record")), "events\tyes",
                      ("exe", self.dir + "quillfen-selftest.exe"), ("program", self.exe, quillfen),
                      "run\tschtasks\t0", "run\tpnputil\t0", "run\tauditpol\t0"] + list(machine)

    def start_selftest(self, *args, extra=()):
        self.write_machine(self.lines + list(extra), "machine.run")
        return self.start(list(args), self.path("machine.run"), stdin=subprocess.DEVNULL)

    def selftest(self, *args, extra=()):
        out, _ = self.start_selftest(*args, extra=extra).communicate(timeout=300)
        return self.last(out)

    def last(self, out):
        p_out = out.decode("utf-8", "replace")
        return p_out

    def trees(self):
        return sorted(l for l in (self.read("registry") or "").splitlines() if l.lower().startswith(TREES))

    def left(self):
        """What a run may not leave: its journal, device records, rules, task or audit setting."""
        problems = []
        if os.path.exists(self.path("quillfen-selftest.journal")):
            problems.append("the journal is left")
        state = self.read("registry.state") or ""
        for line in state.splitlines():
            if line.startswith(("swdev\t", "task\t", "audit-pnp\t")) and line != "audit-pnp\t0":
                problems.append("state: " + line)
        for name in ("blacklist.tsv", "blacklist-rules.tsv"):
            if "qfst" in (self.read(name) or "").lower():
                problems.append(name + " holds a rule of the run")
        if self.trees() != sorted(l for l in self.initial.splitlines() if l.lower().startswith(TREES)):
            problems.append("the trees are not as they were: %s" % self.trees())
        return problems


failures = []


def expect(what, ok, detail=""):
    if not ok:
        failures.append("%s\n%s" % (what, "\n".join("    " + l for l in str(detail).splitlines()[-40:])))
    return ok


def exit_code(out):
    m = re.search(r": exit (\d+)\n$", out)
    return int(m.group(1)) if m else None


def verdicts(out):
    return re.findall(r"^   (PASS|FAIL|CANNOT) ", out, re.M)


def check_sequence(selftest, quillfen):
    # Every step on a Windows 10 Pro: the journal's run is undone at the end.
    box = Box(selftest, quillfen)
    p = box.start_selftest()
    out = box.last(p.communicate(timeout=300)[0])
    steps = verdicts(out)
    if APPROVALS_MERGED:
        expect("every step passes, exit 0", p.returncode == 0 and steps == ["PASS"] * 5, out)
    else:
        print("skip: the approved unit's step waits for the approvals change (issue 54)")
        expect("every step but the approved unit's passes", steps == ["PASS", "PASS", "FAIL", "PASS", "PASS"], out)
    for line in ("Windows refused the re-created device", "Windows refused a new device of the blocked model",
                 "the task removed the device within 30 s", "the install restrictions are as they were before the run"):
        expect("the run says: " + line, line in out, out)
    expect("everything is put back", not box.left(), box.left())
    box.close()

    # Where Windows ignores the restrictions, the canary stops the run.
    box = Box(selftest, quillfen, machine=["install-policy\tno"])
    out = box.selftest()
    expect("the canary stops with exit 2, saying why", exit_code(out) == 2 and
           "Windows installed the device despite the block" in out and "FAIL" not in out, out)
    expect("the canary's stop puts everything back", not box.left(), box.left())
    box.close()

    # Refusals before any change: an administrator's setting, no rights,
    # no software devices. Nothing is started, written or made.
    for why, registry, machine, code, said in (
            ("an administrator's setting", WINDOWS + [(RESTRICTIONS, "DenyRemovableDevices", "dword", "1")], [], 3,
             "DenyRemovableDevices is a setting Quillfen did not write"),
            ("no administrator rights", WINDOWS, ["elevated\tno"], 3, "it needs administrator rights"),
            ("no software devices", WINDOWS, ["swdev\tno"], 2, "software devices cannot be made here")):
        box = Box(selftest, quillfen, registry=registry, machine=machine)
        out = box.selftest()
        record = box.read("record") or ""
        expect("%s: exit %d, saying why" % (why, code), exit_code(out) == code and said in out, out)
        expect("%s: nothing written, started or made" % why,
               box.read("registry") == box.initial and not re.search(r"^(run|swdev)\t", record, re.M)
               and not os.path.exists(box.path("quillfen-selftest.journal")), record)
        box.close()

    # Ctrl+C in the middle: the main thread cleans up, and the run fails.
    box = Box(selftest, quillfen)
    go = box.path("go")
    p = box.start_selftest(extra=[("pause", "sys_swdev_create", 3, go)])
    wait_for_pause(box, p)
    p.send_signal(signal.SIGINT)
    box.write("go", "")
    out = box.last(p.communicate(timeout=300)[0])
    expect("Ctrl+C: exit 1 after the cleanup", p.returncode == 1 and "interrupted: cleaning up" in out, out)
    expect("Ctrl+C: everything is put back", not box.left(), box.left())
    box.close()


def wait_for_pause(box, p):
    """Until the run waits at its pause line; False when it ended first."""
    while p.poll() is None:
        if re.search(r"^pause\t", box.read("record") or "", re.M):
            return True
        time.sleep(0.01)
    return False


def recovered(box, what):
    """The next start, --cleanup, undoes what the run left."""
    out = box.selftest("--cleanup")
    return expect("%s, then --cleanup: exit 0 and everything put back" % what,
                  exit_code(out) == 0 and not box.left(), out + "\n" + "\n".join(box.left()))


def check_faults(selftest, quillfen):
    box = Box(selftest, quillfen)
    points = 0
    for fn in CHANGES:
        for n in range(1, 1000):
            box.write("record", "")
            out = box.selftest(extra=[("fail", fn, n)])
            if "fail\t" + fn not in (box.read("record") or ""):
                break
            points += 1
            code = exit_code(out)
            expect("fail %s %d: the run ends with a failure or cannot, never passes" % (fn, n), code in (1, 2, 3), out)
            recovered(box, "fail %s %d" % (fn, n))
    print("selftest_faults: %d failure points (each change of a run made to fail)" % points)
    box.close()


def check_kills(selftest, quillfen):
    box = Box(selftest, quillfen)
    points = 0
    never = box.path("never")
    for fn in KILLS:
        for n in range(1, 1000):
            box.write("record", "")
            p = box.start_selftest(extra=[("pause", fn, n, never)])
            if not wait_for_pause(box, p):
                p.communicate()
                break
            points += 1
            p.kill()
            p.communicate()
            recovered(box, "killed at %s %d" % (fn, n))
    print("selftest_kills: %d failure points (the run killed at each change)" % points)
    box.close()


def main(argv):
    if len(argv) < 4:
        print(__doc__)
        return 2
    selftest, quillfen = os.path.abspath(argv[1]), os.path.abspath(argv[2])
    checks = {"sequence": check_sequence, "faults": check_faults, "kills": check_kills}
    for name in argv[3:]:
        checks[name](selftest, quillfen)
    for f in failures[:30]:
        print("FAIL " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
