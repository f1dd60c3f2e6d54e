r"""The Wine prefix the checks run in, and the helpers a check uses on it.

prepare() runs once: it builds quillfen.exe with the MinGW cross toolchain in
$QF_WIN_BUILD (default build-win) and the stand-ins (tests/wine/standins),
creates the prefix build-win/wineprefix if missing, installs the stand-ins in
its system32 and the exe as C:\qf\quillfen.exe, and keeps one wineserver
running until the run ends.

Each check gets a Machine m that starts clean: C:\qf holds only quillfen.exe,
C:\standin is empty, no test device is planted. m.cleanup() (the harness calls
it) undoes what the check set up; the check's data files, stand-in records and
every run's input and output stay in build-win/wine-work/NAME/ for reading.

  m.plant([(inst, friendly or None, desc, cls), ...])
                              the test devices are exactly these (one regedit
                              import; a value with control characters goes in
                              as hex(1), the only form that keeps them)
  m.blacklist([(until, byname, name, inst, cls), ...], eol="\r\n")
                              writes C:\qf\blacklist.tsv with its header
  m.standin_exit(pnputil=1, schtasks=0)   the stand-ins' exit codes
  m.standin_file(name, text="")           another control file in C:\standin
  m.calls("schtasks")         the command lines a stand-in recorded, in order
  m.standin_path(name)        the Unix path of C:\standin\NAME (task.1.xml, ...)
  m.run(*args, stdin="", exe=QF_EXE, cwd=r"C:\qf", env={}, timeout=120)
                              -> Run(rc, out, raw, err): out and err are text
                              with CR LF turned into LF, raw the stdout bytes;
                              rc is None after a timeout
                              full_exit=True: rc is the whole 32-bit exit code
                              (Linux sees only 8 bits of a Wine process's)
  m.start(...)                the same, started: .wait() gives the Run
  m.log(folder=r"C:\qf")      the activity log's lines without time stamps or line ends
  m.log_raw(folder)           the log file's bytes (b"" when there is none)
  m.read(path) / m.write(path, data) / m.unix(path)   files by Windows path
  m.folder(path)              makes a folder, removed again at cleanup
  m.install_exe(path)         a copy of quillfen.exe at PATH (its folders go at cleanup)
  m.reg_set(key, name, value) a str or int value with `reg add` (name "" is the
                              default value); the value goes at cleanup, the key stays
  m.reg_get(key)              {name: value} through `regedit /e` (`reg query`
                              prints "?" for Chinese); None for no such key
  m.reg_delete(key, name=None)   a value, or the whole key
  m.reg_import(lines)         .reg lines, many values in one start; every
                              registry helper costs one Wine start (~0.1 s)
  m.wine(program, *args)      any other Wine program, e.g. m.wine("reg", "query", ...)
  m.on_cleanup(fn)            anything else to undo
"""

import collections
import os
import re
import shlex
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests", "lib"))
import qftest  # noqa: E402  (tests/lib: the blacklist's header line)

QF_EXE = r"C:\qf\quillfen.exe"
ENUM = r"HKEY_LOCAL_MACHINE\System\CurrentControlSet\Enum"
CAMERA_GUID = "{ca3e7ab9-b4c3-4ae6-8251-579ef933890f}"
BLACKLIST_HEADER = qftest.BLACKLIST_HEADER.rstrip("\r\n")
STANDINS = ("schtasks", "pnputil", "planted", "exitcode", "holder", "codepages")
# Where the exit-code runner lives: outside C:\standin, which each check empties.
EXITCODE_EXE = r"C:\qftools\exitcode.exe"
# A stand-in scanner that holds a file open (standins/holder.c).
HOLDER_EXE = r"C:\qftools\holder.exe"
# A stand-in command prompt that reports the console's code pages (standins/codepages.c).
CODEPAGES_EXE = r"C:\qftools\codepages.exe"
TIMESTAMP = re.compile(r"^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] ", re.M)

Run = collections.namedtuple("Run", "rc out raw err")


def _first(*candidates):
    for c in candidates:
        if c and os.access(c, os.X_OK):
            return c
    return None


def _text(raw):
    return raw.decode("utf-8", "replace").replace("\r\n", "\n")


def _sh(cmd, log, what):
    with open(log, "wb") as f:
        if subprocess.run(cmd, stdout=f, stderr=subprocess.STDOUT).returncode != 0:
            sys.stdout.write(open(log, encoding="utf-8", errors="replace").read()[-4000:])
            sys.exit("run.sh: %s failed (%s)" % (what, log))


class Prefix:
    """What prepare() set up: the paths, the tools and the Wine environment."""

    def __init__(self):
        self.build = os.environ.get("QF_WIN_BUILD") or os.path.join(ROOT, "build-win")
        self.exe = os.path.join(self.build, "quillfen.exe")
        self.path = os.path.join(self.build, "wineprefix")
        self.drive_c = os.path.join(self.path, "drive_c")
        self.work = os.path.join(self.build, "wine-work")
        # Device keys planted and not yet removed, kept across runs so that a
        # run that was killed leaves nothing a later check would scan.
        self.planted_record = os.path.join(self.build, "wine-planted-keys.txt")
        self.wine = _first("/usr/lib/wine/wine64", shutil.which("wine64"), shutil.which("wine"))
        self.wineserver = _first("/usr/lib/wine/wineserver64", "/usr/lib/wine/wineserver",
                                 shutil.which("wineserver"))
        self.env = dict(os.environ)
        for k in ("LC_ALL", "DISPLAY", "WAYLAND_DISPLAY"):
            self.env.pop(k, None)
        self.env.update(LANG="C.UTF-8", WINEPREFIX=self.path, WINEDEBUG="-all", WINEARCH="win64",
                        # Wine's own schtasks is partial; ours records what it is handed.
                        WINEDLLOVERRIDES="schtasks.exe=n")

    def compile(self):
        print("== build")
        os.makedirs(self.build, exist_ok=True)
        _sh(["cmake", "-S", ROOT, "-B", self.build,
             "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(ROOT, "cmake", "mingw-w64.cmake"),
             "-DCMAKE_BUILD_TYPE=Release"], os.path.join(self.build, "configure.log"), "cmake configure")
        _sh(["cmake", "--build", self.build, "-j2"], os.path.join(self.build, "build.log"), "build")
        if not os.path.isfile(self.exe):
            sys.exit("run.sh: no " + self.exe)
        cc = next((c for c in ("x86_64-w64-mingw32-gcc-posix", "x86_64-w64-mingw32-gcc")
                   if shutil.which(c)), None)
        if not cc:
            sys.exit("run.sh: MinGW-w64 C compiler not found")
        src = os.path.join(ROOT, "tests", "wine", "standins")
        os.makedirs(os.path.join(self.build, "standins"), exist_ok=True)
        for p in STANDINS:
            out = os.path.join(self.build, "standins", p + ".exe")
            deps = [os.path.join(src, p + ".c"), os.path.join(src, "standin.h")]
            if os.path.exists(out) and all(os.path.getmtime(d) <= os.path.getmtime(out) for d in deps):
                continue
            _sh([cc, "-O2", "-Wall", "-static", "-o", out, deps[0], "-lshell32", "-ladvapi32"],
                os.path.join(self.build, "standin-%s.log" % p), "stand-in " + p)

    def create(self):
        if not self.wine:
            sys.exit("run.sh: wine64 not found (Debian: apt-get install wine64)")
        if not self.wineserver:
            sys.exit("run.sh: wineserver not found")
        os.makedirs(self.work, exist_ok=True)
        if not os.path.isfile(os.path.join(self.path, "system.reg")):
            print("== creating Wine prefix " + self.path)
            t0 = time.time()
            with open(os.devnull, "rb") as null, open(os.path.join(self.work, "wineboot.out"), "wb") as out:
                subprocess.run([self.wine, "wineboot", "-i"], stdin=null, stdout=out, stderr=out,
                               env=self.env)
            subprocess.run([self.wineserver, "-w"], env=self.env)
            print("   prefix created in %.1f s" % (time.time() - t0))
        sys32 = os.path.join(self.drive_c, "windows", "system32")
        if not os.path.isdir(sys32):
            sys.exit("run.sh: the Wine prefix was not created")
        # One server for the whole run: each check then starts as fast as the next.
        # The first program after it starts brings up Wine's services, which
        # write to that program's standard error: a throwaway one takes that.
        subprocess.run([self.wineserver, "-p"], env=self.env)
        with open(os.devnull, "rb") as null, open(os.path.join(self.work, "services.out"), "wb") as out:
            subprocess.run([self.wine, "cmd", "/c", "exit"], stdin=null, stdout=out, stderr=out, env=self.env)
        for p in ("schtasks", "pnputil"):
            shutil.copy(os.path.join(self.build, "standins", p + ".exe"), sys32)
        os.makedirs(os.path.join(self.drive_c, "qf"), exist_ok=True)
        shutil.copy(self.exe, os.path.join(self.drive_c, "qf", "quillfen.exe"))
        os.makedirs(os.path.join(self.drive_c, "qftools"), exist_ok=True)
        for p in ("exitcode", "holder", "codepages"):
            shutil.copy(os.path.join(self.build, "standins", p + ".exe"), os.path.join(self.drive_c, "qftools"))

    def close(self):
        if self.wineserver:
            subprocess.run([self.wineserver, "-k"], env=self.env, stderr=subprocess.DEVNULL)


def prepare():
    """Sets the prefix up; returns (open_machine, close) for the harness."""
    p = Prefix()
    p.compile()
    p.create()
    return (lambda name: Machine(p, name)), p.close


class Started:
    """A running quillfen.exe (or other Wine program); wait() gives its Run."""

    def __init__(self, proc, files, timeout):
        self.proc, self.files, self.timeout = proc, files, timeout

    def wait(self):
        timed_out = False
        try:
            self.proc.wait(self.timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            timed_out = True
        out_path, err_path = self.files
        raw = open(out_path, "rb").read()
        err = _text(open(err_path, "rb").read())
        if timed_out:
            err += "\n[timed out after %d s]" % self.timeout
        return Run(None if timed_out else self.proc.returncode, _text(raw), raw, err)


class Machine:
    def __init__(self, prefix, name):
        self.p = prefix
        self.name = name
        self.work = os.path.join(prefix.work, name)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self._runs = 0
        self._undo = []
        self._reset()

    # ---- files ----------------------------------------------------------------

    def unix(self, path):
        """C:\\a\\b -> the prefix's drive_c/a/b."""
        if not re.match(r"^[Cc]:\\", path):
            raise ValueError("not a C: path: " + path)
        return os.path.join(self.p.drive_c, *[s for s in path[3:].split("\\") if s])

    def read(self, path):
        try:
            return open(self.unix(path), "rb").read()
        except FileNotFoundError:
            return None

    def write(self, path, data):
        with open(self.unix(path), "wb") as f:
            f.write(data.encode("utf-8") if isinstance(data, str) else data)

    def folder(self, path):
        """Makes PATH; the outermost folder it had to make goes at cleanup."""
        parts = [s for s in path[3:].split("\\") if s]
        for i in range(1, len(parts) + 1):
            d = os.path.join(self.p.drive_c, *parts[:i])
            if not os.path.isdir(d):
                os.makedirs(os.path.join(self.p.drive_c, *parts))
                self.on_cleanup(lambda d=d: shutil.rmtree(d, ignore_errors=True))
                break
        return self.unix(path)

    def install_exe(self, path):
        self.folder(path.rsplit("\\", 1)[0])
        shutil.copy(self.p.exe, self.unix(path))
        return path

    def log_raw(self, folder=r"C:\qf"):
        return self.read(folder + r"\device_cleanup_log.txt") or b""

    def log(self, folder=r"C:\qf"):
        lines = self.log_raw(folder).decode("utf-8", "replace").split("\n")
        if lines[-1] == "":
            lines.pop()
        return [TIMESTAMP.sub("", line.rstrip("\r")) for line in lines]

    def blacklist(self, entries, eol="\r\n"):
        lines = [BLACKLIST_HEADER] + ["\t".join(str(f) for f in e) for e in entries]
        self.write(r"C:\qf\blacklist.tsv", "".join(line + eol for line in lines))

    # ---- stand-ins ------------------------------------------------------------

    def standin_path(self, name):
        return os.path.join(self.p.drive_c, "standin", name)

    def standin_file(self, name, text=""):
        with open(self.standin_path(name), "w", encoding="utf-8") as f:
            f.write(text)

    def standin_exit(self, **codes):
        for name, code in codes.items():
            self.standin_file(name + ".exit", "%d\n" % code)

    def calls(self, name):
        try:
            raw = open(self.standin_path(name + ".log"), "rb").read()
        except FileNotFoundError:
            return []
        return raw.decode("utf-8", "replace").splitlines()

    # ---- running --------------------------------------------------------------

    def start(self, *args, stdin="", exe=QF_EXE, cwd=r"C:\qf", env=None, timeout=120):
        # Files, never pipes: Wine's background services inherit the handles,
        # and reads from an inherited pipe hang.
        self._runs += 1
        program = re.sub(r"\.exe$", "", exe.rsplit("\\", 1)[-1].lower())
        base = os.path.join(self.work, "%02d-%s" % (self._runs, program))
        with open(base + ".cmd", "w", encoding="utf-8") as f:
            f.write(shlex.join([exe] + list(args)) + "\n")
        with open(base + ".in", "w", encoding="utf-8") as f:
            f.write(stdin)
        full_env = dict(self.p.env, **(env or {}))
        with open(base + ".in", "rb") as i, open(base + ".out", "wb") as o, open(base + ".err", "wb") as e:
            proc = subprocess.Popen([self.p.wine, exe] + list(args), stdin=i, stdout=o, stderr=e,
                                    cwd=self.unix(cwd), env=full_env)
        return Started(proc, (base + ".out", base + ".err"), timeout)

    def run(self, *args, full_exit=False, **kw):
        if not full_exit:
            return self.start(*args, **kw).wait()
        # Through the runner, which reads all 32 bits of the exit code.
        result = r"C:\standin\exitcode.txt"
        if os.path.exists(self.unix(result)):
            os.remove(self.unix(result))
        exe = kw.pop("exe", QF_EXE)
        r = self.start(result, exe, *args, exe=EXITCODE_EXE, **kw).wait()
        code = (self.read(result) or b"").strip()
        return r._replace(rc=int(code) if code.isdigit() else None)

    def wine(self, *args, timeout=60):
        return self.run(*args[1:], exe=args[0], timeout=timeout)

    # ---- registry -------------------------------------------------------------

    def reg_import(self, lines):
        """Imports .reg lines (without the version line) with one regedit start."""
        text = "Windows Registry Editor Version 5.00\r\n\r\n" + "".join(l + "\r\n" for l in lines)
        with open(self.standin_path("import.reg"), "wb") as f:
            f.write(b"\xff\xfe" + text.encode("utf-16-le"))
        r = self.wine("regedit", "/s", r"C:\standin\import.reg")
        if r.rc != 0:
            raise RuntimeError("regedit import failed: " + r.err)

    def reg_set(self, key, name, value):
        """A string or number value; NAME "" is the key's default value."""
        kind, data = ("REG_DWORD", str(value)) if isinstance(value, int) else ("REG_SZ", value)
        r = self.wine("reg", "add", key, *_reg_name(name), "/t", kind, "/d", data, "/f")
        if r.rc != 0:
            raise RuntimeError("reg add %s failed: %s" % (key, r.err))
        self.on_cleanup(lambda: self.reg_delete(key, name))

    def reg_delete(self, key, name=None):
        """Deletes a value, or the whole key when NAME is None; missing is fine."""
        self.wine("reg", "delete", key, *(_reg_name(name) if name is not None else []), "/f")

    def reg_get(self, key):
        """The values of KEY as {name: str | int | list | bytes} ("" is the
        default value); None when the key does not exist."""
        out = self.standin_path("export.reg")
        if os.path.exists(out):
            os.remove(out)
        key = re.sub(r"^HKLM\\", "HKEY_LOCAL_MACHINE\\\\", re.sub(r"^HKCU\\", "HKEY_CURRENT_USER\\\\", key))
        self.wine("regedit", "/e", r"C:\standin\export.reg", key)
        if not os.path.exists(out):
            return None
        return _parse_reg_values(open(out, "rb").read().decode("utf-16"))

    # ---- devices --------------------------------------------------------------

    def plant(self, devices):
        """The test devices become exactly DEVICES, in one regedit import:
        (instance id, friendly name, description, class[, hardware ids[,
        compatible ids]])."""
        new = list(dict.fromkeys(_device_key(d[0]) for d in devices))
        gone = self._recorded_keys()
        self._record_keys(list(dict.fromkeys(gone + new)))
        lines = ["[-%s\\%s]" % (ENUM, k) for k in dict.fromkeys(gone + new)] + [""]
        for inst, friendly, desc, cls, *ids in devices:
            lines.append("[%s\\%s]" % (ENUM, inst))
            if friendly is not None:
                lines.append('"FriendlyName"=' + _reg_value(friendly))
            lines += ['"DeviceDesc"=' + _reg_value(desc), '"Class"=' + _reg_value(cls),
                      '"ClassGUID"=' + _reg_value(CAMERA_GUID)]
            # A device may bring its hardware and compatible ids, as multi-strings.
            for name, values in zip(("HardwareID", "CompatibleIDs"), ids):
                lines.append('"%s"=hex(7):' % name + ",".join(
                    "%02x" % b for b in ("".join(v + "\0" for v in values) + "\0").encode("utf-16-le")))
            lines.append("")
        self.reg_import(lines)
        self._record_keys(new)

    def _recorded_keys(self):
        try:
            return open(self.p.planted_record, encoding="utf-8").read().splitlines()
        except FileNotFoundError:
            return []

    def _record_keys(self, keys):
        with open(self.p.planted_record, "w", encoding="utf-8") as f:
            f.write("".join(k + "\n" for k in keys))

    def _unplant(self):
        keys = self._recorded_keys()
        if keys:
            self.reg_import(["[-%s\\%s]" % (ENUM, k) for k in keys])
            self._record_keys([])

    # ---- set-up and cleanup ---------------------------------------------------

    def on_cleanup(self, fn):
        self._undo.append(fn)

    def _reset(self):
        os.makedirs(self.standin_path(""), exist_ok=True)
        self._unplant()
        qf = os.path.join(self.p.drive_c, "qf")
        for e in os.listdir(qf):
            if e != "quillfen.exe":
                path = os.path.join(qf, e)
                shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
        shutil.rmtree(self.standin_path(""))
        os.makedirs(self.standin_path(""))

    def cleanup(self):
        # Kept for reading: what the check left in C:\qf and C:\standin.
        for d in ("qf", "standin"):
            src = os.path.join(self.p.drive_c, d)
            shutil.copytree(src, os.path.join(self.work, d), dirs_exist_ok=True,
                            ignore=lambda _, names: [n for n in names if n.endswith(".exe")])
        while self._undo:
            self._undo.pop()()
        self._reset()


def _device_key(inst):
    """The key planting removes first: enumerator and device, never less."""
    parts = inst.split("\\")
    if len(parts) < 3:
        raise ValueError("instance id needs three parts: " + inst)
    return "\\".join(parts[:2])


def _reg_name(name):
    return ["/ve"] if name == "" else ["/v", name]


def _reg_unescape(s):
    return re.sub(r"\\(.)", lambda m: {"r": "\r", "n": "\n", "0": "\0"}.get(m.group(1), m.group(1)), s)


def _reg_value(s):
    if isinstance(s, int):
        return "dword:%08x" % s
    if any(ord(c) < 32 for c in s):
        return "hex(1):" + ",".join("%02x" % b for b in (s + "\0").encode("utf-16-le"))
    return '"%s"' % s.replace("\\", "\\\\").replace('"', '\\"')


def _parse_reg_values(text):
    """The values of the first key in a regedit export."""
    text = re.sub(r"\\\r?\n\s*", "", text.lstrip("\ufeff"))
    values, in_key = {}, False
    for line in text.splitlines():
        if line.startswith("["):
            if in_key:
                break
            in_key = True
            continue
        m = re.match(r'^(@|"((?:[^"\\]|\\.)*)")=(.*)$', line)
        if not (in_key and m):
            continue
        name = "" if m.group(1) == "@" else _reg_unescape(m.group(2))
        v = m.group(3)
        if v.startswith('"'):
            values[name] = _reg_unescape(v[1:-1])
        elif v.startswith("dword:"):
            values[name] = int(v[6:], 16)
        else:
            kind, _, data = v.partition(":")
            raw = bytes(int(b, 16) for b in data.split(",") if b)
            if kind in ("hex(1)", "hex(2)"):
                values[name] = raw.decode("utf-16-le").rstrip("\0")
            elif kind == "hex(7)":
                values[name] = [s for s in raw.decode("utf-16-le").split("\0") if s]
            else:
                values[name] = raw
    return values
