#!/usr/bin/env python3
"""quillfen-selftest on the simulated machine, with the real quillfen as
the copy under test (a "program" line), sharing its registry, software
devices, task and audit setting.

    run.py SELFTEST QUILLFEN [--every N] CHECK...

Checks: sequence (every step on a Windows 10 Pro, the canary's stop where
Windows ignores the restrictions, the refusals before any change, Ctrl+C),
faults (each change of a run made to fail) and kills (the run killed at
each change). After each run or its recovery both registry trees are as
they were, no device record, rule, task or audit setting of the run is
left, and the journal is gone. --every N takes every Nth point of the
loops alone, where each run costs many times as much (the sanitizers).
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
APPROVALS_MERGED = True

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
# Some of these calls are best effort where they fail: the rescan after a
# lift (pnputil, then the configuration manager) and a leftover file's
# deletion. A run may still pass all its steps then, and must put all back.
MAY_PASS = ("sys_run", "sys_file_delete")


class Box(qftest.Box):
    def __init__(self, selftest, quillfen, registry=WINDOWS, machine=(), state=""):
        super().__init__(selftest, "qf-selftest-")
        self.quillfen = quillfen
        self.initial = "".join("\t".join(v) + "\n" for v in registry).replace("{EXE}", self.exe).replace(
            "{BL}", self.dir + "blacklist.tsv")
        self.write("registry", self.initial)
        self.state = state.replace("{EXE}", self.exe)
        if state:
            self.write("registry.state", self.state)
        machine = [m.replace("{DIR}", self.dir).replace("{FOLDER}", self.dir.rstrip("/")) for m in machine]
        self.lines = [("registry", self.path("registry")), ("record", self.path("record")), "events\tyes",
                      ("exe", self.dir + "quillfen-selftest.exe"), ("program", self.exe, quillfen),
                      "run\tschtasks /Query\ttask", "run\tschtasks\t0", "run\tpnputil\t0", "run\tauditpol\t0"]
        self.lines += list(machine)

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
        # The machine's software devices, task and audit setting as they were.
        keep = set(self.state.splitlines()) | {"audit-pnp\t0", ""}
        for line in (self.read("registry.state") or "").splitlines():
            if line.startswith(("swdev\t", "task\t", "audit-pnp\t")) and line not in keep:
                problems.append("state: " + line)
        if self.state and self.state.strip() not in (self.read("registry.state") or ""):
            problems.append("the task the PC had is gone")
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


# A PC whose Quillfen runs the task and blocks a device of its own rules:
# the run keeps them, and puts them back as they were.
OWN_ID = "USB\\VID_0C45&PID_6366\\OWN1"
OWN_BLOCK = WINDOWS + [("SOFTWARE\\Quillfen", "TaskCommand", "sz", "{EXE}"),
                       ("SOFTWARE\\Quillfen", "EnabledByQuillfen", "dword", "1"),
                       ("SOFTWARE\\Quillfen\\DenyInstanceIDs", "1", "sz", OWN_ID + "\t{BL}"),
                       (RESTRICTIONS, "DenyInstanceIDs", "dword", "1"),
                       (RESTRICTIONS + "\\DenyInstanceIDs", "1", "sz", OWN_ID)]


def check_sequence(selftest, quillfen):
    # Every step, on a Windows 10 Pro whose Quillfen has a block of its own.
    box = Box(selftest, quillfen, registry=OWN_BLOCK, state="task\t{EXE}\t--enforce\n")
    box.write("blacklist.tsv", qftest.BLACKLIST_HEADER + "4102444800\t0\tdesk cam\t%s\tCamera\r\n" % OWN_ID)
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
    expect("the PC's own block and task are as they were, nothing of the run is left", not box.left(), box.left())
    expect("the PC's own entry stays", OWN_ID in (box.read("blacklist.tsv") or ""), box.read("blacklist.tsv"))
    box.close()

    # Where Windows ignores the restrictions, or Quillfen writes none (Home),
    # the canary stops the run; and where its record stays installed, whose
    # return would be no new install, the run says that, not that Windows
    # ignores the block.
    home = [v if v[1] != "EditionID" else (VERSION, "EditionID", "sz", "Core") for v in WINDOWS]
    for why, registry, machine, said in (
            ("Windows ignores the restrictions", WINDOWS, ["install-policy\tno"],
             "Windows installed the device despite the block"),
            ("a Home edition", home, [], "Quillfen writes no install block on this PC"),
            ("a record left installed", WINDOWS, ["fail\tsys_dev_remove\t1"],
             "the canary's record could not be uninstalled")):
        box = Box(selftest, quillfen, registry=registry, machine=machine)
        out = box.selftest()
        expect("%s: the canary stops with exit 2, saying why" % why, exit_code(out) == 2 and said in out
               and "FAIL" not in out, out)
        expect("%s: everything is put back" % why, not box.left(), box.left())
        box.close()

    # Refusals before any change: an administrator's setting, MDM, the local
    # Group Policy, a fleet policy of Quillfen, a folder others can change,
    # the task of another copy, no rights, no software devices. Nothing is
    # written, made or started but schtasks /Query.
    other = [("SOFTWARE\\Quillfen", "TaskCommand", "sz", "C:\\Other\\quillfen.exe")]
    pol = {"sys\\GroupPolicy\\Machine\\Registry.pol": b"PReg\x01\0\0\0" + "[Software\\Policies\\Microsoft\\Windows"
           "\\DeviceInstall\\Restrictions\0;DenyRemovableDevices\0;".encode("utf-16-le")}
    for why, registry, machine, state, code, said, files in (
            ("the local Group Policy", [], ["sysdir\t{DIR}sys"], "", 3, "the local Group Policy sets", pol),
            ("a folder others can change", [], ["perm\t{FOLDER}\tadmins\tadmins:1f01ff:oi\tother:1301bf:oi"], "", 3,
             "users other than administrators can change the folder", {}),
            ("an administrator's setting", [(RESTRICTIONS, "DenyRemovableDevices", "dword", "1")], [], "", 3,
             "DenyRemovableDevices is a setting Quillfen did not write", {}),
            ("MDM", [("SOFTWARE\\Microsoft\\PolicyManager\\current\\device\\DeviceInstallation",
                      "PreventInstallationOfMatchingDeviceIDs", "sz", "<enabled/>")], [], "", 3, "MDM manages", {}),
            ("Quillfen's policy", [("SOFTWARE\\Policies\\Quillfen", "Mode", "sz", "Audit")], [], "", 3,
             "Quillfen's own policy", {}),
            ("another copy's task", other, [], "task\tC:\\Other\\quillfen.exe\t--enforce\n", 3,
             "the scheduled task runs another copy of Quillfen (C:\\Other\\quillfen.exe)", {}),
            ("no administrator rights", [], ["elevated\tno"], "", 3, "it needs administrator rights", {}),
            ("no software devices", [], ["swdev\tno"], "", 2, "software devices cannot be made here", {})):
        box = Box(selftest, quillfen, registry=WINDOWS + registry, machine=machine, state=state)
        for name, data in files.items():
            with open(box.path(name), "wb") as f:
                f.write(data)
        files = sorted(os.listdir(box.dir))
        out = box.selftest()
        record = box.read("record") or ""
        expect("%s: exit %d, saying why" % (why, code), exit_code(out) == code and said in out, out)
        made = sorted(f for f in os.listdir(box.dir) if f not in files and f != "record"
                      and not f.startswith(("registry.", "machine.")))
        expect("%s: nothing written, made or started but schtasks /Query" % why,
               box.read("registry") == box.initial and not made and "swdev\t" not in record
               and all("/Query" in l for l in record.splitlines() if l.startswith("run\t")),
               "%s\n%s" % (made, record))
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


def check_faults(selftest, quillfen, every):
    box = Box(selftest, quillfen)
    points = 0
    for fn in CHANGES:
        for n in range(1, 1000, every):
            box.write("record", "")
            out = box.selftest(extra=[("fail", fn, n)])
            if "fail\t" + fn not in (box.read("record") or ""):
                break
            points += 1
            code = exit_code(out)
            expect("fail %s %d: the run ends with a failure or cannot, never passes" % (fn, n),
                   code in (1, 2, 3) or (code == 0 and fn in MAY_PASS), out)
            # A run that undid what it did has left no journal for the next start.
            if os.path.exists(box.path("quillfen-selftest.journal")):
                recovered(box, "fail %s %d" % (fn, n))
            else:
                expect("fail %s %d: without a journal, everything is put back" % (fn, n), not box.left(),
                       out + "\n" + "\n".join(box.left()))
    print("selftest_faults: %d failure points (each change of a run made to fail)" % points)
    box.close()


def check_kills(selftest, quillfen, every):
    box = Box(selftest, quillfen)
    points = 0
    never = box.path("never")
    for fn in KILLS:
        for n in range(1, 1000, every):
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
    names, every = argv[3:], 1
    if names[:1] == ["--every"]:
        every, names = int(names[1]), names[2:]
    checks = {"sequence": lambda: check_sequence(selftest, quillfen),
              "faults": lambda: check_faults(selftest, quillfen, every),
              "kills": lambda: check_kills(selftest, quillfen, every)}
    for name in names:
        checks[name]()
    for f in failures[:30]:
        print("FAIL " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
