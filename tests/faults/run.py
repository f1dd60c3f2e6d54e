#!/usr/bin/env python3
"""Failure loops: an operation runs with "fail * N" for N = 1, 2, ... until a
run meets no failure made on request; after each run the invariants are
checked, and again after the next pass without failures.

    run.py BINARY LOOP...    (the names in LOOPS below)

Invariants: blacklist.tsv is the old or the new file byte for byte; a run
that did not get its work done says so (screen, log or exit code; a lost
log line or event alone is no such work); nothing claims what did not
happen; after the next pass every block value of ours has its record and
every record its value, the blocks are what the file wants, and no
administrator value changed. FAULTS_SHOW=N prints what run N left.
"""

import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "lib"))
import qftest  # noqa: E402  (tests/lib: the box, the header lines, the machine file)

CLOCK = 1772874303
HEADER = qftest.BLACKLIST_HEADER
POLICY = "SOFTWARE\\Policies\\Microsoft\\Windows\\DeviceInstall\\Restrictions"
LIST = POLICY + "\\DenyInstanceIDs"
RECORDS = "SOFTWARE\\Quillfen\\DenyInstanceIDs"
# The model list beside it, under the same rules.
MODEL_LIST = POLICY + "\\DenyDeviceIDs"
MODEL_RECORDS = "SOFTWARE\\Quillfen\\DenyDeviceIDs"
# Windows' allow list of instance ids, which an approved unit goes into
# while its model stays blocked, under layered evaluation.
ALLOW_LIST = POLICY + "\\AllowInstanceIDs"
ALLOW_RECORDS = "SOFTWARE\\Quillfen\\AllowInstanceIDs"
LISTS = ((LIST, RECORDS), (MODEL_LIST, MODEL_RECORDS), (ALLOW_LIST, ALLOW_RECORDS))
RULES_HEADER = "# Quillfen 规则  (until\\tkind\\tid\\tblock\\tname)\r\n"
MODELS_HEADER = qftest.MODELS_HEADER
SOURCE = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Quillfen"
# What says on the screen or in the log that something did not get done.
REPORTS = re.compile(r"✘|\[错误\]|\[提示\] (未能|读不到)|\] (删除失败|后台删除失败|拉黑失败|枚举设备失败|读取拉黑名单失败|写入系统安装禁止失败|系统程序超时|解除系统安装禁止失败|写入系统允许安装失败|撤下系统允许安装失败|后台任务已卸载，但未能清除) ")


def row(until, byname, name, inst):
    return "%d\t%d\t%s\t%s\tCamera\r\n" % (until, byname, name, inst)


class Box(qftest.Box):
    """The program's folder, its machine and registry, reset before each run."""

    def __init__(self, binary, loop):
        super().__init__(binary, "qf-faults-")
        self.loop = loop
        self.bl = self.dir + "blacklist.tsv"
        self.registry = dict(loop.registry(self))
        # The administrator's: every value under the policy key but ours,
        # the list values with a record and what the loop lets us change.
        low = {(k.lower(), n.lower()): v for (k, n), v in self.registry.items()}
        self.admin = {k: v for k, v in low.items() if k[0].startswith(POLICY.lower()) and k not in loop.ours
                      and not any(k[0] == l.lower() and (rec.lower(), k[1]) in low for l, rec in LISTS)}

    def read(self, name, default=""):
        return super().read(name, default)

    def reg(self):
        out = {}
        for line in self.read("registry").splitlines():
            key, name, kind, data = line.split("\t", 3)
            out[(key.lower(), name.lower())] = (kind, data)
        return out

    def reset(self):
        for name in os.listdir(self.dir):
            os.remove(self.path(name))
        self.write("blacklist.tsv", self.loop.old)
        for name, text in self.loop.files.items():
            self.write(name, text)
        self.write("registry", "".join("%s\t%s\t%s\t%s\n" % (k, n, t, d) for (k, n), (t, d) in self.registry.items()))

    def run(self, args, stdin="", fail=None):
        for name in ("record", "device_cleanup_log.txt"):
            if os.path.exists(self.path(name)):
                os.remove(self.path(name))
        lines = [("exe", self.exe), ("record", self.path("record")), ("registry", self.path("registry")),
                 ("clock", CLOCK), "events\tyes", "run\tschtasks\t0", "run\tpnputil\t0"] + self.loop.machine
        if fail:
            lines.append(("fail", "*", fail))
        if args == ["--enforce"]:
            lines.append("system\tyes")  # as the task runs it
        self.write_machine(lines)
        return Run(*super().run(stdin, args), self)


class Run:
    def __init__(self, exit, screen, box):
        self.exit, self.screen = exit, screen
        self.record = box.read("record").splitlines()
        self.failed = [line.split("\t")[1] for line in self.record if line.startswith("fail\t")]
        self.log = box.read("device_cleanup_log.txt")
        self.blacklist = box.read("blacklist.tsv", None)
        self.reg = box.reg()
        self.reported = self.exit != 0 or bool(REPORTS.search(self.screen + self.log))

    def ran(self, prefix):
        return any(line.startswith("run\t") and prefix in line for line in self.record)

    def blocks(self, box, which=0):
        """This copy's blocks of one list (0: instance ids, 1: models): the
        ids whose record and list value agree (a record marked unsure, for
        the list changed since, is one too)."""
        path = box.bl.lower()
        out = set()
        lst, records = LISTS[which]
        for (key, name), (_, data) in self.reg.items():
            data = data[:-2] if data.endswith("\t?") else data
            if key == records.lower() and data.lower().endswith("\t" + path):
                value = self.reg.get((lst.lower(), name))
                if value and value[1].lower() == data.split("\t")[0].lower():
                    out.add(data.split("\t")[0].lower())
        return out


def consistent(box, r):
    """Every record has its list value and every value not the
    administrator's its record; while the task runs this copy, the blocks
    are the ids the file wants, else there are none; no administrator value
    changed."""
    problems = []
    reg = r.reg
    for lst, records in LISTS:
        for (key, name), (_, data) in reg.items():
            if key == records.lower() and reg.get((lst.lower(), name), ("", ""))[1].lower() != data.split("\t")[0].lower():
                problems.append("record %s\\%s without its value" % (records, name))
            if key == lst.lower() and (key, name) not in box.admin and (records.lower(), name) not in reg:
                problems.append("value %s\\%s without its record" % (lst, name))
    for k, v in box.admin.items():
        if reg.get(k) != v:
            problems.append("administrator value %s\\%s changed: %r" % (k[0], k[1], reg.get(k)))
    # Instance ids of the entries in force, and the models of those by name
    # and of the model rules; the units approved over a model stays, where
    # layered evaluation may be used.
    want, models, allows = set(), set(), set()
    kept = {}
    for line in box.read("blacklist-models.tsv")[len(MODELS_HEADER):].split("\r\n"):
        f = line.split("\t")
        if len(f) == 3 and f[2] == "ok":
            kept[f[0].lower()] = f[1].lower()
    if reg.get(("software\\quillfen", "taskcommand"), ("", ""))[1] == box.exe:
        for line in (r.blacklist or HEADER)[len(HEADER):].split("\r\n"):
            f = line.split("\t")
            if len(f) == 5 and int(f[0]) > CLOCK and f[3]:
                want.add(f[3].lower())
                if f[1] == "1" and f[3].lower() in kept:
                    model = kept[f[3].lower()]
                    models.add(model)
                    # A USB function's model covers its composite device's id.
                    if model.startswith("usb\\") and re.search(r"&mi_[0-9a-f]+$", model):
                        models.add(model[:model.rindex("&")])
        rules = [line.split("\t") for line in box.read("blacklist-rules.tsv")[len(RULES_HEADER):].split("\r\n")]
        rules = [f for f in rules if len(f) == 5 and int(f[0]) > CLOCK]
        models |= {f[2].lower() for f in rules if f[1] == "model" and f[3] == "ok"}
        if box.loop.layered:
            allows |= {f[2].lower() for f in rules if f[1] == "approve-id" and f[2][:f[2].rindex("\\")].lower() in models}
    for which, wanted in enumerate((want, models, allows)):
        if r.blocks(box, which) != wanted:
            problems.append("blocks %s, wanted %s" % (sorted(r.blocks(box, which)), sorted(wanted)))
    for mark, records in (("enabledbyquillfen", RECORDS), ("deviceidsenabledbyquillfen", MODEL_RECORDS),
                          ("allowidsenabledbyquillfen", ALLOW_RECORDS), ("layeredenabledbyquillfen", ALLOW_RECORDS)):
        if ("software\\quillfen", mark) in reg and not any(k[0] == records.lower() for k in reg):
            problems.append("the switch we turned on (%s) stays on without a value of ours" % mark)
    return problems


def loop(binary, op, every=1):
    box = Box(binary, op)
    problems, n, hits, points = [], 1 - every, {}, 0
    try:
        while True:
            n += every
            box.reset()
            r = box.run(op.args, op.stdin, fail=n)
            for fn in r.failed:
                hits[fn] = hits.get(fn, 0) + 1
            found = []
            if r.blacklist not in (op.old, op.new) + op.also:
                found.append("blacklist.tsv is neither the old nor the new file: %r" % r.blacklist)
            # The next pass puts right what the failure left, where a task runs.
            after = box.run(["--enforce"]) if op.task_after(r) else r
            done, claims = op.outcome(box, r, after)
            if not done and not r.reported:
                found.append("not done, and nothing says so")
            found += ["claims %s" % c for c in claims]
            if not r.failed and not done:
                found.append("the run without failures did not get done")
            found += consistent(box, after)
            if after.exit != 0:
                found.append("the next pass exited %d" % after.exit)
            if str(n) == os.environ.get("FAULTS_SHOW"):
                print(r.screen, r.log, "\n".join(r.record), sep="\n---\n")
                print("\n".join("%s\t%s\t%s" % (k, v[0], v[1]) for k, v in sorted(r.reg.items())))
            for p in found:
                problems.append("fail * %d (%s): %s" % (n, ", ".join(r.failed) or "none", p))
            if not r.failed:
                break
            points += 1
    finally:
        box.close()
    print("%s: %d failure points%s (%s)" % (op.__name__, points, "" if every == 1 else ", one in %d" % every,
                                            ", ".join("%s %d" % kv for kv in sorted(hits.items()))))
    for p in problems[:40]:
        print("  " + p)
    return not problems


# ---- the operations ----------------------------------------------------------------

def base_registry(box, owner=None):
    return {("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "CurrentBuildNumber"): ("sz", "19045"),
            ("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "EditionID"): ("sz", "Professional"),
            ("SOFTWARE\\Quillfen", "TaskCommand"): ("sz", owner or box.exe),
            (POLICY, "DenyInstanceIDsRetroactive"): ("dword", "0"),
            (POLICY, "DenyInstanceIDs"): ("dword", "1"),
            (LIST, "1"): ("sz", "USB\\ADMIN\\1")}


def block(n, inst, blacklist):
    return {(LIST, str(n)): ("sz", inst), (RECORDS, str(n)): ("sz", inst + "\t" + blacklist)}


A, B = "USB\\VID_1\\A", "USB\\VID_1\\B"
OLD2 = HEADER + row(CLOCK + 7200, 0, "smart camera", A) + row(CLOCK + 7200, 1, "pro cam", B)


class Loop:
    machine, args, stdin, ours, files = [], [], "", set(), {}
    also = ()  # blacklist.tsv as a run may also leave it, having said why
    layered = False  # a build with layered evaluation, none of the administrator's settings in its way

    @staticmethod
    def task_after(r):
        return True


class blacklisting(Loop):
    """A device blacklisted from the removal dialogue, by id only, since
    another device's name holds its own; the task runs this copy."""
    machine = ["dev\t1\tSmart Camera\t\tCamera\t" + A, "dev\t1\tSmart Camera Pro\t\tCamera\t" + B]
    stdin = "1\ny\ny\n1\nn\nn\n\nq\n"
    old = HEADER + row(CLOCK + 7200, 1, "pro cam", B)
    new = old + row(CLOCK + 3600, 0, "smart camera", A)

    @staticmethod
    def registry(box):
        return {**base_registry(box), **block(2, B, box.bl)}

    @staticmethod
    def outcome(box, r, after):
        listed, blocked = r.blacklist == blacklisting.new, A.lower() in r.blocks(box)
        claims = []
        if "✔ 已拉黑" in r.screen and not listed:
            claims.append("a blacklisting that is not in the file")
        if "已同时禁止系统再次安装它" in r.screen and not blocked:
            claims.append("a block that is not there")
        return listed and blocked, claims


class blacklisting_model(Loop):
    """A camera blacklisted by name from the dialogue, with the model its
    hardware ids name, which the absent second unit shares: the entry, its
    model beside the blacklist, and both blocks."""
    M = "USB\\VID_1&PID_2&MI_00"
    C = M + "\\6&1&0&0000"
    ids = "\t\tUSB\\VID_1&PID_2&REV_0100&MI_00;" + M + "\tUSB\\Class_0E"
    machine = ["dev\t1\tSmart Camera\t\tCamera\t" + C + ids, "dev\t0\tSmart Camera\t\tCamera\t" + M + "\\7&2&0&0000" + ids]
    stdin = "1\ny\ny\n1\ny\nn\n\nq\n"
    old = HEADER + row(CLOCK + 7200, 1, "pro cam", B)
    new = old + row(CLOCK + 3600, 1, "smart camera", C)
    also = (old + row(CLOCK + 3600, 0, "smart camera", C),)  # the name's reach could not be told

    @staticmethod
    def registry(box):
        return {**base_registry(box), **block(2, B, box.bl)}

    @staticmethod
    def outcome(box, r, after):
        self = blacklisting_model
        listed = r.blacklist == self.new
        models = box.read("blacklist-models.tsv", None)
        kept = models == MODELS_HEADER + "%s\t%s\tok\r\n" % (self.C, self.M)
        blocked = self.C.lower() in r.blocks(box) and self.M.lower() in r.blocks(box, 1)
        claims = []
        # Unknown: the other devices could not be looked at, which is said.
        if models not in (None, MODELS_HEADER) + tuple(MODELS_HEADER + "%s\t%s\t%s\r\n" % (self.C, self.M, v)
                                                      for v in ("ok", "unknown")):
            claims.append("a models file that is neither absent nor the new one: %r" % models)
        if "✔ 已拉黑" in r.screen and r.blacklist not in (self.new,) + self.also:
            claims.append("a blacklisting that is not in the file")
        if "已同时按型号禁止安装" in r.screen and not (kept and self.M.lower() in r.blocks(box, 1)):
            claims.append("a model block that is not there")
        return listed and kept and blocked, claims


class lift(Loop):
    """d1 lifts the first of two blocked entries."""
    stdin = "b\nd1\nq\nq\n"
    old, new = OLD2, HEADER + row(CLOCK + 7200, 1, "pro cam", B)

    @staticmethod
    def registry(box):
        return {**base_registry(box), **block(2, A, box.bl), **block(3, B, box.bl)}

    @staticmethod
    def outcome(box, r, after):
        gone = r.blacklist == lift.new
        claims = ["a lift that is not in the file"] if "✔ 已解除" in r.screen and not gone else []
        return gone and r.blocks(box) == {B.lower()}, claims


class clear(Loop):
    """c lifts both entries and their blocks, and the policy we switched on
    goes back to "not configured"."""
    stdin = "b\nc\ny\nq\nq\n"
    old, new = OLD2, HEADER
    ours = {(POLICY.lower(), "denyinstanceids")}

    @staticmethod
    def registry(box):
        reg = {**base_registry(box), **block(2, A, box.bl), **block(3, B, box.bl),
               ("SOFTWARE\\Quillfen", "EnabledByQuillfen"): ("dword", "1")}
        del reg[(LIST, "1")]
        return reg

    @staticmethod
    def outcome(box, r, after):
        empty = r.blacklist == HEADER
        claims = ["a clear that is not in the file"] if "✔ 已全部解除" in r.screen and not empty else []
        switched_off = (POLICY.lower(), "denyinstanceids") not in r.reg
        return empty and not r.blocks(box) and switched_off, claims


class enforce_pass(Loop):
    """The pass drops an expired entry and its block, blocks the two in
    force and removes the present device each reaches, by id and by name."""
    machine = ["dev\t1\tSmart Camera\t\tCamera\t" + A, "dev\t1\tMy Pro Cam\t\tCamera\t" + B,
               "dev\t1\tOther Camera\t\tCamera\tUSB\\VID_9\\9"]
    args = ["--enforce"]
    old = HEADER + row(CLOCK - 1, 0, "expired", "USB\\VID_0\\0") + OLD2
    new = OLD2

    @staticmethod
    def registry(box):
        return {**base_registry(box), **block(2, "USB\\VID_0\\0", box.bl)}

    @staticmethod
    def outcome(box, r, after):
        removed = all(any(line == "remove\t" + i or (line.startswith("run\t") and "/remove-device" in line and i in line)
                          for line in r.record) for i in (A, B))
        done = r.blacklist == enforce_pass.new and r.blocks(box) == {A.lower(), B.lower()} and removed
        return done, ["exit 0 with a blacklisted device left"] if r.exit == 0 and not removed else []


class install_task(Loop):
    """--install-task takes the task over from another copy: that copy's
    block goes, this copy's entry gets its own. The event source is the
    event log's own: its failures go unreported, like a lost event's."""
    args = ["--install-task"]
    old = new = HEADER + row(CLOCK + 7200, 0, "smart camera", A)

    @staticmethod
    def registry(box):
        return {**base_registry(box, "C:\\Other\\quillfen.exe"), **block(2, B, "C:\\Other\\blacklist.tsv")}

    @staticmethod
    def outcome(box, r, after):
        created = r.ran("/Create")
        # A TaskCommand that could not be written is taken up by the next pass.
        owner = after.reg.get(("software\\quillfen", "taskcommand"), ("", ""))[1] == box.exe
        # Another copy's block that stays has nothing but an install to lift it.
        others = [k for k, v in r.reg.items() if k[0] == RECORDS.lower() and "other" in v[1].lower()]
        claims = ["exit %d, created %s, another copy's block left %s" % (r.exit, created, bool(others))] \
            if (r.exit == 0 and (others or not created)) or (r.exit != 0 and not r.failed) else []
        # This copy's own blocks are the next pass's to write (consistent).
        return created and owner and not others, claims


class remove_task(Loop):
    """--remove-task lifts every block of this copy and forgets the task;
    what it cannot lift keeps the task, whose next pass takes it up."""
    args = ["--remove-task"]
    old = new = OLD2

    @staticmethod
    def task_after(r):
        return not r.ran("/Delete")  # a deleted task runs no pass

    @staticmethod
    def registry(box):
        return {**base_registry(box), **block(2, A, box.bl), **block(3, B, box.bl),
                (SOURCE, "EventMessageFile"): ("expand", box.exe), (SOURCE, "TypesSupported"): ("dword", "7")}

    @staticmethod
    def outcome(box, r, after):
        deleted = r.ran("/Delete")
        claims = ["exit %d, but the task was %sdeleted" % (r.exit, "" if deleted else "not ")] \
            if (r.exit == 0) != deleted else []
        left = [k for k in r.reg if k[0] == RECORDS.lower() or k == ("software\\quillfen", "taskcommand")]
        if deleted and left and not r.reported:
            claims.append("the task is gone and its blocks stay")
        return deleted and not left, claims


class unblacklist_all(Loop):
    """--unblacklist --all lifts an entry by id and one by name with its
    model: exit 0 only when no value of ours stands for an id or a model
    that no entry in force wants any more."""
    M = "USB\\VID_1&PID_2"
    args = ["--unblacklist", "--all"]
    old, new = OLD2, HEADER
    files = {"blacklist-models.tsv": MODELS_HEADER + "%s\t%s\tok\r\n" % (B, M)}
    lifted = (A, B, M)

    @classmethod
    def registry(cls, box):
        return {**base_registry(box), **block(2, A, box.bl), **block(3, B, box.bl),
                (MODEL_LIST, "1"): ("sz", cls.M), (MODEL_RECORDS, "1"): ("sz", cls.M + "\t" + box.bl),
                (POLICY, "DenyDeviceIDs"): ("dword", "1")}

    @classmethod
    def outcome(cls, box, r, after):
        lifted = {i.lower() for i in cls.lifted}
        ours = {data.split("\t")[0].lower() for (key, _), (_, data) in r.reg.items()
                if key in (RECORDS.lower(), MODEL_RECORDS.lower())}
        values = {data.lower() for (key, name), (_, data) in r.reg.items()
                  if key in (LIST.lower(), MODEL_LIST.lower()) and (key, name) not in box.admin}
        left = (ours | values) & lifted
        claims = ["exit 0 while a block of %s stands" % sorted(left)] if r.exit == 0 and left else []
        if "✔ 已解除" in r.screen and r.blacklist != cls.new:
            claims.append("a lift that is not in the file")
        return r.blacklist == cls.new and not left, claims


class unblacklist_id(unblacklist_all):
    """--unblacklist --id lifts the entry by id alone; the other keeps its
    blocks."""
    args = ["--unblacklist", "--id", A]
    new = HEADER + row(CLOCK + 7200, 1, "pro cam", B)
    lifted = (A,)


class unblacklist_name(unblacklist_all):
    """--unblacklist --name lifts the entry by name, its block and its
    model's."""
    args = ["--unblacklist", "--name", "Pro Cam"]
    new = HEADER + row(CLOCK + 7200, 0, "smart camera", A)
    lifted = (B, unblacklist_all.M)


M, U = "USB\\VID_5&PID_6", "USB\\VID_5&PID_6\\CEO1"
APPROVED = RULES_HEADER + "%d\tmodel\t%s\tok\t\r\n%d\tapprove-id\t%s\t-\t\r\n" % (CLOCK + 7200, M, CLOCK + 7200, U)


def layered_registry(box):
    return {**base_registry(box), ("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "UBR"): ("dword", "3803"),
            (MODEL_LIST, "1"): ("sz", M), (MODEL_RECORDS, "1"): ("sz", M + "\t" + box.bl),
            (POLICY, "DenyDeviceIDs"): ("dword", "1"), ("SOFTWARE\\Quillfen", "DeviceIDsEnabledByQuillfen"): ("dword", "1")}


class approve_allowed(Loop):
    """--approve --id spares one unit of a blocked model: the unit goes into
    Windows' allow list under layered evaluation, which this copy turns on,
    and the model stays blocked."""
    machine = ["dev\t1\tCEO Cam\t\tCamera\t" + U + "\t\t" + M]
    args = ["--approve", "--id", U, "--hours", "2"]
    old = new = HEADER
    files = {"blacklist-rules.tsv": RULES_HEADER + "%d\tmodel\t%s\tok\t\r\n" % (CLOCK + 7200, M)}
    layered = True
    registry = staticmethod(layered_registry)

    @staticmethod
    def outcome(box, r, after):
        allowed = r.blocks(box, 2) == {U.lower()} and M.lower() in r.blocks(box, 1)
        layered = r.reg.get((POLICY.lower(), "allowdenylayered")) == ("dword", "1")
        claims = ["an allow value that is not there"] if "✔ 已加入系统的允许安装列表" in r.screen and not allowed else []
        return allowed and layered, claims


class unapprove_allowed(Loop):
    """--unapprove --id lifts the approval of a unit on the allow list: its
    allow value and the layered evaluation this copy turned on go, and the
    model stays blocked."""
    args = ["--unapprove", "--id", U]
    old = new = HEADER
    files = {"blacklist-rules.tsv": APPROVED}
    layered = True
    ours = {(POLICY.lower(), "allowdenylayered"), (POLICY.lower(), "allowinstanceids")}

    @staticmethod
    def registry(box):
        return {**layered_registry(box), (ALLOW_LIST, "1"): ("sz", U), (ALLOW_RECORDS, "1"): ("sz", U + "\t" + box.bl),
                (POLICY, "AllowInstanceIDs"): ("dword", "1"), (POLICY, "AllowDenyLayered"): ("dword", "1"),
                ("SOFTWARE\\Quillfen", "AllowIDsEnabledByQuillfen"): ("dword", "1"),
                ("SOFTWARE\\Quillfen", "LayeredEnabledByQuillfen"): ("dword", "1")}

    @staticmethod
    def outcome(box, r, after):
        left = r.blocks(box, 2) or (POLICY.lower(), "allowdenylayered") in r.reg
        claims = ["exit 0 while the allow value or its switch stands"] if r.exit == 0 and left else []
        return not left and M.lower() in r.blocks(box, 1), claims


LOOPS = [blacklisting, blacklisting_model, lift, clear, enforce_pass, install_task, remove_task, unblacklist_all,
         unblacklist_id, unblacklist_name, approve_allowed, unapprove_allowed]


def main(argv):
    if len(argv) < 3:
        print(__doc__)
        return 2
    binary = os.path.abspath(argv[1])
    names, every = argv[2:], 1
    if names[:1] == ["--every"]:
        every, names = int(names[1]), names[2:]
    ops = [s for s in LOOPS if s.__name__ in names]
    if len(ops) != len(names):
        print("unknown loop; known: %s" % ", ".join(s.__name__ for s in LOOPS))
        return 2
    return 0 if all([loop(binary, s, every) for s in ops]) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
