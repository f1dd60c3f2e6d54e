r"""Wine checks of quillfen-selftest.exe: Wine 8 cannot make software
devices, so all the self-test can show there is that it says so, exits 2
and changes nothing; and that it imports no SwDevice function, whose
absence would otherwise stop it from starting at all.
"""

import os
import re
import shutil
import subprocess

from harness import check, expect, has, same

SELFTEST_EXE = r"C:\qf\quillfen-selftest.exe"
# What a run could change: the policy keys, Quillfen's own key, the task's
# event source, the devices' records and the tested copy's folder.
KEYS = (r"HKEY_LOCAL_MACHINE\SOFTWARE\Policies", r"HKEY_LOCAL_MACHINE\SOFTWARE\Quillfen",
        r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\EventLog\Application",
        r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum")


def machine_state(m):
    """The keys as regedit exports them, and every file under C:\\qf with its bytes."""
    keys = []
    for i, key in enumerate(KEYS):
        path = r"C:\standin\state%d.reg" % i
        m.wine("regedit", "/e", path, key)
        keys.append((m.read(path) or b"").decode("utf-16", "replace"))
        if m.read(path) is not None:
            os.remove(m.unix(path))
    folder = m.unix(r"C:\qf")
    files = {}
    for root, _, names in os.walk(folder):
        for name in names:
            files[os.path.relpath(os.path.join(root, name), folder)] = open(os.path.join(root, name), "rb").read()
    return keys, files


@check
def selftest_imports_no_swdevice(m):
    """SwDeviceCreate and SwDeviceClose are looked up at run time."""
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", os.path.join(m.p.build, "quillfen-selftest.exe")],
                          capture_output=True, text=True).stdout
    same("it imports only kernel32 and msvcrt", ["kernel32.dll", "msvcrt.dll"],
         sorted(d.strip().lower() for d in re.findall(r"DLL Name: (.*)", dump)))
    expect("no SwDevice function among its imports", "swdevice" not in dump.lower(),
           [l for l in dump.splitlines() if "swdevice" in l.lower()])


@check
def selftest_cannot_demonstrate_under_wine(m):
    shutil.copy(os.path.join(m.p.build, "quillfen-selftest.exe"), m.unix(SELFTEST_EXE))
    before = machine_state(m)
    r = m.run(exe=SELFTEST_EXE)
    expect("it exits 2", r.rc == 2, r.out + r.err)
    has("it says why", r.out, "This environment cannot demonstrate the block: software devices cannot be made here "
        "(cfgmgr32.dll has no SwDeviceCreate). Nothing was changed.")
    after = machine_state(m)
    same("the registry is as it was", before[0], after[0])
    same("the tested copy's folder is as it was", sorted(before[1]), sorted(after[1]))
    expect("every file in it is as it was", before[1] == after[1])
