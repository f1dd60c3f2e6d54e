"""What the Python test runners share: the data files' header lines, the
machine file of the Linux build, and a box to run the program in.

    sys.path.insert(0, "<tests>/lib"); import qftest
"""

import os
import shutil
import subprocess
import tempfile

# The first lines of blacklist.tsv and blacklist-models.tsv, as the program writes them.
BLACKLIST_HEADER = "# Quillfen 拉黑名单  (until\\tbyname\\tname\\tinst\\tcls)\r\n"
MODELS_HEADER = "# Quillfen 型号  (inst\\tmodel\\tok|shared|builtin|unknown)\r\n"


def machine_text(lines):
    """A machine file (format at the top of src/sys/sim_machine.h), one
    line each; a line given as a tuple has its fields joined by TABs."""
    return "".join((l if isinstance(l, str) else "\t".join(str(f) for f in l)) + "\n" for l in lines)


def environment(machine):
    """The program's whole environment: its machine file, UTC, and PATH."""
    return {"QUILLFEN_MACHINE": machine, "TZ": "UTC", "PATH": os.environ.get("PATH", "")}


class Box:
    """A fresh folder holding the program's path, its machine file and its
    data files; the program runs with the folder as its working directory."""

    def __init__(self, binary, prefix):
        self.binary = binary
        self.dir = tempfile.mkdtemp(prefix=prefix) + "/"
        self.exe = self.dir + "quillfen.exe"
        self.machine = self.dir + "machine"

    def path(self, name):
        return self.dir + name

    def read(self, name, default=None):
        try:
            with open(self.path(name), "rb") as f:
                return f.read().decode("utf-8", "surrogateescape")
        except FileNotFoundError:
            return default

    def write(self, name, text):
        with open(self.path(name), "w", encoding="utf-8", newline="") as f:
            f.write(text)

    def write_machine(self, lines, name="machine"):
        self.write(name, machine_text(lines))
        return self.path(name)

    def start(self, args=(), machine=None, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT):
        """The program, started on the box's machine file or another one."""
        return subprocess.Popen([self.binary] + list(args), stdin=stdin, stdout=stdout, stderr=stderr,
                                env=environment(machine or self.machine), cwd=self.dir)

    def run(self, stdin="", args=(), machine=None, timeout=60):
        """The program run to its end: its exit code and what it printed."""
        p = self.start(args, machine)
        try:
            out, _ = p.communicate(stdin.encode(), timeout=timeout)
        except subprocess.TimeoutExpired:
            p.kill()
            p.communicate()
            raise
        return p.returncode, out.decode("utf-8", "replace")

    def close(self):
        shutil.rmtree(self.dir, ignore_errors=True)
