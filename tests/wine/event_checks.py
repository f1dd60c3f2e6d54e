r"""Wine checks of the event log: what a pass reports, the message table in
quillfen.exe, and the source key that installing and removing the task write
and delete.

Wine's ReportEventW is a stub that prints its arguments under
WINEDEBUG=+eventlog: the id and the type on a fixme line (so fixme stays on),
then each string on a trace, warn or err line, non-ASCII as \xxxx escapes.
RegisterEventSourceW ignores the key, but the registry itself is real.
"""

import os
import re
import shutil
import subprocess
import time

from harness import check, expect, has, same
from machine import QF_EXE, ROOT

SOURCE_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Quillfen"
MSGTABLE = r"C:\standin\msgtable.exe"
LANGS = (("Chinese", "0x804"), ("English", "0x409"))
INFO = 4  # EVENTLOG_INFORMATION_TYPE


def message_table():
    """{language: {id: text}} as src/log/events.mc defines them."""
    text = open(os.path.join(ROOT, "src", "log", "events.mc"), encoding="utf-8").read()
    table = {lang: {} for lang, _ in LANGS}
    for block in re.split(r"^(?=MessageId=)", text, flags=re.M)[1:]:
        mid = int(re.match(r"MessageId=(\w+)", block)[1], 0)
        for lang, body in re.findall(r"^Language=(\w+)\n(.*?)\n\.$", block, re.M | re.S):
            table[lang][mid] = body
    return table


def _unescape(s):
    r"""Wine's debugstr_w: \\ \" \n \r \t, and \xxxx for everything else."""
    return re.sub(r"\\([0-9a-f]{4}|.)",
                  lambda m: chr(int(m[1], 16)) if len(m[1]) == 4 else {"n": "\n", "r": "\r", "t": "\t"}.get(m[1], m[1]),
                  s)


def events(err):
    """The events in a run's +eventlog trace: [(id, type, [strings])]."""
    found = []
    for line in err.split("\n"):
        m = re.search(r"fixme:advapi:ReportEventW \(\w+,0x(\w+),0x\w+,0x(\w+),", line)
        if m:
            found.append((int(m[2], 16), int(m[1], 16), []))
            continue
        m = re.search(r":(?:trace|warn|err):eventlog:ReportEventW L\"(.*)\"$", line)
        if m and found:
            found[-1][2].append(_unescape(m[1]))
    return found


def install_msgtable(m):
    """Builds tests/wine/msgtable.c once and puts it in C:\\standin."""
    src = os.path.join(ROOT, "tests", "wine", "msgtable.c")
    out = os.path.join(m.p.build, "standins", "msgtable.exe")
    if not os.path.exists(out) or os.path.getmtime(out) < os.path.getmtime(src):
        cc = next(c for c in ("x86_64-w64-mingw32-gcc-posix", "x86_64-w64-mingw32-gcc") if shutil.which(c))
        os.makedirs(os.path.dirname(out), exist_ok=True)
        subprocess.run([cc, "-O2", "-Wall", "-municode", "-static", "-o", out, src], check=True)
    shutil.copy(out, m.unix(MSGTABLE))


@check
def event_pass_reports_removal_with_the_name(m):
    """A pass that removes a device writes 1007 and 1008 with the log line's
    arguments as strings, and the exe's own text for 1008 reads as the line."""
    m.standin_exit(pnputil=0)
    m.plant([(r"USB\VID_0C45&PID_64AD\EV01", "智能摄像头 EV", "x", "Camera")])
    m.blacklist([(int(time.time()) + 3600, 1, "智能摄像头 ev", r"USB\VID_0000\NONE", "Camera")])
    r = m.run("--enforce", env={"WINEDEBUG": "+eventlog"})
    same("log lines", ["后台命中拉黑 | 智能摄像头 ev | usb\\vid_0c45&pid_64ad\\ev01 | 按名称 | 本机 | 智能摄像头 ev",
                       "后台已删除 | 智能摄像头 ev"], m.log())
    same("events: 1007 names the rule, how it reached the device and whose it is",
         [(1007, INFO, ["智能摄像头 ev", r"usb\vid_0c45&pid_64ad\ev01", "按名称", "本机", "智能摄像头 ev"]),
          (1008, INFO, ["智能摄像头 ev"])], events(r.err))
    install_msgtable(m)
    shown = m.wine(MSGTABLE, QF_EXE, "0x804", "1008", "智能摄像头 ev")
    same("1008 as Event Viewer shows it", "后台已删除 | 智能摄像头 ev\n", shown.out)


@check
def event_messages_in_the_exe(m):
    """Every id of events.mc has its Chinese and English text in quillfen.exe
    under exactly that number, read as Event Viewer reads it; no other id."""
    install_msgtable(m)
    table = message_table()
    expect("events.mc has ids", table["Chinese"] and table["English"])
    for lang, code in LANGS:
        r = m.wine(MSGTABLE, QF_EXE, code)
        same(lang + " texts", "".join("%d\t%s\n" % kv for kv in sorted(table[lang].items())), r.out)


@check
def event_source_installed_and_removed_with_the_task(m):
    """--install-task writes the source's key, --remove-task logs 1004 and deletes it."""
    m.standin_exit(schtasks=0)
    m.on_cleanup(lambda: m.reg_delete(SOURCE_KEY))
    # Under Wine every folder counts as writable by ordinary users.
    same("--install-task exit code", 0, m.run("--install-task", "--allow-unsafe-dir").rc)
    q = m.wine("reg", "query", SOURCE_KEY)
    has("the exe is the message file", q.out, r"    EventMessageFile    REG_EXPAND_SZ    " + QF_EXE)
    has("three event types", q.out, "    TypesSupported    REG_DWORD    0x7")
    r = m.run("--remove-task", env={"WINEDEBUG": "+eventlog"})
    same("--remove-task exit code", 0, r.rc)
    same("1004 reported", [(1004, INFO, [])], events(r.err))
    expect("the key is gone", m.wine("reg", "query", SOURCE_KEY).rc != 0)
