#!/usr/bin/env python3
r"""The Wine checks: the Windows build of quillfen.exe run under Wine against
devices planted in the prefix's registry, with our own stand-ins for
schtasks and pnputil, comparing screens, files and recorded command lines.

    tests/wine/run.sh [--list | NAME...]

Every check plants the devices, writes the files and picks the stand-in exit
codes it needs, so each runs alone by name. The helpers are described at the
top of machine.py (the prefix, m), harness.py (expect and its shorthands),
tests/screens.py (expected screen texts, shared with the scenario runner) and console.py (a tmux console).

A check reads like this:

    @check
    def remove_pnputil_failure(m):
        m.standin_exit(pnputil=1)
        m.plant(QUOTE_DEVICES)
        r = m.run(stdin="3\ny\n\n")
        has("pnputil exit 1 is a failure", r.out, "  ✘ 删除失败：智能摄像头" + S.FAILED_HINT)
"""

import glob
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import time

import check_task_xml
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import screens as S  # noqa: E402  (tests/screens.py, shared with the scenario runner)
from console import Console, have_tmux
from harness import check, expect, has, lacks, main, same, skip
from machine import BLACKLIST_HEADER, CODEPAGES_EXE, HOLDER_EXE, QF_EXE, TIMESTAMP, prepare

# For scans: a built-in ROOT device, a keyboard no keyword matches, a camera
# known by its description alone (its friendly name is empty), two Chinese
# names and a built-in USB hub.
SCAN_DEVICES = [
    (r"ROOT\QFCAM\0000", "SmartCam Loopback", "Loopback", "Image"),
    (r"USB\VID_046D&PID_C31C\K1", "Generic Keyboard", "Keyboard", "Keyboard"),
    (r"USB\VID_0BDA&PID_58B0\SN001", "", "HD Camera for Smart TV", "Camera"),
    (r"USB\VID_1234&PID_5678\0001", "智能摄像头", "USB 视频设备", "Camera"),
    (r"USB\VID_2222&PID_0002\7", "智慧摄像头", "智慧摄像头", "Camera"),
    (r"USB\VID_AAAA&PID_0001\5&1A2B&0&1", "Smart-Camera Hub", "USB Composite", "USB"),
]
CN_ID = SCAN_DEVICES[3][0]  # the Chinese camera's id
ALPHA = (r"USB\VID_0C45&PID_64AB\ROAD&01", "Smart Camera Alpha", "x", "Camera")
BETA = (r"USB\VID_0C45&PID_64AC\ROAD&02", "SmartCam Beta", "x", "Camera")
# Ids a command interpreter would expand or split; only a quote is refused.
QUOTE_DEVICES = [
    (r"USB\VID_0C45&PID_6366\P%PATH%", "Smart Camera Percent", "x", "Camera"),
    (r'USB\VID_0C45&PID_6366\Q"&CALC&"Z', "Smart Camera Quote", "x", "Camera"),
    (r"USB\VID_1234&PID_5678\0001", "智能摄像头", "x", "Camera"),
]

SYS32 = '"C:\\windows\\system32\\'
DELETE_LINE = SYS32 + 'schtasks.exe" /Delete /TN "Quillfen-Enforce" /F'
QUERY_LINE = SYS32 + 'schtasks.exe" /Query /TN "Quillfen-Enforce"'
UNSAFE_REFUSAL = "✘ 未安装：C:\\qf\\quillfen.exe 可被普通用户修改，以 SYSTEM 运行会被用来提权。"


def create_line(exe):
    """The command that hands over the definition written beside EXE."""
    folder = exe.rsplit("\\", 1)[0]
    return SYS32 + 'schtasks.exe" /Create /TN "Quillfen-Enforce" /XML "%s\\Quillfen-Enforce.xml" /F' % folder


def pnputil_lines(*ids):
    return [SYS32 + 'pnputil.exe" /remove-device "%s"' % i for i in ids]


def line(text, n):
    lines = text.split("\n")
    return lines[n - 1] if len(lines) >= n else ""


def in_one_line(text, *parts):
    return any(all(p in l for p in parts) for l in text.split("\n"))


def byte_lines(raw):
    """RAW split into lines without their LF; a last line without one counts."""
    lines = raw.split(b"\n")
    return lines[:-1] if lines[-1] == b"" else lines


def from_line(text, part):
    """TEXT from the first line holding PART on (nothing when none does)."""
    at = text.find(part)
    return "" if at < 0 else text[text.rfind("\n", 0, at) + 1:]


def definition_ok(m, what, exe, n, kind):
    """The N-th definition schtasks was handed is whole and names EXE, and no
    definition file is left behind."""
    path = m.standin_path("task.%d.xml" % n)
    problems = check_task_xml.problems(path, exe, kind) if os.path.exists(path) else ["no " + path]
    left = (glob.glob(os.path.join(m.p.drive_c, "*", "Quillfen-Enforce.xml"))
            + glob.glob(os.path.join(m.p.drive_c, "*", "*", "Quillfen-Enforce.xml")))
    expect(what, not problems and not left, "\n".join(problems + ["left behind: " + f for f in left]))


def banner_credit(r):
    credit = line(r.out, 4)
    expect("the credit line is indented text", re.match(r"     [^ ]", credit), "line 4: " + credit)
    return credit


# ---- the executable ------------------------------------------------------------

@check
def exe_imports_only_kernel32_msvcrt(m):
    """Other system DLLs are loaded on first use, from the system directory."""
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", m.p.exe],
                          capture_output=True, text=True).stdout
    same("imports", ["kernel32.dll", "msvcrt.dll"],
         sorted(d.strip().lower() for d in re.findall(r"DLL Name: (.*)", dump)))


@check
def exe_embeds_manifest_and_version(m):
    """The manifest (elevation, UTF-8 code page) and the version block."""
    narrow = subprocess.run(["strings", "-n", "8", m.p.exe], capture_output=True, text=True).stdout
    for t in ('<assemblyIdentity name="Quillfen" version="1.0.0.0" processorArchitecture="amd64"'
              ' type="win32"/>',
              'level="requireAdministrator" uiAccess="false"', ">UTF-8</activeCodePage>",
              "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"):
        expect("manifest holds " + t, t in narrow)
    wide = subprocess.run(["strings", "-n", "7", "-el", m.p.exe], capture_output=True, text=True).stdout
    for t in ("Quillfen", "2.2.0.0", "Quillfen - scan and remove a named device with manual confirmation"):
        expect("version block holds " + t, t in wide.split("\n"))
    lines = wide.split("\n")
    same("CompanyName is the MSI's Manufacturer", ["Quillfen"],
         lines[lines.index("CompanyName") + 1:][:1] if "CompanyName" in lines else [])


# ---- scanning ------------------------------------------------------------------

@check
def scan_default_keywords(m):
    m.plant(SCAN_DEVICES)
    r = m.run("-s")
    expect("-s exits 0", r.rc == 0, r.err)
    want = (S.banner(banner_credit(r)) + S.SCANNING + S.header()
            + S.row(1, "在场", "锁", "—", "SmartCam Loopback", "Image", r"ROOT\QFCAM\0000")
            + S.row(2, "在场", "—", "—", "HD Camera for Smart TV", "Camera", r"USB\VID_0BDA&PID_58B0\SN001")
            + S.row(3, "在场", "—", "—", "智能摄像头", "Camera", r"USB\VID_1234&PID_5678\0001")
            + S.row(4, "在场", "锁", "—", "Smart-Camera Hub", "USB", r"USB\VID_AAAA&PID_0001\5&1A2B&0&1")
            + S.builtin_note(2) + "\n" + S.CLOSING)
    same("the screen: default keywords, the description for an empty name, built-in marks", want, r.out)
    same("redirected output ends its lines in CR LF", want.replace("\n", "\r\n").encode(), r.raw)


@check
def scan_keyword_chinese(m):
    m.plant(SCAN_DEVICES)
    r = m.run("-s", "-k", "摄像头")
    expect("-s -k 摄像头 exits 0", r.rc == 0, r.err)
    want = (S.banner(line(r.out, 4), key="摄像头") + S.SCANNING + S.header()
            + S.row(1, "在场", "—", "—", "智能摄像头", "Camera", r"USB\VID_1234&PID_5678\0001")
            + S.row(2, "在场", "—", "—", "智慧摄像头", "Camera", r"USB\VID_2222&PID_0002\7")
            + "\n" + S.CLOSING)
    same("the keyword from the command line matches Chinese names", want, r.out)


@check
def scan_keyword_ascii_lowercased(m):
    m.plant(SCAN_DEVICES)
    r = m.run("--present-only", "--force", "-s", "-k", "CAMERA")
    expect("-k CAMERA exits 0", r.rc == 0, r.err)
    want = (S.banner(line(r.out, 4), key="camera", force=True) + S.SCANNING + S.header()
            + S.row(1, "在场", "—", "—", "HD Camera for Smart TV", "Camera", r"USB\VID_0BDA&PID_58B0\SN001")
            + S.row(2, "在场", "锁", "—", "Smart-Camera Hub", "USB", r"USB\VID_AAAA&PID_0001\5&1A2B&0&1")
            + S.builtin_note(1) + "\n" + S.CLOSING)
    same("the keyword lower-cased, --force, --present-only", want, r.out)


@check
def scan_nothing_matched(m):
    m.plant(SCAN_DEVICES)
    r = m.run("-s", "-k", "no such device")
    want = S.banner(line(r.out, 4), key="no such device") + S.SCANNING + S.NOTHING + S.CLOSING
    same("the empty table", want, r.out)


@check
def scan_marks_blacklisted_prunes_expired(m):
    m.plant(SCAN_DEVICES)
    now = int(time.time())
    keep = (now + 7200, 1, "智能摄像头", r"usb\vid_1234&pid_5678\0001", "Camera")
    m.blacklist([keep, (now - 10, 0, "old thing", r"USB\VID_DEAD&PID_BEEF\1", "Camera")], eol="\n")
    r = m.run("-s")
    expect("-s with a blacklist exits 0", r.rc == 0, r.err)
    has("the banner counts the entry in force", r.out, "   拉黑名单：1 条在用")
    has("是 for the blacklisted id (other letter case)", r.out,
        S.row(3, "在场", "—", "是", "智能摄像头", "Camera", r"USB\VID_1234&PID_5678\0001"))
    has("— for the others", r.out,
        S.row(2, "在场", "—", "—", "HD Camera for Smart TV", "Camera", r"USB\VID_0BDA&PID_58B0\SN001"))
    want = (BLACKLIST_HEADER + "\r\n" + "\t".join(map(str, keep)) + "\r\n").encode()
    same("the expired entry pruned, the file rewritten with CR LF", want, m.read(r"C:\qf\blacklist.tsv"))


# ---- the scheduled task --------------------------------------------------------

@check
def install_task_refused_unsafe_folder(m):
    """Under Wine every folder is writable by the user's own account."""
    r = m.run("--install-task")
    expect("--install-task exits 1", r.rc == 1, r.err)
    has("the refusal on standard error", r.err, UNSAFE_REFUSAL)
    log = m.log()
    expect("schtasks never ran, the log says why",
           not m.calls("schtasks") and any(l.startswith("拒绝安装后台任务 | C:\\qf\\quillfen.exe") for l in log),
           "\n".join(log + m.calls("schtasks")))


def task_commands(m, code):
    m.standin_exit(schtasks=code)
    made = m.run("--install-task", "--allow-unsafe-dir")
    expect("--install-task --allow-unsafe-dir exits %d" % code, made.rc == code, made.err)
    definition_ok(m, "the definition is whole and deleted afterwards", QF_EXE, 1, "events+policy")
    gone = m.run("--remove-task", "--blist")
    # A failed deletion asks /Query, which, failing as well, finds no task:
    # a task that is not there counts as removed.
    expect("--remove-task exits 0", gone.rc == 0, gone.err)
    # A failure is tried twice more, with one event trigger fewer each time.
    same("schtasks received the command lines intact",
         [create_line(QF_EXE)] * (3 if code else 1) + [DELETE_LINE] + ([QUERY_LINE] if code else []),
         m.calls("schtasks"))
    expect("the task commands print nothing", made.out == gone.out == "", made.out + gone.out)
    # Every change to the task is logged, from the command line too, and so
    # is a failed install, with schtasks' exit code.
    same("the log names the unsafe folder, the install and the removal",
         ["后台任务装在不安全目录 | C:\\qf\\quillfen.exe", "已安装后台任务 Quillfen-Enforce", "已卸载后台任务"]
         if code == 0 else ["安装后台任务失败 | %d" % code], m.log())


@check
def install_remove_task_schtasks_succeeds(m):
    task_commands(m, 0)


@check
def install_remove_task_schtasks_fails(m):
    task_commands(m, 1)


@check
def install_task_timer_fallback(m):
    """A system that refuses event triggers: the task is created again
    without the policy trigger, then with the timer alone, which counts as
    success."""
    m.standin_file("schtasks.noevents")
    r = m.run("--install-task", "--allow-unsafe-dir")
    expect("the timer-only fallback exits 0", r.rc == 0, r.err)
    definition_ok(m, "the first definition had both event triggers", QF_EXE, 1, "events+policy")
    definition_ok(m, "the second one the device-event trigger alone", QF_EXE, 2, "events")
    definition_ok(m, "the third one has the timer alone", QF_EXE, 3, "timer")
    if os.path.exists(m.standin_path("task.1.xml")):  # kept for reading
        shutil.copy(m.standin_path("task.1.xml"), os.path.join(m.p.build, "Quillfen-Enforce.as-written.xml"))


@check
def install_task_refused_percent_path(m):
    """A % in the program's path is refused with or without the option."""
    exe = m.install_exe(r"C:\pct%OS%x\quillfen.exe")
    for opts in ([], ["--allow-unsafe-dir"]):
        how = " ".join(opts) or "without the option"
        r = m.run("--install-task", *opts, exe=exe, timeout=60)
        expect("refused " + how, r.rc == 1, r.err)
        has("the % refusal " + how, r.err, "✘ 未安装：程序路径含有 %，计划任务会把它当作环境变量展开；请换一个目录。")
        same("no schtasks for a % path " + how, [], m.calls("schtasks"))


@check
def install_task_path_of_260_refused(m):
    """The task holds a program path of at most 259 characters: one of 260 is
    refused for that, before any definition is written; 259 install."""
    exe = m.install_exe("C:\\%s\\quillfen.exe" % ("L" * 244))
    folder = exe.rsplit("\\", 1)[0]
    r = m.run("--install-task", "--allow-unsafe-dir", exe=exe, cwd=folder, timeout=60)
    expect("a 260-character path is refused", r.rc == 1, r.err)
    has("the refusal says why", r.err, "✘ 未安装：程序路径有 260 个字符，计划任务最多只接受 259 个；请换一个路径短一些的目录。")
    expect("no definition, no schtasks", not m.calls("schtasks") and m.read(folder + r"\Quillfen-Enforce.xml") is None,
           "\n".join(m.calls("schtasks")))
    same("the log names the path", ["拒绝安装后台任务：程序路径超过 259 个字符 | " + exe], m.log(folder))
    # Longer still, Wine gives no final path: the length is what is said.
    exe = m.install_exe("C:\\%s\\%s\\quillfen.exe" % ("d" * 128, "d" * 125))
    r = m.run("--install-task", exe=exe, timeout=60)
    has("a 270-character path is refused for its length", r.err,
        "✘ 未安装：程序路径有 270 个字符，计划任务最多只接受 259 个；请换一个路径短一些的目录。")
    expect("no schtasks for it", not m.calls("schtasks"), "\n".join(m.calls("schtasks")))
    install_task_from(m, "C:\\%s\\quillfen.exe" % ("S" * 243))


def install_task_from(m, exe):
    """--install-task wins over --remove-task; the path reaches schtasks whole."""
    m.install_exe(exe)
    r = m.run("--remove-task", "--install-task", "--allow-unsafe-dir", exe=exe, cwd=exe.rsplit("\\", 1)[0],
              timeout=60)
    expect("--install-task from " + exe, r.rc == 0, r.err)
    same(exe + " reaches schtasks intact", [create_line(exe)], m.calls("schtasks"))
    definition_ok(m, "the definition names " + exe + " intact", exe, 1, "events+policy")


@check
def install_task_path_with_blanks_and_chinese(m):
    install_task_from(m, r"C:\Program Files\Quillfen 工具\quillfen.exe")


@check
def install_task_path_with_shell_characters(m):
    install_task_from(m, r"C:\R&D ^x (1)\quillfen.exe")


@check
def system_programs_from_system_folder_only(m):
    """Programs planted beside the executable and in the current directory
    are never started: schtasks and pnputil come from the system directory."""
    m.plant([(r"USB\VID_1234&PID_5678\0001", "智能摄像头", "x", "Camera")])
    m.folder(r"C:\cwd")
    impostor = os.path.join(m.p.build, "standins", "planted.exe")
    for d in (r"C:\qf", r"C:\cwd"):
        for p in ("cmd", "schtasks", "pnputil"):
            shutil.copy(impostor, m.unix("%s\\%s.exe" % (d, p)))
    m.run("--remove-task", cwd=r"C:\cwd", timeout=60)
    m.run(stdin="1\ny\n\n", cwd=r"C:\cwd", timeout=60)
    same("the real schtasks ran", [DELETE_LINE], m.calls("schtasks"))
    same("the real pnputil ran", pnputil_lines(r"USB\VID_1234&PID_5678\0001"), m.calls("pnputil"))
    same("no planted cmd, schtasks or pnputil ran", [], m.calls("planted"))


@check
def enforce_idle_loads_no_other_dll(m):
    r = m.run("--enforce", env={"WINEDEBUG": "+loaddll"})
    loaded = [x.lower() for l in r.err.split("\n") for x in re.findall(r'.*Loaded L"[^"]*\\([^"\\]*)"', l)]
    same("an idle --enforce loads no DLL beyond KERNEL32 and the C runtime",
         ["kernel32.dll", "kernelbase.dll", "msvcrt.dll", "quillfen.exe"], sorted(loaded))


@check
def scan_loads_cfgmgr32(m):
    """The configuration manager comes from cfgmgr32.dll in the system folder,
    not through SetupAPI's copies."""
    m.plant([SCAN_DEVICES[3]])
    r = m.run("-s", env={"WINEDEBUG": "+loaddll"})
    loaded = [x.lower().replace("\\\\", "\\") for x in re.findall(r'Loaded L"([^"]*)"', r.err)]  # as escaped there
    expect("a scan loads cfgmgr32.dll from the system folder", "c:\\windows\\system32\\cfgmgr32.dll" in loaded,
           "\n".join(loaded))


def link(m, target, link_path):
    """A Unix symbolic link at LINK_PATH to TARGET (C: paths), gone at cleanup."""
    os.symlink(m.unix(target), m.unix(link_path))
    m.on_cleanup(lambda: os.remove(m.unix(link_path)))


@check
def install_task_through_symlink_uses_final_path(m):
    """GetModuleFileNameW gives the link's path; the task must run the file
    SYSTEM would reach, from its real folder."""
    link(m, r"C:\qf", r"C:\qflink")
    r = m.run("--install-task", "--allow-unsafe-dir", exe=r"C:\qflink\quillfen.exe", cwd=r"C:\qf")
    expect("--install-task through the link exits 0", r.rc == 0, r.err)
    same("schtasks is handed the definition in the real folder", [create_line(QF_EXE)], m.calls("schtasks"))
    definition_ok(m, "the task runs the real path, in the real folder", QF_EXE, 1, "events+policy")
    same("the log names the real path",
         ["后台任务装在不安全目录 | C:\\qf\\quillfen.exe", "已安装后台任务 Quillfen-Enforce"], m.log())


@check
def data_files_beside_symlink_target(m):
    """Started through a link to the executable in another folder, the program
    keeps its log and blacklist beside the real file, where the task's runs
    look for them."""
    m.folder(r"C:\elsewhere")
    link(m, QF_EXE, r"C:\elsewhere\quillfen.exe")
    m.plant([ALPHA])
    r = m.run("-k", "Smart Camera Alpha", stdin="1\ny\ny\n1\nn\n\n", exe=r"C:\elsewhere\quillfen.exe",
              cwd=r"C:\elsewhere")
    expect("the dialogue through the link exits 0", r.rc == 0, r.err)
    bl = (m.read(r"C:\qf\blacklist.tsv") or b"").decode("utf-8", "replace")
    expect("the blacklist is beside the real file", "\t" + ALPHA[0] + "\t" in bl, bl)
    expect("the log is beside the real file", "拉黑 | Smart Camera Alpha | 3600秒" in m.log(), "\n".join(m.log()))
    same("nothing beside the link", ["quillfen.exe"], sorted(os.listdir(m.unix(r"C:\elsewhere"))))


def held_definition(m, hold_ms, *share, attempts=1):
    """A scanner holds the definition file, without sharing its deletion
    unless SHARE is "share-delete", until HOLD_MS after schtasks first ran."""
    holder = m.start(r"C:\qf\Quillfen-Enforce.xml", str(hold_ms), *share, exe=HOLDER_EXE, timeout=90)
    r = m.run("--install-task", "--allow-unsafe-dir")
    holder.wait()
    expect("the scanner held the file", m.read(r"C:\standin\holder.log") == b"opened\nreleased\n",
           m.read(r"C:\standin\holder.log"))
    expect("--install-task exits 0: the task was created", r.rc == 0, r.err)
    same("schtasks was handed each attempt's definition", [create_line(QF_EXE)] * attempts, m.calls("schtasks"))
    return r


def deleted_once_let_go(m):
    expect("the definition is deleted once the scanner lets go", m.read(r"C:\qf\Quillfen-Enforce.xml") is None)
    same("the log has the install and nothing about the file",
         ["后台任务装在不安全目录 | C:\\qf\\quillfen.exe", "已安装后台任务 Quillfen-Enforce"], m.log())


@check
def install_task_definition_held_briefly(m):
    held_definition(m, 300)
    deleted_once_let_go(m)


@check
def install_task_definition_held_too_long(m):
    held_definition(m, 3000)
    same("the file left behind is logged by its full path, the task as installed",
         ["任务定义文件未能删除 | C:\\qf\\Quillfen-Enforce.xml", "后台任务装在不安全目录 | C:\\qf\\quillfen.exe",
          "已安装后台任务 Quillfen-Enforce"], m.log())
    expect("the file is still there", m.read(r"C:\qf\Quillfen-Enforce.xml") is not None)
    again = m.run("--install-task", "--allow-unsafe-dir")
    expect("the next install exits 0", again.rc == 0, again.err)
    definition_ok(m, "the next install writes a fresh definition and deletes it", QF_EXE, 2, "events+policy")


@check
def install_task_definition_held_sharing_deletion(m):
    """A scanner that shares deletion keeps the name until it lets go: the
    deletion waits for the name to go, so the next attempt's definition (the
    stand-in refuses two) can be created."""
    m.standin_file("schtasks.noevents")
    held_definition(m, 500, "share-delete", attempts=3)
    deleted_once_let_go(m)


# ---- removal through pnputil ---------------------------------------------------

@check
def remove_selected_devices(m):
    """Device 3 and device 1, then 2, which is refused: a quote would end
    pnputil's argument early. A % is harmless with no command interpreter."""
    m.plant(QUOTE_DEVICES)
    r = m.run(stdin="3,1,2\ny\n\ny\n\ny\n\n")
    expect("the dialogue ends with 0 at the end of input", r.rc == 0, r.err)
    same("pnputil by full path, ids with & and % intact, the quoted id never",
         pnputil_lines(r"USB\VID_1234&PID_5678\0001", r"USB\VID_0C45&PID_6366\P%PATH%"), m.calls("pnputil"))
    has("removal reported", r.out, "  ✔ 已删除：智能摄像头")
    has("the id with % removed", r.out, "  ✔ 已删除：Smart Camera Percent")
    has("the id with quotes refused", r.out, "  ✘ 删除失败：Smart Camera Quote" + S.FAILED_HINT)
    has("summary", r.out, "  本轮结果：成功 2，失败 1，跳过 0")
    log = m.log()
    expect("log line 已删除 with name and id",
           "已删除 | 智能摄像头 | USB\\VID_1234&PID_5678\\0001" in log, "\n".join(log))
    expect("log line 删除失败 for the refused id",
           any(l.startswith('删除失败 | Smart Camera Quote | USB\\VID_0C45&PID_6366\\Q"&CALC&"Z') for l in log),
           "\n".join(log))
    after = from_line(r.out, "本轮结果")  # the rescan after the dialogue
    lacks("the removed device is gone from the next table", after, "智能摄像头")
    has("the refused device is still listed", after,
        S.row(1, "在场", "—", "—", "Smart Camera Quote", "Camera", r'USB\VID_0C45&PID_6366\Q"&CALC&"Z'))


@check
def remove_pnputil_failure(m):
    m.standin_exit(pnputil=1)
    m.plant(QUOTE_DEVICES)
    r = m.run(stdin="3\ny\n\n")
    has("pnputil exit 1 is a failure", r.out, "  ✘ 删除失败：智能摄像头" + S.FAILED_HINT)
    has("the summary counts it", r.out, "  本轮结果：成功 0，失败 1，跳过 0")


@check
def enforce_pnputil_stopped_at_time_limit(m):
    """A pnputil that does not finish within 30 s is stopped: the removal
    failed, and the log says which program hung."""
    m.plant([ALPHA])
    m.blacklist([(int(time.time()) + 3600, 0, "smart camera alpha", ALPHA[0], "Camera")])
    m.standin_file("pnputil.sleep", "45000")
    t0 = time.time()
    r = m.run("--enforce", timeout=90)
    took = time.time() - t0
    beats = os.path.getsize(m.standin_path("pnputil.beat"))
    time.sleep(1.5)
    expect("pnputil was stopped: it runs no more", os.path.getsize(m.standin_path("pnputil.beat")) == beats,
           "%d beats, then more" % beats)
    expect("after the 30 s limit, not before and not after pnputil's own end", 29 <= took < 44, "%.1f s" % took)
    same("hit, timeout, failure", ["后台命中拉黑 | smart camera alpha | %s | 按实例 ID | 本机 | %s" % (ALPHA[0].lower(), ALPHA[0].lower()),
                                   "系统程序超时 | pnputil.exe",
                                   "后台删除失败 | smart camera alpha"], m.log())
    expect("--enforce exits 1: the device could not be removed", r.rc == 1, "exit %s" % r.rc)


@check
def remove_lowercase_key_restart_pending(m):
    """A key planted in lower case is enumerated upper-cased; pnputil's 3010
    (removed, restart pending) is a removal that a restart finishes."""
    m.standin_exit(pnputil=3010)
    m.plant([(r"usb\vid_0c45&pid_64ae\lc01", "Smart Camera Lower", "x", "Camera")])
    r = m.run(stdin="1\ny\n\n")
    has("pnputil exit 3010 is a success that needs a restart", r.out, "  ✔ 已删除：Smart Camera Lower（重启电脑后完成）")
    same("the id of a lower-case key reaches pnputil",
         pnputil_lines(r"USB\VID_0C45&PID_64AE\LC01"), m.calls("pnputil"))
    same("the device's key was deleted", b"0\n", m.read(r"C:\standin\pnputil.result"))
    lacks("the device is gone from the next table", from_line(r.out, "本轮结果"), "Smart Camera Lower")


@check
def remove_from_the_command_line_json(m):
    """--remove --hours 24 --json: the planted camera is removed (pnputil's
    3010: a restart finishes it) and blacklisted by id for a day; the
    document says so and the exit code is 3010."""
    m.standin_exit(pnputil=3010, schtasks=0)
    m.plant([ALPHA])
    m.reg_delete(r"HKLM\SOFTWARE\Quillfen")  # no task of an earlier check's copy
    t0 = int(time.time())
    r = m.run("--remove", "--hours", "24", "--json", "-k", "alpha", full_exit=True)
    expect("a removal that waits for a restart exits 3010", r.rc == 3010, r.err)
    same("pnputil removed the camera", pnputil_lines(ALPHA[0]), m.calls("pnputil"))
    doc = json.loads(r.out)
    same("the document lists the removal", [{"name": ALPHA[1], "instance_id": ALPHA[0]}], doc.get("removed"))
    expect("restart_required", doc.get("restart_required") is True, r.out)
    expect("nothing failed or skipped", doc.get("failed") == [] and doc.get("skipped") == [], r.out)
    entries = doc.get("blacklisted") or [{}]
    expect("blacklisted by id for a day", entries[0].get("instance_id") == ALPHA[0] and not entries[0].get("by_name")
           and t0 + 86400 <= entries[0].get("until", 0) <= int(time.time()) + 86400, r.out)
    has("the entry is in the file", m.read(r"C:\qf\blacklist.tsv").decode("utf-8"),
        "%d\t0\tsmart camera alpha\t%s\tCamera" % (entries[0].get("until", 0), ALPHA[0]))
    same("the log", ["命令行删除 | alpha | 1 个设备", "已删除（需重启） | %s | %s" % (ALPHA[1], ALPHA[0]),
                     "拉黑 | %s | 86400秒" % ALPHA[1]], m.log())
    with open(os.path.join(m.work, "remove.json"), "w", encoding="utf-8") as f:
        f.write(r.out)


# ---- the dialogue, the blacklist and the unattended pass -----------------------

@check
def dialogue_removes_blacklists_installs_task(m):
    """Both devices: confirm, blacklist for 1 hour and 1 day, take the task
    offer the first time and decline it the second."""
    m.plant([ALPHA, BETA])
    t0 = int(time.time())
    r = m.run("--allow-unsafe-dir", stdin="1,2\ny\ny\n1\ny\ny\ny\n3\nn\n\n")
    t1 = int(time.time()) + 1
    expect("the dialogue exits 0", r.rc == 0, r.err)
    has("1 hour chosen", r.out, "  ✔ 已选择：1 小时（约 0 天）")
    has("1 day chosen", r.out, "  ✔ 已选择：24 小时（约 1 天）")
    lines = r.out.split("\n")
    shown = "\n".join(l for l in lines if "已拉黑" in l)
    expect("blacklisted for an hour",
           any(re.fullmatch(r"  ✔ 已拉黑：Smart Camera Alpha（剩余 (59分钟|1小时0分)）", l) for l in lines), shown)
    expect("blacklisted for a day",
           any(re.fullmatch(r"  ✔ 已拉黑：SmartCam Beta（剩余 (23小时59分|1天0小时)）", l) for l in lines), shown)
    has("the task installed from the offer", r.out, "  ✔ 后台任务已安装（设备一出现就检查，另每5分钟检查一次，重启有效）")
    has("the second offer declined", r.out, "  好的，随时可在菜单 b 里安装。")
    same("schtasks got the creation command once", [create_line(QF_EXE)], m.calls("schtasks"))
    same("pnputil got both ids", pnputil_lines(ALPHA[0], BETA[0]), m.calls("pnputil"))

    raw = (m.read(r"C:\qf\blacklist.tsv") or b"").decode("utf-8", "replace")
    rows = raw.split("\n")[:-1] if raw.endswith("\n") else raw.split("\n")
    fields = [l.rstrip("\r").split("\t") for l in rows[1:]]

    def entry_ok(f, name, inst, seconds):
        return (len(f) == 5 and f[1:] == ["1", name, inst, "Camera"] and f[0].isdigit()
                and t0 + seconds <= int(f[0]) <= t1 + seconds)
    expect("blacklist.tsv: header, two entries, expiry, lower-cased names, CR LF",
           len(rows) == 3 and all(l.endswith("\r") for l in rows) and rows[0] == BLACKLIST_HEADER + "\r"
           and entry_ok(fields[0], "smart camera alpha", ALPHA[0], 3600)
           and entry_ok(fields[1], "smartcam beta", BETA[0], 86400),
           raw.replace("\r", "␍").replace("\t", "→") + "\nwindow %d..%d" % (t0, t1))
    log = m.log()
    for msg in ("已删除 | Smart Camera Alpha | " + ALPHA[0], "拉黑 | Smart Camera Alpha | 3600秒",
                "已删除 | SmartCam Beta | " + BETA[0], "拉黑 | SmartCam Beta | 86400秒"):
        expect("log: " + msg, any(l.startswith(msg) for l in log), "\n".join(log))


@check
def blist_lists_entries(m):
    now = int(time.time())
    m.blacklist([(now + 3600, 1, "smart camera alpha", ALPHA[0], "Camera"),
                 (now + 86400, 1, "smartcam beta", BETA[0], "Camera")])
    r = m.run("--blist")
    expect("--blist exits 0", r.rc == 0, r.err)
    got = re.sub(r"剩余 (59分钟|1小时0分)$", "剩余 <1h>", r.out, flags=re.M)
    got = re.sub(r"剩余 (23小时59分|1天0小时)$", "剩余 <1d>", got, flags=re.M)
    want = (S.blist_head(2) + S.blist_row(1, "smart camera alpha", "Camera", "剩余 <1h>", ALPHA[0])
            + S.blist_row(2, "smartcam beta", "Camera", "剩余 <1d>", BETA[0]))
    same("--blist lists both entries", want, got)


@check
def enforce_removes_blacklisted(m):
    """The two entries the dialogue writes; a third device matches entry 1 by
    name, but its id would break out of pnputil's quotes."""
    evil = (r'USB\VID_0C45&PID_64AD\"&EVIL&"', "Smart Camera Alpha 2", "x", "Camera")
    m.plant([ALPHA, BETA, evil])
    now = int(time.time())
    m.blacklist([(now + 3600, 1, "smart camera alpha", ALPHA[0], "Camera"),
                 (now + 86400, 1, "smartcam beta", BETA[0], "Camera")])
    r = m.run("--enforce")
    expect("--enforce exits 1: the device with a quote in its id could not be removed", r.rc == 1, r.err)
    expect("--enforce prints nothing", r.out == "", r.out)
    want = ["后台命中拉黑 | smart camera alpha | usb\\vid_0c45&pid_64ab\\road&01 | 按实例 ID | 本机 | usb\\vid_0c45&pid_64ab\\road&01",
            "后台已删除 | smart camera alpha",
            '后台命中拉黑 | smart camera alpha 2 | usb\\vid_0c45&pid_64ad\\"&evil&" | 按名称 | 本机 | smart camera alpha',
            "后台删除失败 | smart camera alpha 2",
            "后台命中拉黑 | smartcam beta | usb\\vid_0c45&pid_64ac\\road&02 | 按实例 ID | 本机 | usb\\vid_0c45&pid_64ac\\road&02",
            "后台已删除 | smartcam beta"]
    same("the enforcement log lines, CR LF", "".join(l + "\r\n" for l in want),
         TIMESTAMP.sub("", m.log_raw().decode("utf-8", "replace")))
    same("pnputil ran for the two safe ids only", pnputil_lines(ALPHA[0], BETA[0]), m.calls("pnputil"))
    r = m.run("-s")
    has("the refused device is still there, marked as reached by name", r.out,
        S.row(1, "在场", "—", "名", "Smart Camera Alpha 2", "Camera", evil[0]))
    lacks("the enforced devices are gone", r.out, "ROAD&0")


@check
def enforce_exit_codes(m):
    """--enforce tells Task Scheduler what happened: 0 when every removal
    worked, 1 when one failed, 3010 when one waits for a restart."""
    now = int(time.time())
    for code in (0, 1, 3010):
        m.standin_exit(pnputil=code)
        m.plant([ALPHA])
        m.blacklist([(now + 3600, 0, "x", ALPHA[0], "Camera")])
        r = m.run("--enforce", full_exit=True)
        expect("pnputil exiting %d: --enforce exits %d" % (code, code), r.rc == code, "rc %s\n%s" % (r.rc, r.err))


@check
def check_asks_schtasks_for_the_task(m):
    """--check: an entry in force, its block written by a pass of this copy's
    task and its device absent; compliant only while schtasks /Query finds
    the task."""
    m.plant([ALPHA])
    m.blacklist([(int(time.time()) + 3600, 0, "x", r"USB\VID_DEAD&PID_0000\GONE", "Camera")])
    m.wine("reg", "add", QUILLFEN_KEY, "/v", "TaskCommand", "/t", "REG_SZ", "/d", QF_EXE, "/f")
    m.standin_exit(schtasks=0)
    m.run("--enforce")
    log = m.log_raw()
    asked = len(m.calls("schtasks"))
    for code, word in ((0, "合规：拉黑 1 条在用，在场的拉黑设备 0 个，后台任务已安装"),
                       (1, "不合规：拉黑 1 条在用，在场的拉黑设备 0 个，后台任务未安装")):
        m.standin_exit(schtasks=code)
        r = m.run("--check")
        expect("schtasks /Query exiting %d: --check exits %d" % (code, code), r.rc == code, r.out + r.err)
        same("schtasks /Query exiting %d: the verdict" % code, word, r.out.split("；")[0])
    same("schtasks was asked by name, twice", [SYS32 + 'schtasks.exe" /Query /TN "Quillfen-Enforce"'] * 2,
         m.calls("schtasks")[asked:])
    expect("--check logs nothing", m.log_raw() == log, m.log_raw())


RESTRICTIONS = r"HKLM\SOFTWARE\Policies\Microsoft\Windows\DeviceInstall\Restrictions"
DENY_LIST = RESTRICTIONS + r"\DenyInstanceIDs"
QUILLFEN_KEY = r"HKLM\SOFTWARE\Quillfen"
CURRENT_VERSION = r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion"


def windows_10_pro(m):
    """Makes the prefix a Windows 10 22H2 Pro, where the install block
    applies; the old values come back, and the keys Quillfen writes go, at
    cleanup."""
    old = m.reg_get(CURRENT_VERSION) or {}
    for name, value in (("CurrentVersion", "10.0"), ("CurrentBuildNumber", "19045"), ("EditionID", "Professional")):
        m.wine("reg", "add", CURRENT_VERSION, "/v", name, "/t", "REG_SZ", "/d", value, "/f")
        if name in old:
            m.on_cleanup(lambda n=name, v=old[name]: m.wine("reg", "add", CURRENT_VERSION, "/v", n, "/t", "REG_SZ",
                                                            "/d", v, "/f"))
        else:
            m.on_cleanup(lambda n=name: m.reg_delete(CURRENT_VERSION, n))
    m.on_cleanup(lambda: m.reg_delete(RESTRICTIONS))
    m.on_cleanup(lambda: m.reg_delete(QUILLFEN_KEY))


@check
def install_block_written_and_lifted(m):
    """On Wine's real registry: with the task running this copy, blacklisting
    a device writes its id into the policy's list beside an administrator's
    value, and records it; lifting the entry deletes both, keeps the
    administrator's value, and asks Windows to rescan."""
    windows_10_pro(m)
    m.wine("reg", "add", QUILLFEN_KEY, "/v", "TaskCommand", "/t", "REG_SZ", "/d", QF_EXE, "/f")
    m.wine("reg", "add", RESTRICTIONS, "/v", "DenyInstanceIDs", "/t", "REG_DWORD", "/d", "1", "/f")
    m.wine("reg", "add", DENY_LIST, "/v", "1", "/t", "REG_SZ", "/d", r"PCI\VEN_ADMIN", "/f")
    m.standin_exit(schtasks=0, pnputil=0)
    m.plant([ALPHA])
    r = m.run(stdin="1\ny\ny\n1\nn\n\n")
    has("the dialogue says the block was written", r.out, "  ✔ 已同时禁止系统再次安装它（到期自动解除）")
    same("the list holds the administrator's value and ours", {"1": r"PCI\VEN_ADMIN", "2": ALPHA[0]},
         m.reg_get(DENY_LIST))
    same("the record names the id and this copy's blacklist", {"2": ALPHA[0] + "\t" + r"C:\qf\blacklist.tsv"},
         m.reg_get(QUILLFEN_KEY + r"\DenyInstanceIDs"))
    expect("the log says so", "已禁止系统安装 | " + ALPHA[0].lower() in m.log(), "\n".join(m.log()))
    r = m.run(stdin="b\nd1\nq\nq\n")
    has("the menu counted the block", r.out, "  系统安装禁止：1 条生效")
    same("lifting leaves the administrator's value alone", {"1": r"PCI\VEN_ADMIN"}, m.reg_get(DENY_LIST))
    expect("and the record goes", not m.reg_get(QUILLFEN_KEY + r"\DenyInstanceIDs"),
           m.reg_get(QUILLFEN_KEY + r"\DenyInstanceIDs"))
    expect("the switch an administrator set stays", (m.reg_get(RESTRICTIONS) or {}).get("DenyInstanceIDs") == 1,
           m.reg_get(RESTRICTIONS))
    expect("Windows is asked to look for the hardware again",
           SYS32 + 'pnputil.exe" /scan-devices /async' in m.calls("pnputil"), m.calls("pnputil"))
    same("--remove-task", 0, m.run("--remove-task").rc)
    same("leaves no key of ours, not even an empty one", None, m.reg_get(QUILLFEN_KEY))


DENY_DEVICE_LIST = RESTRICTIONS + r"\DenyDeviceIDs"


@check
def by_name_blocks_the_model(m):
    """--remove --by-name on a camera planted with its HardwareID multi-string:
    the id without REV_ lands in DenyDeviceIDs with its composite device's
    id (the function's id without MI_), recorded, under a switch we mark as
    ours, beside the instance id's block; the model is kept beside the
    blacklist, and --blist --json says so. The registry is saved for
    reading."""
    windows_10_pro(m)
    m.wine("reg", "add", QUILLFEN_KEY, "/v", "TaskCommand", "/t", "REG_SZ", "/d", QF_EXE, "/f")
    m.standin_exit(schtasks=0, pnputil=3010)
    model = r"USB\VID_0C45&PID_64AB&MI_00"
    m.plant([ALPHA + ([r"USB\VID_0C45&PID_64AB&REV_0100&MI_00", model], [r"USB\Class_0E&SubClass_03", r"USB\Class_0E"])])
    r = m.run("--remove", "--hours", "1", "--by-name", "-k", "alpha", full_exit=True)
    expect("the removal waits for a restart", r.rc == 3010, r.out + r.err)
    composite = model[:model.rindex("&")]
    has("the screen says the model is blocked", r.out, "  ✔ 已同时按型号禁止安装：%s，连同所在的复合设备 %s"
        "（同型号的设备整个都装不上，到期自动解除）" % (model, composite))
    same("the list holds the model id and the composite device's", {"1": model, "2": composite},
         m.reg_get(DENY_DEVICE_LIST))
    same("their records name this copy's blacklist", {"1": model + "\t" + r"C:\qf\blacklist.tsv",
                                                       "2": composite + "\t" + r"C:\qf\blacklist.tsv"},
         m.reg_get(QUILLFEN_KEY + r"\DenyDeviceIDs"))
    restrictions, ours = m.reg_get(RESTRICTIONS) or {}, m.reg_get(QUILLFEN_KEY) or {}
    expect("both switches on, each marked as ours",
           restrictions.get("DenyDeviceIDs") == 1 and restrictions.get("DenyInstanceIDs") == 1
           and ours.get("DeviceIDsEnabledByQuillfen") == 1 and ours.get("EnabledByQuillfen") == 1, (restrictions, ours))
    same("the instance id is blocked too", {"1": ALPHA[0]}, m.reg_get(DENY_LIST))
    has("the model is kept beside the blacklist", m.read(r"C:\qf\blacklist-models.tsv").decode("utf-8"),
        "%s\t%s\tok" % (ALPHA[0], model))
    entry = (json.loads(m.run("--blist", "--json").out).get("entries") or [{}])[0]
    same("--blist --json says the model is blocked", (model, True), (entry.get("model_id"), entry.get("model_blocked")))
    m.wine("regedit", "/e", r"C:\standin\policy.reg", RESTRICTIONS.replace("HKLM", "HKEY_LOCAL_MACHINE"))
    m.wine("regedit", "/e", r"C:\standin\quillfen.reg", QUILLFEN_KEY.replace("HKLM", "HKEY_LOCAL_MACHINE"))


def task_runs_this_copy(m):
    windows_10_pro(m)
    m.wine("reg", "add", QUILLFEN_KEY, "/v", "TaskCommand", "/t", "REG_SZ", "/d", QF_EXE, "/f")


@check
def model_rule_blocks(m):
    """--blacklist --model on Wine's registry: the hardware id lands in
    DenyDeviceIDs, recorded, under the switch it turns on. (The pass that
    removes a unit by its hardware ids: policy_rules_applied_by_the_pass.)"""
    task_runs_this_copy(m)
    model = r"USB\VID_0C45&PID_64B0"
    r = m.run("--blacklist", "--model", model, "--hours", "2", "--name", "desk cam model")
    expect("--blacklist --model exits 0", r.rc == 0, r.out + r.err)
    same("the model is the list's value", {"1": model}, m.reg_get(DENY_DEVICE_LIST))
    same("its record names this copy's blacklist", {"1": model + "\t" + r"C:\qf\blacklist.tsv"},
         m.reg_get(QUILLFEN_KEY + r"\DenyDeviceIDs"))
    restrictions, ours = m.reg_get(RESTRICTIONS) or {}, m.reg_get(QUILLFEN_KEY) or {}
    expect("the switch on, marked as ours", restrictions.get("DenyDeviceIDs") == 1
           and ours.get("DeviceIDsEnabledByQuillfen") == 1, (restrictions, ours))


@check
def approved_unit_on_the_allow_list(m):
    """A model blocked and one unit of it approved on a build with layered
    evaluation: the unit lands in Windows' AllowInstanceIDs under the two
    switches, the model stays in DenyDeviceIDs; the approval lifted, the
    allow value and both switches go and the model block stays."""
    task_runs_this_copy(m)
    m.wine("reg", "add", CURRENT_VERSION, "/v", "UBR", "/t", "REG_DWORD", "/d", "3803", "/f")
    m.on_cleanup(lambda: m.reg_delete(CURRENT_VERSION, "UBR"))
    model, unit = r"USB\VID_0C45&PID_64B4", r"USB\VID_0C45&PID_64B4\CEO1"
    expect("the model is blocked", m.run("--blacklist", "--model", model, "--hours", "2").rc == 0)
    r = m.run("--approve", "--id", unit, "--hours", "1")
    has("the screen says the unit is let in over its model", r.out,
        "  ✔ 已加入系统的允许安装列表（分层评估）：它的型号仍禁止安装，Windows 照常安装这一个。")
    same("the unit is the allow list's value", {"1": unit}, m.reg_get(RESTRICTIONS + r"\AllowInstanceIDs"))
    same("the model stays blocked", {"1": model}, m.reg_get(DENY_DEVICE_LIST))
    restrictions = m.reg_get(RESTRICTIONS) or {}
    same("layered evaluation and the allow list are on", (1, 1),
         (restrictions.get("AllowDenyLayered"), restrictions.get("AllowInstanceIDs")))
    expect("--unapprove exits 0", m.run("--unapprove", "--id", unit).rc == 0)
    expect("no allow value is left", not m.reg_get(RESTRICTIONS + r"\AllowInstanceIDs"))
    restrictions = m.reg_get(RESTRICTIONS) or {}
    same("both switches went", (None, None), (restrictions.get("AllowDenyLayered"), restrictions.get("AllowInstanceIDs")))
    same("the model is still blocked", {"1": model}, m.reg_get(DENY_DEVICE_LIST))


POLICY = r"HKLM\SOFTWARE\Policies\Quillfen"


def export(m, key):
    """KEY and its subkeys as regedit exports them, as text ("" for none)."""
    path = r"C:\standin\export.reg"
    if m.read(path) is not None:
        os.remove(m.unix(path))
    m.wine("regedit", "/e", path, key.replace("HKLM", "HKEY_LOCAL_MACHINE"))
    return (m.read(path) or b"").decode("utf-16")


@check
def policy_rules_applied_by_the_pass(m):
    """Rules as Group Policy writes them, one of each list: --enforce removes
    what the three blocks reach, spares what the two approvals cover (both
    also reached by the blocked name), writes the blocked ids into Windows'
    lists and nothing under the policy key. The registry after the pass is
    left in registry-after.reg for reading."""
    task_runs_this_copy(m)
    m.on_cleanup(lambda: m.reg_delete(POLICY))
    by_id = (r"USB\VID_0C45&PID_64C1\P1", "Pol Cam One", "x", "Camera")
    model = r"USB\VID_0C45&PID_64C2"
    by_model = (model + r"\P2", "Pol Cam Two", "x", "Camera", [model + "&REV_0100", model])
    by_name = (r"USB\VID_0C45&PID_64C3\P3", "Lens Spy Three", "x", "Camera")
    approved = r"USB\VID_0C45&PID_64C4"
    by_approved_model = (approved + r"\P4", "Lens Spy Four", "x", "Camera", [approved + "&REV_0100", approved])
    by_approved_id = (r"USB\VID_0C45&PID_64C5\P5", "Lens Spy Five", "x", "Camera")
    m.plant([by_id, by_model, by_name, by_approved_model, by_approved_id])
    future = time.strftime("%Y-%m-%d", time.gmtime(time.time() + 30 * 86400))
    rules = [("BlockedInstanceIDs", by_id[0], future), ("BlockedModels", model, "none"),
             ("BlockedNames", "lens spy", future), ("ApprovedModels", approved, "none"),
             ("ApprovedInstanceIDs", by_approved_id[0], future)]
    lines = ["[%s]" % POLICY.replace("HKLM", "HKEY_LOCAL_MACHINE"), '"Mode"="Enforce"', ""]
    for key, name, until in rules:
        lines += ["[%s\\%s]" % (lines[0][1:-1], key), '"%s"="%s"' % (name.replace("\\", "\\\\"), until), ""]
    m.reg_import(lines)
    policy = export(m, POLICY)
    r = m.run("--enforce")
    expect("--enforce exits 0", r.rc == 0, r.err)
    same("pnputil is asked for the three blocked, in the lists' order",
         pnputil_lines(by_id[0], by_model[0], by_name[0]), m.calls("pnputil"))
    seen = ["策略规则生效 | %s | %s | %s" % (key, name.lower() if key == "BlockedNames" else name, until)
            for key, name, until in sorted(rules, key=lambda r: ["BlockedInstanceIDs", "BlockedModels", "BlockedNames",
                                                                  "ApprovedInstanceIDs", "ApprovedModels"].index(r[0]))]
    spared = ["放行保留 | lens spy four | %s | 按型号 | 策略 | %s" % (by_approved_model[0].lower(), approved.lower()),
              "放行保留 | lens spy five | %s | 按实例 ID | 策略 | %s" % ((by_approved_id[0].lower(),) * 2)]
    same("the log: each rule seen, the two blocks written, the approved said once, each blocked device's hit and removal",
         seen + ["已禁止系统安装 | " + by_id[0].lower(), "已禁止系统安装 | " + model.lower()] + spared
         + [l for d, how in ((by_id, "按实例 ID | 策略 | " + by_id[0].lower()), (by_model, "按型号 | 策略 | " + model.lower()),
                             (by_name, "按名称 | 策略 | lens spy"))
            for l in ("后台命中拉黑 | %s | %s | %s" % (d[1].lower(), d[0].lower(), how),
                                                             "后台已删除 | " + d[1].lower())], m.log())
    same("DenyInstanceIDs holds the blocked instance id", {"1": by_id[0]}, m.reg_get(DENY_LIST))
    same("DenyDeviceIDs holds the blocked model", {"1": model}, m.reg_get(DENY_DEVICE_LIST))
    same("nothing written under the policy key", policy, export(m, POLICY))
    with open(os.path.join(m.work, "registry-after.reg"), "w", encoding="utf-8") as f:
        f.write("".join(export(m, k) for k in (POLICY, RESTRICTIONS, QUILLFEN_KEY)))
    # A still key's read would be kept beside the blacklist, but Wine lets
    # users write every folder, and a file they could forge is never kept.
    time.sleep(2.5)
    m.run("--enforce")
    expect("no read is kept in a folder users can write", m.read(r"C:\qf\policy-snapshot.tsv") is None)
    listed = "lens spy" in m.run("--blist", "--json").out
    m.reg_delete(POLICY + r"\BlockedNames", "lens spy")
    expect("a name rule is listed until its value is deleted, then not",
           listed and "lens spy" not in m.run("--blist", "--json").out)


@check
def enforce_by_name_spares_builtin(m):
    """A built-in ROOT device sharing the entry's name stays; the USB one goes."""
    m.plant([(r"ROOT\QFCAM\0000", "Smart Cam", "x", "Image"),
             (r"USB\VID_0C45&PID_64AD\SC01", "Smart Cam", "x", "Camera")])
    m.blacklist([(int(time.time()) + 3600, 1, "smart cam", r"USB\VID_0000\NONE", "Camera")])
    m.run("--enforce")
    same("by name, only the device that is not built-in is removed",
         pnputil_lines(r"USB\VID_0C45&PID_64AD\SC01"), m.calls("pnputil"))
    r = m.run("-s")
    has("the built-in device is still there, never marked 名", r.out,
        S.row(1, "在场", "锁", "—", "Smart Cam", "Image", r"ROOT\QFCAM\0000"))


@check
def enforce_after_2100_records(m):
    """The blacklisted device is enumerated after 2,099 others."""
    fillers = [(r"USB\VID_BE%02X&PID_%04X\%d" % (i % 100, i, i), "Filler %d" % i, "x", "Camera")
               for i in range(1, 2100)]
    last = (r"USB\VID_FFFF&PID_FFFF\LAST", "Smart Camera Last", "x", "Camera")
    m.plant(fillers + [last])
    r = m.run("-s", "-k", "filler")
    same("the fillers alone fill a table of 2,000", 2000, len(re.findall(r"(?m) Filler [0-9]", r.out)))
    m.blacklist([(int(time.time()) + 3600, 0, "smart camera last", last[0], "Camera")])
    m.run("--enforce")
    same("a blacklisted device after 2,100 records is removed", pnputil_lines(last[0]), m.calls("pnputil"))


# ---- the data files ------------------------------------------------------------

@check
def log_scan_lines(m):
    m.plant(SCAN_DEVICES)
    now = time.time()
    m.run("-s")
    raw = m.log_raw()
    expect("one scan line in the log, CR LF",
           re.fullmatch(rb"\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] " + "扫描完成，命中 4 个设备".encode() + rb"\r\n", raw),
           raw.decode("utf-8", "replace").replace("\r", "␍"))
    stamp = raw[1:20].decode("ascii", "replace")
    try:
        at = time.mktime(time.strptime(stamp, "%Y-%m-%d %H:%M:%S"))
    except ValueError:
        at = 0
    expect("the log time is local now", abs(at - now) <= 120, "%s vs %s" % (stamp, time.strftime("%F %T")))
    m.run("-s")
    same("the log is appended to", 2, len(m.log()))


@check
def log_concurrent_scans_whole_lines(m):
    """8 processes scanning 300 times each into one log, all at once."""
    m.plant(SCAN_DEVICES)
    scans = "r\n" * 299 + "q\n"
    runs = [m.start(stdin=scans, timeout=300) for _ in range(8)]
    for run in runs:
        run.wait()
    lines = byte_lines(m.log_raw())
    whole = [l for l in lines if re.fullmatch(rb"\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] "
                                              + "扫描完成，命中 4 个设备".encode() + rb"\r", l)]
    expect("8 x 300 concurrent scans leave 2400 whole log lines", len(lines) == len(whole) == 2400,
           "%d lines, %d whole" % (len(lines), len(whole)))


@check
def log_device_name_with_line_break(m):
    """A device name with a line break cannot add a line of its own to the log."""
    m.plant([(r"USB\VID_0C45&PID_64AB\CRLF", "Smart Cam\r\n[2020-01-01 00:00:00] 清空拉黑名单", "x", "Camera")])
    r = m.run(stdin="1\ny\n\n")
    has("the name shows with blanks for its line break", r.out,
        "  ✔ 已删除：Smart Cam  [2020-01-01 00:00:00] 清空拉黑名单")
    lines = byte_lines(m.log_raw())
    expect("no extra log line",
           len(lines) == 3 and not any(l.startswith(b"[2020-01-01 00:00:00]") for l in lines),
           b"\n".join(lines).decode("utf-8", "replace").replace("\r", "␍"))


@check
def blacklist_save_failure_reported(m):
    """A blacklist that cannot be written (a folder stands where its new
    content goes): the failure, not a success."""
    m.plant([ALPHA, BETA])
    os.mkdir(m.unix(r"C:\qf\blacklist.tsv.tmp"))
    r = m.run(stdin="1\ny\ny\n1\nn\n\n")
    has("the save error line", r.out, "  [错误] 拉黑名单写入失败（权限？）")
    has("blacklisting reported as failed", r.out, "  ✘ 拉黑失败：Smart Camera Alpha（拉黑名单写入失败）")
    lacks("no success line", r.out, "已拉黑：")
    log = m.log()
    expect("the log says 拉黑失败",
           any(l.startswith("拉黑失败 | Smart Camera Alpha") for l in log)
           and not any(l.startswith("拉黑 |") for l in log), "\n".join(log))


@check
def readonly_stale_temporary_is_deleted(m):
    """A read-only blacklist.tsv.tmp left behind no longer blocks every save:
    it is deleted through its own handle, and the blacklisting lands."""
    m.plant([ALPHA])
    m.write(r"C:\qf\blacklist.tsv.tmp", b"stale")
    m.wine("attrib", "+r", r"C:\qf\blacklist.tsv.tmp")
    expect("the stale file is read-only", not os.stat(m.unix(r"C:\qf\blacklist.tsv.tmp")).st_mode & 0o222)
    r = m.run(stdin="1\ny\ny\n1\nn\n\n")
    expect("the device is blacklisted", re.search(r"(?m)^  ✔ 已拉黑：Smart Camera Alpha（剩余 (59分钟|1小时0分)）$", r.out),
           r.out[-2000:])
    expect("the entry is in the file", ("\t%s\t" % ALPHA[0]).encode() in (m.read(r"C:\qf\blacklist.tsv") or b""))
    expect("no temporary is left", m.read(r"C:\qf\blacklist.tsv.tmp") is None)


@check
def data_files_beside_long_path_exe(m):
    """Two folders of 50 Chinese characters and a long one under them: a path
    of 278 units, which the data files follow."""
    m.plant([ALPHA, BETA])
    folder = "C:\\%s\\%s\\%s" % ("甲" * 50, "乙" * 50, "L" * 160)
    exe = m.install_exe(folder + "\\quillfen.exe")
    r = m.run(stdin="1\ny\ny\n1\nn\n\n", exe=exe)
    bl = m.read(folder + r"\blacklist.tsv") or b""
    expect("the log and the blacklist stay beside the executable",
           m.log_raw(folder) and ("\t%s\t" % ALPHA[0]).encode() in bl
           and m.read(r"C:\qf\blacklist.tsv") is None and m.read(r"C:\blacklist.tsv") is None,
           "\n".join(os.listdir(m.unix(folder))) + "\n" + "\n".join(r.out.split("\n")[-5:]))


# ---- a real console ------------------------------------------------------------

@check
def console_reads_and_writes_chinese(m):
    if not have_tmux():
        skip("no tmux")
    m.plant(SCAN_DEVICES)
    wine = shlex.quote(m.p.wine)
    con = Console(m, "cd %s && %s 'C:\\qf\\quillfen.exe' --install-task; %s 'C:\\qf\\quillfen.exe'; "
                     'echo "EXITED rc=$?"; sleep 300' % (shlex.quote(m.unix(r"C:\qf")), wine, wine))
    expect("the menu prompt is reached", con.wait_for_prompt(1), con.screen)
    has("standard error is readable", con.screen, UNSAFE_REFUSAL)
    has("the banner title is readable", con.screen, S.TITLE)
    has("the keyword line is readable", con.screen, S.KEYS_LINE.rstrip(" "))
    expect("a Chinese device name in the table", in_one_line(con.screen, "智能摄像头", CN_ID), con.screen)
    expect("no mojibake", not re.search("Ã|â|ï¿½|\ufffd", con.screen), con.screen)

    con.type("k")
    con.wait_for("（直接回车恢复默认）>")
    con.type("摄像头")
    expect("a rescan after the keyword", con.wait_for("正在扫描设备...", 2), con.screen)
    con.wait_for_prompt(2)
    after = from_line(con.screen, "恢复默认")
    expect("the Chinese keyword typed in the console matches",
           in_one_line(after, "智能摄像头", CN_ID)
           and "智慧摄像头" in after and "SmartCam Loopback" not in after, after)

    # A 301-byte line: the menu takes 255 bytes ("r..." = rescan) and drops
    # the rest, which must not reach the next prompt.
    con.type("r" + "x" * 300)
    expect("a long console line answers its own prompt alone",
           con.wait_for("正在扫描设备...", 3) and con.wait_for_prompt(3), con.screen[-3000:])
    con.type("q")
    expect("q ends with 0", con.wait_for("EXITED rc=0"), con.screen[-2000:])
    lacks("the rest of the long line reached no prompt", con.screen, "没有选中任何设备")
    has("the closing line is readable", con.screen, "  Vorin告辞，嗷呜——！")


@check
def console_code_pages_restored(m):
    """The console is the command prompt's too: its code pages come back when
    a mode returns, and when Ctrl+C ends the interactive mode."""
    if not have_tmux():
        skip("no tmux")
    run = " ".join(shlex.quote(x) for x in (m.p.wine, CODEPAGES_EXE, r"C:\standin\cp.%d", QF_EXE)) + " %s"
    con = Console(m, "cd %s && %s; %s; echo DONE; sleep 300"
                  % (shlex.quote(m.unix(r"C:\qf")), run % (1, "--version"), run % (2, "")))
    expect("the menu prompt is reached", con.wait_for_prompt(1), con.screen)
    con.press("C-c")
    expect("Ctrl+C ends it", con.wait_for("DONE"), con.screen[-2000:])
    same("the code pages after --version", b"936 936\n", m.read(r"C:\standin\cp.1"))
    same("the code pages after Ctrl+C", b"936 936\n", m.read(r"C:\standin\cp.2"))


import event_checks  # noqa: E402,F401  (its checks register themselves)
import msi_checks  # noqa: E402,F401
import selftest_checks  # noqa: E402,F401
import sign_checks  # noqa: E402,F401

if __name__ == "__main__":
    sys.exit(main(sys.argv[1:], prepare))
