#!/usr/bin/env python3
"""Several real processes of the Linux build on one blacklist: no change is
lost, none comes back, and a process killed at any moment leaves the old or
the new file whole.

    run.py BINARY [--kills N]
"""

import os
import random
import re
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "lib"))
import qftest  # noqa: E402  (tests/lib: the box, the header lines, the machine file)

HEADER = qftest.BLACKLIST_HEADER
ROW = re.compile(r"-?\d+\t-?\d+\t[^\t\r\n]*\t[^\t\r\n]*\t[^\r\n]*\r\n")
FAILS = []


def check(ok, what, detail=""):
    print(("ok    " if ok else "FAIL  ") + what)
    if not ok:
        FAILS.append(what)
        if detail:
            print("      " + str(detail)[:2000].replace("\n", "\n      "))


class Box(qftest.Box):
    """A data directory with a machine file whose executable lives in it."""

    def __init__(self, binary, devices, extra=""):
        super().__init__(binary, "qf-concurrent-")
        devs = [("dev", 1, name, "", "Camera", inst) + ((flags,) if flags else ()) for name, inst, flags in devices]
        self.write_machine([("exe", self.exe)] + extra.replace("{DIR}", self.dir).splitlines() + devs)

    def entries(self):
        text = self.read("blacklist.tsv") or HEADER
        return [line.split("\t") for line in text[len(HEADER):].split("\r\n") if line]


def wait_for(p, text, timeout=20):
    """Reads p's output until text shows (the process then waits at a prompt)."""
    seen = b""
    end = time.time() + timeout
    os.set_blocking(p.stdout.fileno(), False)
    while time.time() < end:
        chunk = p.stdout.read()
        if chunk:
            seen += chunk
            if text.encode() in seen:
                return True
        else:
            time.sleep(0.01)
    return False


def blacklist_answers(hours="1"):
    """Confirm, blacklist for `hours`, no task."""
    return "y\ny\n%s\nn\n" % hours


def test_no_lost_and_no_resurrected_change(binary):
    box = Box(binary, [("Smart Camera Y", "USB\\Y\\1", ""), ("Smart Camera Z", "USB\\Z\\1", "")])
    now = int(time.time())
    with open(box.path("blacklist.tsv"), "w", encoding="utf-8", newline="") as f:
        f.write(HEADER + "%d\t0\tx\tUSB\\X\\1\tCamera\r\n" % (now + 3600))
    try:
        b = box.start()  # a window left open at its blacklist menu, showing X
        b.stdin.write(b"b\n")
        b.stdin.flush()
        check(wait_for(b, "USB\\X\\1"), "resurrection: the long-lived window shows X")
        # Meanwhile another window lifts X and blacklists Z.
        box.run("b\nd1\nq\n2\n" + blacklist_answers() + "\nq\n")
        check([e[3] for e in box.entries()] == ["USB\\Z\\1"], "resurrection: the other window's changes are saved",
              box.entries())
        # The old window lifts X too, then blacklists Y with a table that
        # still held X when it was drawn.
        os.set_blocking(b.stdout.fileno(), True)
        out, _ = b.communicate(("d1\nq\n1\n" + blacklist_answers() + "\nq\n").encode(), timeout=60)
        out = out.decode("utf-8", "replace")
        check("  [提示] 该条目已被其他窗口改动，未做修改。\n" in out, "resurrection: d1 says the entry was changed elsewhere",
              out[-3000:])
        insts = [e[3] for e in box.entries()]
        check(insts == ["USB\\Z\\1", "USB\\Y\\1"], "resurrection: X stays lifted and nothing is lost", insts)
        log = box.read("device_cleanup_log.txt") or ""
        check(log.count("] 拉黑 | ") == 2 and log.count("] 解除拉黑 | x") == 1,
              "resurrection: the log tells the same story", log)
    finally:
        box.close()


def test_concurrent_adders(binary):
    per = 30
    box = Box(binary, [("Smart Camera %02d" % i, "USB\\CAM\\%02d" % i, "") for i in range(2 * per)])
    try:
        scripts = []
        for first in (1, per + 1):
            picks = ",".join(str(n) for n in range(first, first + per))
            scripts.append((picks + "\n" + blacklist_answers() * per + "\nq\n").encode())
        procs = [box.start() for _ in scripts]
        for p, s in zip(procs, scripts):
            p.stdin.write(s)
            p.stdin.close()
        for p in procs:
            p.wait(timeout=120)
        insts = sorted(e[3] for e in box.entries())
        want = sorted("USB\\CAM\\%02d" % i for i in range(2 * per))
        check(insts == want, "adders: two processes adding %d each keep all %d entries (kept %d)"
              % (per, 2 * per, len(insts)), insts)
        log = box.read("device_cleanup_log.txt") or ""
        check(log.count("] 拉黑 | ") == 2 * per, "adders: one log line per entry kept")
    finally:
        box.close()


def test_stale_window(binary):
    """A window acts on what it showed, and the store, not its memory, says
    whether the list is full."""
    box = Box(binary, [("Smart Camera N", "USB\\N\\1", "")])
    now = int(time.time())
    try:
        with open(box.path("blacklist.tsv"), "w", encoding="utf-8", newline="") as f:
            f.write(HEADER + "".join("%d\t0\told %d\tUSB\\OLD\\%d\tCamera\r\n" % (now + 3600, i, i)
                                     for i in range(64)))
        a = box.start()  # A removes N and waits at the duration prompt, 64 entries in memory
        a.stdin.write(b"1\ny\ny\n")
        a.stdin.flush()
        check(wait_for(a, "回车 = 不拉黑 > "), "full: A waits at the duration prompt")
        box.run("b\nc\ny\nq\nq\n")  # B clears the list
        os.set_blocking(a.stdout.fileno(), True)
        out, _ = a.communicate(b"1\nn\n\nq\n", timeout=60)
        out = out.decode("utf-8", "replace")
        check([e[3] for e in box.entries()] == ["USB\\N\\1"], "full: A's add lands in the list B emptied",
              out[-2000:])

        a = box.start()  # A draws the menu showing N; B adds; A clears
        a.stdin.write(b"b\n")
        a.stdin.flush()
        check(wait_for(a, "c = 全部清空"), "clear: A shows its menu")
        with open(box.path("blacklist.tsv"), "a", encoding="utf-8", newline="") as f:
            f.write("%d\t0\tb's\tUSB\\B\\1\tCamera\r\n" % (now + 3600))
        os.set_blocking(a.stdout.fileno(), True)
        a.communicate(b"c\ny\nq\nq\n", timeout=60)
        check([e[3] for e in box.entries()] == ["USB\\B\\1"], "clear: the entry B added after A drew survives",
              box.entries())
    finally:
        box.close()


def test_block_after_the_task_went(binary):
    """A window that found the task running this copy must not write an
    install block after another process removed the task: nothing would
    lift it."""
    registry = ("registry\t{DIR}registry\nrun\tschtasks\t0\n")
    box = Box(binary, [("Smart Camera A", "USB\\A\\1", ""), ("Smart Camera B", "USB\\B\\1", "")], registry)
    try:
        with open(box.path("registry"), "w", encoding="utf-8") as f:
            f.write("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\tCurrentBuildNumber\tsz\t19045\n"
                    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\tEditionID\tsz\tProfessional\n"
                    "SOFTWARE\\Quillfen\tTaskCommand\tsz\t%squillfen.exe\n" % box.dir)
        list_key = "Restrictions\\DenyInstanceIDs\t"
        a = box.start()
        a.stdin.write(("1\n" + blacklist_answers() + "\n").encode())
        a.stdin.flush()
        check(wait_for(a, "已同时禁止系统再次安装它", 20) and list_key in box.read("registry"),
              "block: window A blacklists A and blocks it", box.read("registry"))
        box.run("", args=["--remove-task"])
        check(list_key not in box.read("registry") and "TaskCommand" not in box.read("registry"),
              "block: --remove-task lifts it and forgets the task", box.read("registry"))
        os.set_blocking(a.stdout.fileno(), True)
        a.communicate(("1\n" + blacklist_answers() + "\nq\n").encode(), timeout=60)
        check(list_key not in box.read("registry"), "block: A's next blacklisting writes no block",
              box.read("registry"))
    finally:
        box.close()


def test_change_waits_for_a_save(binary):
    """A process held half-way through its save, between the temporary and
    the replace, keeps the lock: another's change waits for it, and both land."""
    box = Box(binary, [("Smart Camera A", "USB\\A\\1", ""), ("Smart Camera B", "USB\\B\\1", "")],
              "record\t{DIR}record\npause\tsys_file_replace\t1\t{DIR}go\n")
    try:
        a = box.start()
        a.stdin.write(("1\n" + blacklist_answers() + "\nq\n").encode())
        a.stdin.close()
        end = time.time() + 20
        while "pause\tsys_file_replace" not in (box.read("record") or "") and time.time() < end:
            time.sleep(0.01)
        b = box.start()  # its first read waits for the lock A holds
        b.stdin.write(("2\n" + blacklist_answers() + "\nq\n").encode())
        b.stdin.close()
        time.sleep(0.3)
        check(b.poll() is None, "pause: another window waits while a save is held")
        open(box.path("go"), "w").close()
        a.wait(timeout=60)
        b.wait(timeout=60)
        check([e[3] for e in box.entries()] == ["USB\\A\\1", "USB\\B\\1"], "pause: both changes land, in order",
              box.entries())
    finally:
        box.close()


PRO = ("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\tCurrentBuildNumber\tsz\t19045\n"
       "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\tEditionID\tsz\tProfessional\n")
LIST_KEY = "Restrictions\\DenyInstanceIDs\t"


def machine_with(box, name, lines):
    """A second machine file of the box's, with lines added."""
    box.write(name, box.read("machine") + lines.replace("{DIR}", box.dir))
    return box.path(name)


def start_with(box, machine, args):
    return box.start(args, machine, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def wait_record(box, text, timeout=20):
    end = time.time() + timeout
    while text not in (box.read("record") or "") and time.time() < end:
        time.sleep(0.01)
    return text in (box.read("record") or "")


def test_pass_during_remove_task(binary):
    """A pass the task starts between --remove-task's lift and its deletion
    of the task finds TaskCommand saying so, and writes no block that
    nothing would lift afterwards."""
    now = int(time.time())
    box = Box(binary, [("Smart Camera A", "USB\\A\\1", "")],
              "registry\t{DIR}registry\nrecord\t{DIR}record\nrun\tschtasks\t0\nrun\tpnputil\t0\n")
    try:
        with open(box.path("registry"), "w", encoding="utf-8") as f:
            f.write(PRO + "SOFTWARE\\Quillfen\tTaskCommand\tsz\t%squillfen.exe\n" % box.dir)
        with open(box.path("blacklist.tsv"), "w", encoding="utf-8", newline="") as f:
            f.write(HEADER + "%d\t0\ta\tUSB\\A\\1\tCamera\r\n" % (now + 3600))
        task = machine_with(box, "task", "system\tyes\n")
        p = start_with(box, task, ["--enforce"])
        p.wait(timeout=60)
        check(LIST_KEY in box.read("registry"), "removal: the pass blocks the device", box.read("registry"))
        # Held at its second program, schtasks /Delete (the first asked Windows to rescan).
        r = start_with(box, machine_with(box, "held", "pause\tsys_run\t2\t{DIR}go\n"), ["--remove-task"])
        check(wait_record(box, "pause\tsys_run"), "removal: --remove-task is held before it deletes the task")
        check(LIST_KEY not in box.read("registry"), "removal: the block is lifted first", box.read("registry"))
        p = start_with(box, task, ["--enforce"])
        p.wait(timeout=60)
        check(LIST_KEY not in box.read("registry"), "removal: a pass in between writes no block again",
              box.read("registry"))
        open(box.path("go"), "w").close()
        check(r.wait(timeout=60) == 0, "removal: --remove-task ends well")
        reg = box.read("registry")
        check(LIST_KEY not in reg and "TaskCommand" not in reg, "removal: no block and no TaskCommand stay", reg)
    finally:
        box.close()


def test_install_while_another_copy_writes(binary):
    """Copy A's pass held inside its block step while copy B installs the
    task: B waits for the machine-wide lock, then lifts A's block; none is
    left that no pass would lift."""
    now = int(time.time())
    a = Box(binary, [("Smart Camera A", "USB\\A\\1", "")],
            "record\t{DIR}record\nrun\tschtasks\t0\nrun\tpnputil\t0\nsystem\tyes\n")
    b = Box(binary, [], "run\tschtasks\t0\nrun\tpnputil\t0\n")
    try:
        registry = a.path("registry")
        with open(registry, "w", encoding="utf-8") as f:
            f.write(PRO + "SOFTWARE\\Quillfen\tTaskCommand\tsz\t%squillfen.exe\n" % a.dir)
        with open(a.path("blacklist.tsv"), "w", encoding="utf-8", newline="") as f:
            f.write(HEADER + "%d\t0\ta\tUSB\\A\\1\tCamera\r\n" % (now + 3600))
        held = machine_with(a, "held", "registry\t%s\npause\tsys_reg_set_text\t1\t{DIR}go\n" % registry)
        pa = start_with(a, held, ["--enforce"])
        check(wait_record(a, "pause\tsys_reg_set_text"), "copies: A's pass is held in its block step")
        pb = start_with(b, machine_with(b, "reg", "registry\t%s\n" % registry), ["--install-task", "--allow-unsafe-dir"])
        time.sleep(0.3)
        check(pb.poll() is None, "copies: B's install waits for the machine-wide lock")
        open(a.path("go"), "w").close()
        pa.wait(timeout=60)
        check(pb.wait(timeout=60) == 0, "copies: B's install ends well")
        reg = open(registry, encoding="utf-8").read()
        check(LIST_KEY not in reg and a.dir + "blacklist.tsv" not in reg,
              "copies: A's block and record are lifted", reg)
        check("TaskCommand\tsz\t%squillfen.exe" % b.dir in reg, "copies: the task runs B now", reg)
    finally:
        a.close()
        b.close()


def whole(text):
    """A blacklist file as a save writes it: the header and whole rows."""
    if not text.startswith(HEADER):
        return False
    rest = text[len(HEADER):]
    pos = 0
    while pos < len(rest):
        m = ROW.match(rest, pos)
        if not m:
            return False
        pos = m.end()
    return True


def test_kills(binary, kills):
    # Removing this device needs a restart, so it stays and can be removed
    # and blacklisted again and again: every round is one save.
    box = Box(binary, [("Smart Camera", "USB\\CAM\\1", "restart")])
    script = (("1\n" + blacklist_answers() + "\n") * 60 + "b\nc\ny\nq\n") * 50
    rng = random.Random(1)
    torn = temps = 0
    try:
        stdin_path = box.path("script")
        with open(stdin_path, "w") as f:
            f.write(script)
        for _ in range(kills):
            with open(stdin_path) as f:
                p = box.start(stdin=f)
                time.sleep(rng.uniform(0.005, 0.08))
                p.send_signal(signal.SIGKILL)
                p.wait()
                p.stdout.close()
            text = box.read("blacklist.tsv")
            if text is not None and not whole(text):
                torn += 1
            names = set(os.listdir(box.dir)) - {"blacklist.tsv", "device_cleanup_log.txt", "blacklist.tsv.lock",
                                                "device_cleanup_log.txt.lock", "machine", "script"}
            if names == {"blacklist.tsv.tmp"}:
                temps += 1
            elif names:
                torn += 1
                print("      unexpected files: %s" % sorted(names))
        check(torn == 0, "kills: after %d kills the file was always whole, with at most one temporary "
              "(a temporary was left %d times)" % (kills, temps))
        box.run("1\n" + blacklist_answers() + "\nq\n")
        check(not os.path.exists(box.path("blacklist.tsv.tmp")), "kills: the next save deletes a stale temporary")
    finally:
        box.close()


def main(argv):
    if len(argv) < 2:
        print(__doc__)
        return 2
    binary = os.path.abspath(argv[1])
    kills = int(argv[argv.index("--kills") + 1]) if "--kills" in argv else 200
    test_no_lost_and_no_resurrected_change(binary)
    test_concurrent_adders(binary)
    test_stale_window(binary)
    test_block_after_the_task_went(binary)
    test_change_waits_for_a_save(binary)
    test_pass_during_remove_task(binary)
    test_install_while_another_copy_writes(binary)
    test_kills(binary, kills)
    print("%d failed" % len(FAILS))
    return 1 if FAILS else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
