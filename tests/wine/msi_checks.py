r"""The MSI package: its tables, and Wine's msiexec installing, upgrading and
removing it. Wine refuses the task from every folder, so only the refusal is
checked with the shipped package; the rest use the test-only packages of
msi-test-packages (with --allow-unsafe-dir). Wine 8 removes the old version
of an upgrade outside the transaction and without UPGRADINGPRODUCTCODE, so
the old uninstall step is checked as Windows starts it.
"""

import os
import re
import shutil
import subprocess

from harness import check, expect, has, same, skip
from machine import ROOT

PROGRAM = r"C:\Program Files\Quillfen"
UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
TEMPLATE = ["quillfen.admx", r"en-US\quillfen.adml", r"zh-CN\quillfen.adml"]
VERSION = re.search(r"project\(quillfen VERSION (\S+)", open(os.path.join(ROOT, "CMakeLists.txt")).read())[1]


def tables(msi, *names):
    """{table: [row, ...]} with each row a list of fields, from msiinfo export."""
    got = {}
    for t in names:
        out = subprocess.run(["msiinfo", "export", msi, t], capture_output=True, text=True, check=True).stdout
        got[t] = [r.split("\t") for r in out.splitlines()[3:]]
    return got


def package(m, which):
    r"""Copies a package to C:\standin: "shipped", "current" or "older" (test-only)."""
    if not shutil.which("wixl"):
        skip("wixl not installed")
    subprocess.run(["cmake", "--build", m.p.build, "--target", "msi", "msi-test-packages"], check=True,
                   stdout=subprocess.DEVNULL)
    name = "quillfen-%s-x64.msi" % ("1.0.0" if which == "older" else VERSION)
    shutil.copy(os.path.join(m.p.build, "" if which == "shipped" else "msi-test", name),
                m.standin_path(which + ".msi"))
    return r"C:\standin\%s.msi" % which


def msiexec(m, *args):
    m.msi_runs = getattr(m, "msi_runs", 0) + 1
    return m.run(*args, "/qn", "/l*v", r"C:\standin\msiexec.%d.log" % m.msi_runs,
                 exe=r"C:\windows\system32\msiexec.exe", full_exit=True, timeout=120).rc


def entries(m):
    """[(product code, version, values)] of the Quillfen entries in Programs and Features."""
    out = m.wine("reg", "query", UNINSTALL, "/s").out
    keys = re.findall(r"^HKEY_LOCAL_MACHINE\\.*\\Uninstall\\(\{[^}]+\})\n((?:    .*\n)*)", out, re.M)
    found = []
    for code, body in keys:
        values = dict(re.findall(r"^    (\S+)[ \t]+REG_\w+[ \t]*(.*)$", body, re.M))
        if values.get("DisplayName") == "Quillfen":
            found.append((code, values.get("DisplayVersion"), values))
    return found


def clean(m):
    """Nothing of the package on the machine, now and after the check."""
    def undo():
        if os.path.exists(m.standin_path("schtasks.exit")):
            os.remove(m.standin_path("schtasks.exit"))
        for code, _, _ in entries(m):
            msiexec(m, "/x", code)
        shutil.rmtree(m.unix(PROGRAM), ignore_errors=True)
        m.reg_delete(r"HKLM\SOFTWARE\Quillfen")
        m.reg_delete(r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Quillfen")
        if entries(m):
            raise RuntimeError("a Quillfen package could not be removed")
    undo()
    m.on_cleanup(undo)


def creates(m):
    return sum("/Create " in c for c in m.calls("schtasks"))


@check
def msi_tables(m):
    """The shipped package: the version of CMakeLists.txt, the custom actions
    with their types, conditions and places, where its files go, and ASCII
    texts only."""
    msi = m.unix(package(m, "shipped"))
    t = tables(msi, "Property", "CustomAction", "InstallExecuteSequence", "Component", "File", "Directory")
    props = dict(r[:2] for r in t["Property"])
    same("version, publisher, no Modify/Repair, NOTASK passed on",
         [VERSION, "Quillfen", "1", "1", "NOTASK;WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED"],
         [props.get(p) for p in "ProductVersion Manufacturer ARPNOMODIFY ARPNOREPAIR SecureCustomProperties".split()])
    # Type: an installed exe (18), no impersonation (2048), deferred (1024);
    # the rollback action also 256, and 64: its exit code does not count.
    same("the custom actions, never with --allow-unsafe-dir",
         [["RemoveTask", "3090", "QuillfenExe", "--remove-task", ""],
          ["RollbackTask", "3410", "QuillfenExe", "--remove-task", ""],
          ["InstallTask", "3090", "QuillfenExe", "--install-task", ""]], t["CustomAction"])
    seq = {r[0]: r for r in t["InstallExecuteSequence"]}
    same("after InstallInitialize, around RemoveFiles and before InstallFinalize",
         ["1500", "3500", "6600"], [seq.get(a, [""] * 3)[2] for a in ("InstallInitialize", "RemoveFiles",
                                                                       "InstallFinalize")])
    same("their conditions and places",
         [["RemoveExistingProducts", "", "1510"],
          ["RemoveTask", 'REMOVE~="ALL" AND NOT UPGRADINGPRODUCTCODE', "3490"],
          ["RollbackTask", 'NOT Installed AND NOT WIX_UPGRADE_DETECTED AND NOTASK<>"1"', "6590"],
          ["InstallTask", 'NOT Installed AND NOTASK<>"1"', "6591"]],
         [seq.get(a) for a in ("RemoveExistingProducts", "RemoveTask", "RollbackTask", "InstallTask")])
    same("64-bit components; NOTASK remembered only when given",
         {"Program": ["256", ""], "NoTaskMemory": ["260", 'NOTASK="1"'], "PolicyTemplate": ["256", ""],
          "PolicyTextEnglish": ["256", ""], "PolicyTextChinese": ["256", ""]}, {r[0]: r[3:5] for r in t["Component"]})
    folder = {r[0]: r[2] for r in t["Component"]}
    dirs = {r[0]: r[1:3] for r in t["Directory"] if r[0] not in ("TARGETDIR", "ProgramFiles64Folder")}

    def path(d):
        return path(dirs[d][0]) + dirs[d][1].split("|")[-1] + "\\" if d in dirs else ""
    same("the exe, and the template in Windows' PolicyDefinitions layout",
         sorted(["Quillfen\\quillfen.exe"] + ["Quillfen\\PolicyDefinitions\\" + f for f in TEMPLATE]),
         sorted(path(folder[r[1]]) + r[2].split("|")[-1] for r in t["File"]))
    same("every name 8.3, or an 8.3 short name before the long one", [],
         [n for n in [r[2] for r in t["File"]] + [d[1] for d in dirs.values()]
          if not re.fullmatch(r"[^|. ]{1,8}(\.[^|. ]{1,3})?(\|.+)?", n)])
    has("a 64-bit package", subprocess.run(["msiinfo", "suminfo", msi], capture_output=True, text=True).stdout,
        "Template: x64;1033")
    for name in subprocess.run(["msiinfo", "tables", msi], capture_output=True, text=True).stdout.split():
        out = subprocess.run(["msiinfo", "export", msi, name], capture_output=True).stdout
        expect("%s is ASCII" % name, out.isascii())


@check
def msi_install_upgrade_uninstall(m):
    """An upgrade replaces the older version and keeps the data; an older
    package or the same one again changes nothing; the uninstall removes the
    task and the program and leaves the data."""
    clean(m)
    older, current = package(m, "older"), package(m, "current")
    same("the older package installs", 0, msiexec(m, "/i", older))
    expect("the exe in place, the task created",
           m.read(PROGRAM + r"\quillfen.exe") == open(m.p.exe, "rb").read() and creates(m) == 1, m.calls("schtasks"))
    source = os.path.join(ROOT, "resources", "PolicyDefinitions")
    same("the template beside it", TEMPLATE, [f for f in TEMPLATE if m.read(PROGRAM + "\\PolicyDefinitions\\" + f) ==
                                               open(os.path.join(source, *f.split("\\")), "rb").read()])
    m.write(PROGRAM + r"\blacklist.tsv", "# kept\r\n")
    same("the upgrade installs", 0, msiexec(m, "/i", current))
    got = entries(m)
    same("one entry, the new version", [VERSION], [v for _, v, _ in got])
    same("Programs and Features without Modify/Repair", ("Quillfen", "0x1", "0x1"),
         tuple(got[0][2].get(k) for k in ("Publisher", "NoModify", "NoRepair")) if got else None)
    expect("the new copy installed the task", creates(m) == 2, m.calls("schtasks"))
    expect("an older version is refused", msiexec(m, "/i", older) != 0)
    msiexec(m, "/i", current)
    same("and the same version again changes nothing", ([VERSION], 2), ([v for _, v, _ in entries(m)], creates(m)))
    same("the uninstall", 0, msiexec(m, "/x", current))
    expect("deleted the task", "/Delete " in m.calls("schtasks")[-1], m.calls("schtasks"))
    expect("the program, its template and its entry gone", m.read(PROGRAM + r"\quillfen.exe") is None and not entries(m)
           and not os.path.exists(m.unix(PROGRAM + r"\PolicyDefinitions")))
    same("blacklist.tsv stays", b"# kept\r\n", m.read(PROGRAM + r"\blacklist.tsv"))
    same("no registry key of ours is left", None, m.reg_get(r"HKLM\SOFTWARE\Quillfen"))


@check
def msi_upgrade_skips_old_uninstall_step(m):
    """Removed as an upgrade removes it, the old version leaves the task."""
    clean(m)
    older = package(m, "older")
    same("the older package installs", 0, msiexec(m, "/i", older))
    code = dict(r[:2] for r in tables(m.unix(package(m, "current")), "Property")["Property"])["ProductCode"]
    same("its removal by an upgrade", 0, msiexec(m, "/x", older, "UPGRADINGPRODUCTCODE=" + code))
    same("no schtasks /Delete", 1, len(m.calls("schtasks")))


@check
def msi_notask_remembered(m):
    """NOTASK=1 installs no task, and an upgrade adds none: the shipped
    package, whose --install-task Wine would refuse, upgrades."""
    clean(m)
    same("the older package with NOTASK=1", 0, msiexec(m, "/i", package(m, "older"), "NOTASK=1"))
    same("the upgrade", 0, msiexec(m, "/i", package(m, "shipped")))
    same("no task created, one entry", (0, [VERSION]), (creates(m), [v for _, v, _ in entries(m)]))


@check
def msi_refused_task_fails_the_installation(m):
    """The shipped package under Wine, whose --install-task refuses the
    folder: an installation fails and is undone, an upgrade fails and leaves
    no new version."""
    clean(m)
    shipped = package(m, "shipped")
    expect("the installation fails", msiexec(m, "/i", shipped) != 0)
    expect("no program, no entry, no task", m.read(PROGRAM + r"\quillfen.exe") is None and not entries(m)
           and creates(m) == 0, m.calls("schtasks"))
    has("the refusal is logged", "\n".join(m.log(PROGRAM)), "拒绝安装后台任务 | " + PROGRAM + r"\quillfen.exe")
    same("the older package installs", 0, msiexec(m, "/i", package(m, "older")))
    expect("the upgrade fails", msiexec(m, "/i", shipped) != 0)
    expect("no entry of the new version, no second task",
           VERSION not in [v for _, v, _ in entries(m)] and creates(m) == 1, m.calls("schtasks"))
