#!/usr/bin/env python3
"""Scenario tests: run the real program on a scripted machine and compare
everything it leaves behind byte for byte.

    run.py BINARY CASE_OR_DIR... [--keep] [--quiet] [-k SUBSTRING] [--update-record]

Every *.case file (searched recursively in the directories given) is one
case. Per case a fresh temp dir is made; the program runs there with TZ=UTC,
QUILLFEN_MACHINE pointing at a machine file written from the case, and the
executable's path set to "<tmp>/Program Files/Quillfen/quillfen.exe", so its
data files land in "<tmp>/Program Files/Quillfen/".

--update-record rewrites the record section of each failing case with what
the program recorded (review the diff before committing it); a record with
an option is left as it is.

Case file
---------
Text before the first section header is a free description. A section starts
with a line "== NAME [OPTIONS]" and runs to the next header. Lines beginning
with "##" are comments anywhere. Trailing blank lines of a section are dropped;
write "{}" for an intended empty line there.

  args              one argument per line
  machine           machine-file lines; '|' separates fields (a TAB);
                    written after the defaults exe/record/clock, so "clock|N"
                    or "exe|PATH" here override them (with its own exe a case
                    gets no data directory made for it); with "exe-final|PATH"
                    {EXE} and {DIR} follow that path, as the data files do;
                    a line "demo" is the built-in demo machine
  stdin             standard input, "\\n" after each line (absent: empty input)
  blacklist-in      blacklist.tsv placed before the run; '|' is a TAB;
                    CR LF line ends, or LF / CR with the option "lf" / "cr"
  dirs-in           directories made beside the executable before the run,
                    one name per line (they may stay); "." is the folder itself
  file-in NAME      a file NAME placed beside the executable before the run
  log-in            device_cleanup_log.txt placed before the run (CR LF)
  registry-in       the machine's registry before the run, one value per
                    line, key|name|sz|expand|dword|data ('|' is a TAB; the
                    data is the rest of the line, TABs included)
  stdout            expected standard output; "\\n" after each line;
                    lines starting with '@' are the macros below;
                    option "json": a JSON document, compared with the
                    output parsed as one strict JSON document (key order
                    counts)
  exit              expected exit code (default 0)
  record            expected record of system events; '|' is a TAB
                    (absent: nothing may be recorded); option "any": not
                    compared
  blacklist         expected blacklist.tsv ('|' is a TAB, CR LF line ends,
                    or LF with the option "lf");
                    option "absent": the file must not exist;
                    section missing: not compared
  log               expected device_cleanup_log.txt (CR LF line ends);
                    option "absent" / section missing as for blacklist
  models-in         blacklist-models.tsv placed before the run ('|' is a TAB;
                    CR LF line ends)
  models            expected blacklist-models.tsv, as for blacklist
  rules-in, rules   the same for blacklist-rules.tsv
  registry          expected registry after the run, the same way (with
                    registry-in or registry, the machine keeps its registry
                    in a file; section missing: not compared)
  stderr            expected standard error (default: empty)
  left              files expected beside the executable after the run besides
                    the data files, one name per line

Lean cases: a new case asserts the effect its rule is about, not every seam
call and screen line on the way. With the option "contains" (stdout without
"json", stderr, record, blacklist, log, models, registry) the section's lines
must all appear, in that order, and other lines may stand between them (a
file must still be there). With "== record any" the record is not compared.
Sections without these options are compared whole, as described above.

Tokens, in every section: {TAB} {CR} {LF} {SP} {} (nothing) {xHH} (one byte)
{NOEOL} (at a line's end: no line end after it) {NOW} {NOW+N} {NOW-N} (the
case's clock) {T} (its timestamp "[YYYY-MM-DD hh:mm:ss]") {UTC} (the same
as "YYYY-MM-DDThh:mm:ssZ") {EXE} {DIR} (the
executable's path, the data directory with its trailing '/') {TMP}
{REP:N:TEXT} (TEXT N times) {PIPE} (a literal '|' in '|' sections).
A line "@repeat N TEMPLATE" (any section) stands for N lines, with {i} in
TEMPLATE replaced by 1..N. Lines between "@define NAME" and "@end" (any
section) are a block, put in wherever a line "@use NAME" stands.

stdout macros (texts of the program's screens):
  @banner [bl=N] [force] [unreadable|overfull] [bad=N:LINE] [key=KEYWORD]
                     banner; key= takes the rest of the line; unreadable /
                     overfull: the blacklist's error line in its place / after it;
                     bad: the line of N lines nobody can read, the first at LINE
  @notadmin          not-elevated hint and the relaunch prompt (no line end)
  @scan              "  正在扫描设备..."
  @none              the empty-result line and a blank line
  @head              the table header
  @row N | STATUS | LOCK | BL | NAME | CLASS | INSTANCE     one table row
  @marks N           the built-in note (preceded by a blank line)
  @menu              the command menu and its prompt (no line end)
  @nosel             "  没有选中任何设备。" and a blank line
  @keyprompt         the keyword prompt (no line end)
  @bye               the two closing lines of the interactive mode
  @dev NAME | CLASS | STATUS | INSTANCE     the dialogue's device block
  @warn              the built-in warning and the consent prompt
  @replug            the re-plug note
  @confirm           the final confirmation prompt
  @removing          "  正在删除 ..."
  @offer             the blacklist offer prompt
  @duration          the duration menu and its prompt
  @taskoffer         the task tip and prompt
  @summary S F K     the dialogue summary and the Enter prompt
  @blhead N          blacklist menu heading
  @blempty           "   （空）"
  @blrow I | NAME | CLASS | LEFT | BYNAME | INSTANCE    blacklist menu row
  @blmenu            blacklist menu commands and prompt
  @blist N           the --blist heading
  @blistrow I | NAME | CLASS | LEFT | INSTANCE           one --blist entry
"""

import difflib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

TESTS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [TESTS, os.path.join(TESTS, "lib")]
import qftest  # noqa: E402  (tests/lib: the machine file and the program's environment)
import screens as S  # noqa: E402  (tests/screens.py, shared with the Wine checks)

DEFAULT_CLOCK = 1772874303  # 2026-03-07 09:05:03 UTC
PIPE_SECTIONS = {"machine", "record", "blacklist-in", "blacklist", "registry-in", "registry", "models-in", "models",
                 "rules-in", "rules"}
KNOWN = {"args", "machine", "stdin", "blacklist-in", "dirs-in", "file-in", "log-in", "stdout", "exit",
         "record", "blacklist", "log", "stderr", "registry-in", "registry", "left", "models-in", "models",
         "rules-in", "rules"}
NOEOL = "\x00NOEOL\x00"
DATA_FILES = {"blacklist.tsv", "device_cleanup_log.txt", "blacklist.tsv.lock",
              "device_cleanup_log.txt.lock", "blacklist-models.tsv", "blacklist-rules.tsv",
              "policy-snapshot.tsv"}


class CaseError(Exception):
    pass


# ---- macros -------------------------------------------------------------------

def fields(arg, count, name):
    parts = arg.split(" | ")
    if len(parts) != count:
        raise CaseError("@%s wants %d fields separated by ' | ', got %d: %r"
                        % (name, count, len(parts), arg))
    return parts


def macro(name, arg):
    if name == "banner":
        key, force, bl, state, bad = None, False, 0, None, None
        rest = arg
        while rest:
            if rest.startswith("key="):
                key = rest[4:]
                break
            word, _, rest = rest.partition(" ")
            if word == "force":
                force = True
            elif word.startswith("bl="):
                bl = int(word[3:])
            elif word in ("unreadable", "overfull"):
                state = word
            elif word.startswith("bad="):
                bad = tuple(int(x) for x in word[4:].split(":"))
            elif word:
                raise CaseError("@banner: unknown option %r" % word)
        return S.banner(key=key, force=force, bl=bl, state=state, bad=bad)
    if name == "row":
        n, st, lock, bl, nm, cls, inst = fields(arg, 7, name)
        return S.row(int(n), st, lock, bl, nm, cls, inst)
    if name == "marks":
        return S.builtin_note(int(arg))
    if name == "dev":
        return S.device(*fields(arg, 4, name))
    if name == "summary":
        return S.summary(*(int(x) for x in arg.split()))
    if name == "blhead":
        return S.bl_head(int(arg))
    if name == "blrow":
        i, nm, cls, left, byname, inst = fields(arg, 6, name)
        return S.bl_row(int(i), nm, cls, left, int(byname), inst)
    if name == "blist":
        return S.blist_head(int(arg))
    if name == "blistrow":
        i, nm, cls, left, inst = fields(arg, 5, name)
        return S.blist_row(int(i), nm, cls, left, inst)
    fixed = {"notadmin": S.NOT_ADMIN, "scan": S.SCANNING, "none": S.NOTHING, "head": S.header(),
             "menu": S.MENU, "nosel": S.NO_SELECTION, "keyprompt": S.KEY_PROMPT, "bye": S.CLOSING,
             "warn": S.WARN, "replug": S.REPLUG, "confirm": S.CONFIRM, "removing": S.REMOVING,
             "offer": S.OFFER, "duration": S.DURATION, "taskoffer": S.TASK_OFFER, "blempty": S.BL_EMPTY,
             "blmenu": S.BL_MENU}
    if name in fixed:
        return fixed[name]
    raise CaseError("unknown macro @%s" % name)


# ---- case files ---------------------------------------------------------------

class Ctx:
    def __init__(self, tmp):
        self.tmp = tmp
        self.clock = DEFAULT_CLOCK
        self.exe = os.path.join(tmp, "Program Files", "Quillfen", "quillfen.exe")

    @property
    def datadir(self):
        cut = max(self.exe.rfind("/"), self.exe.rfind("\\"))
        if cut < 0:
            return self.tmp + "/"  # no directory: the files land in the cwd
        return self.exe[:cut + 1]


TOKEN = re.compile(r"\{([^{}]*)\}")


def expand(text, ctx, lenient=False):
    """Replaces the tokens; with lenient, braces that are no token stay (JSON)."""
    def one(m):
        t = m.group(1)
        if t == "":
            return ""
        if t == "TAB":
            return "\t"
        if t == "CR":
            return "\r"
        if t == "LF":
            return "\n"
        if t == "SP":
            return " "
        if t == "PIPE":
            return "|"
        if t == "NOEOL":
            return NOEOL
        if re.fullmatch(r"x[0-9A-Fa-f]{2}", t):
            b = int(t[1:], 16)
            return chr(b) if b < 0x80 else chr(0xDC00 + b)
        m2 = re.fullmatch(r"NOW(?:([+-])(\d+))?", t)
        if m2:
            v = ctx.clock
            if m2.group(1):
                v += int(m2.group(2)) * (1 if m2.group(1) == "+" else -1)
            return str(v)
        if t == "T":
            return time.strftime("[%Y-%m-%d %H:%M:%S]", time.gmtime(ctx.clock))
        if t == "UTC":
            return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(ctx.clock))
        if t == "EXE":
            return ctx.exe
        if t == "DIR":
            return ctx.datadir
        if t == "TMP":
            return ctx.tmp
        m2 = re.fullmatch(r"REP:(\d+):(.*)", t, re.S)
        if m2:
            return m2.group(2) * int(m2.group(1))
        if lenient:
            return m.group(0)
        raise CaseError("unknown token {%s}" % t)
    return TOKEN.sub(one, text)


def parse_case(path):
    sections = {}
    order = []
    cur = None
    with open(path, encoding="utf-8") as f:
        raw = f.read()
    if raw.endswith("\n"):
        raw = raw[:-1]
    for line in raw.split("\n"):
        if line.endswith("\r"):
            raise CaseError("CR in the case file; write {CR}")
        if line.startswith("##"):
            continue
        if line.startswith("== "):
            words = line[3:].split()
            name, opts = words[0], words[1:]
            if name not in KNOWN:
                raise CaseError("unknown section %r" % name)
            if name in sections:
                raise CaseError("section %r twice" % name)
            cur = (name, opts, [])
            sections[name] = cur
            order.append(name)
            continue
        if cur is not None:
            cur[2].append(line)
    for name, opts, lines in sections.values():
        while lines and lines[-1] == "":
            lines.pop()
    return sections


def define_blocks(lines):
    """Takes out "@define NAME" ... "@end" blocks and puts them in for "@use NAME"."""
    blocks, body, cur = {}, [], None
    for line in lines:
        if cur is not None:
            if line == "@end":
                cur = None
            else:
                blocks[cur].append(line)
        elif line.startswith("@define "):
            cur = line[8:].strip()
            blocks[cur] = []
        else:
            body.append(line)
    if cur is not None:
        raise CaseError("@define %s without @end" % cur)

    def use(lines, depth):
        out = []
        for line in lines:
            if line.startswith("@use "):
                name = line[5:].strip()
                if name not in blocks or depth > 10:
                    raise CaseError("@use of unknown block %r" % name)
                out += use(blocks[name], depth + 1)
            else:
                out.append(line)
        return out
    return use(body, 0)


def repeat_lines(lines):
    out = []
    for line in define_blocks(lines):
        m = re.match(r"@repeat (\d+) (.*)$", line)
        if m:
            for i in range(1, int(m.group(1)) + 1):
                out.append(m.group(2).replace("{i}", str(i)))
        else:
            out.append(line)
    return out


def render(name, lines, ctx, eol, lenient=False):
    """Section lines -> bytes."""
    parts = []
    for line in repeat_lines(lines):
        if name == "stdout" and line.startswith("@"):
            mname, _, arg = line[1:].partition(" ")
            parts.append(macro(mname, expand(arg, ctx)))
            continue
        if name in PIPE_SECTIONS:
            text = "\t".join(expand(p, ctx) for p in line.split("|"))
        else:
            text = expand(line, ctx, lenient)
        if text.endswith(NOEOL):
            parts.append(text[:-len(NOEOL)])
        else:
            if NOEOL in text:
                raise CaseError("{NOEOL} only at the end of a line")
            parts.append(text + eol)
    return "".join(parts).encode("utf-8", "surrogateescape")


def show(b):
    """Bytes -> printable lines for a diff."""
    out = []
    for line in b.split(b"\n"):
        s = line.decode("utf-8", "backslashreplace")
        s = s.replace("\t", "→").replace("\r", "␍")
        out.append(s)
    return out


def diff(label, want, got):
    lines = list(difflib.unified_diff(show(want), show(got), "expected " + label,
                                      "actual " + label, lineterm="", n=2))
    if len(lines) > 60:
        lines = lines[:60] + ["... (%d more diff lines)" % (len(lines) - 60)]
    return "\n".join("    " + l for l in lines)


def lacking(want, got):
    """The first of want's lines that got lacks, each looked for after the
    one found before it; None when got holds them all in that order."""
    wanted = want.split(b"\n")
    lines = iter(got.split(b"\n"))
    for w in wanted[:-1] if wanted[-1] == b"" else wanted:
        if not any(w == g for g in lines):
            return w
    return None


def compare_json(want, got, problems):
    """The output must be one JSON document in UTF-8, equal to the expected one."""
    try:
        want_doc = json.loads(want.decode("utf-8"))
    except ValueError as e:
        raise CaseError("the expected stdout is not JSON: %s" % e)
    def no_constants(name):
        raise ValueError("%s is not JSON" % name)

    def no_duplicates(pairs):
        keys = [k for k, _ in pairs]
        if len(set(keys)) != len(keys):
            raise ValueError("a key twice in one object: %r" % keys)
        return dict(pairs)

    def check_text(v):
        if isinstance(v, str):
            v.encode("utf-8")  # a lone surrogate cannot be encoded
        elif isinstance(v, dict):
            for k, x in v.items():
                check_text(k)
                check_text(x)
        elif isinstance(v, list):
            for x in v:
                check_text(x)

    try:
        got_doc = json.loads(got.decode("utf-8"), parse_constant=no_constants, object_pairs_hook=no_duplicates)
        check_text(got_doc)
    except ValueError as e:
        problems.append("  stdout is not one JSON document in UTF-8: %s\n    %r" % (e, got[:2000]))
        return
    w = json.dumps(want_doc, ensure_ascii=False, indent=1)
    g = json.dumps(got_doc, ensure_ascii=False, indent=1)
    if w != g:
        problems.append("  stdout (JSON) differs:\n%s" % diff("JSON", w.encode(), g.encode()))


def update_record(path, got, ctx):
    """Puts what was recorded into the case's record section."""
    text = got.decode("utf-8", "surrogateescape")
    lines = []
    for line in text.split("\n")[:-1] if text else []:
        line = line.replace("|", "{PIPE}")
        for value, token in ((ctx.exe, "{EXE}"), (ctx.datadir, "{DIR}"), (ctx.tmp, "{TMP}")):
            line = line.replace(value, token)
        lines.append(line.replace("\t", "|"))
    with open(path, encoding="utf-8") as f:
        raw = f.read().split("\n")
    out, i, done = [], 0, False
    while i < len(raw):
        if raw[i].startswith("== record"):
            i += 1
            while i < len(raw) and not raw[i].startswith("== "):
                i += 1
            if lines:
                out += ["== record"] + lines + [""]
            done = True
            continue
        out.append(raw[i])
        i += 1
    if not done and lines:
        while out and out[-1] == "":
            out.pop()
        out += ["", "== record"] + lines + [""]
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(out).rstrip("\n") + "\n")


def run_case(binary, path, keep, update=False):
    tmp = tempfile.mkdtemp(prefix="qf-scenario-")
    problems = []
    try:
        sec = parse_case(path)
        ctx = Ctx(tmp)
        machine = sec.get("machine", ("machine", [], []))[2]
        for line in machine:
            m = re.fullmatch(r"clock\|(-?\d+)", line)
            if m:
                ctx.clock = int(m.group(1))
        own_exe = False
        for line in machine:
            if line.startswith("exe|"):
                ctx.exe = expand(line[4:], ctx)
                own_exe = True
        for line in machine:
            # The data files follow the final path: so do {EXE} and {DIR}.
            if line.startswith("exe-final|") and line != "exe-final|fail":
                ctx.exe = expand(line[len("exe-final|"):], ctx)
                own_exe = False
        if not own_exe:  # a case that names its own exe makes its own dirs
            os.makedirs(ctx.datadir, exist_ok=True)
        record = os.path.join(tmp, "record")
        mfile = os.path.join(tmp, "machine")
        head = [("exe", ctx.exe), ("record", record), ("clock", ctx.clock)]
        registry = os.path.join(tmp, "registry")
        if "registry-in" in sec or "registry" in sec:
            head.append(("registry", registry))
            with open(registry, "wb") as f:
                if "registry-in" in sec:
                    f.write(render("registry-in", sec["registry-in"][2], ctx, "\n"))
        with open(mfile, "wb") as f:
            f.write(qftest.machine_text(head).encode("utf-8", "surrogateescape"))
            f.write(render("machine", machine, ctx, "\n"))

        def section(name, eol):
            s = sec.get(name)
            return None if s is None else render(name, s[2], ctx, eol)

        bl_path = os.path.join(ctx.datadir, "blacklist.tsv")
        log_path = os.path.join(ctx.datadir, "device_cleanup_log.txt")
        models_path = os.path.join(ctx.datadir, "blacklist-models.tsv")
        rules_path = os.path.join(ctx.datadir, "blacklist-rules.tsv")
        made = set()
        for name in sec.get("dirs-in", ("dirs-in", [], []))[2]:
            os.makedirs(os.path.join(ctx.datadir, expand(name, ctx)))
            made.add(expand(name, ctx))
        if "blacklist-in" in sec:
            opts = sec["blacklist-in"][1]
            eol = "\n" if "lf" in opts else "\r" if "cr" in opts else "\r\n"
            with open(bl_path, "wb") as f:
                f.write(section("blacklist-in", eol))
        for name, fpath in (("models-in", models_path), ("rules-in", rules_path)):
            if name in sec:
                with open(fpath, "wb") as f:
                    f.write(section(name, "\r\n"))
        if "file-in" in sec:
            with open(os.path.join(ctx.datadir, sec["file-in"][1][0]), "wb") as f:
                f.write(section("file-in", "\n"))
        if "log-in" in sec:
            with open(log_path, "wb") as f:
                f.write(section("log-in", "\r\n"))
        args = [expand(a, ctx) for a in sec.get("args", ("args", [], []))[2]]
        stdin = section("stdin", "\n") or b""
        try:
            p = subprocess.run([binary] + [a.encode("utf-8", "surrogateescape") for a in args],
                               input=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               env=qftest.environment(mfile), cwd=tmp, timeout=20)
        except subprocess.TimeoutExpired:
            problems.append("  timed out")
            return problems

        def compare(label, want, got):
            if label in sec and "contains" in sec[label][1]:
                lost = lacking(want, got)
                if lost is not None:
                    problems.append("  %s lacks this line (or has it only before the lines above it):\n    %s\n"
                                    "  it holds:\n%s" % (label, show(lost)[0],
                                                         "\n".join("    " + l for l in show(got)[:60])))
            elif want != got:
                problems.append("  %s differs:\n%s" % (label, diff(label, want, got)))

        if "stdout" in sec and "json" in sec["stdout"][1]:
            compare_json(render("stdout", sec["stdout"][2], ctx, "\n", lenient=True), p.stdout, problems)
        else:
            compare("stdout", section("stdout", "\n") or b"", p.stdout)
        want_exit = int("".join(sec["exit"][2]).strip()) if "exit" in sec else 0
        if p.returncode != want_exit:
            problems.append("  exit code: expected %d, got %d" % (want_exit, p.returncode))
        compare("stderr", section("stderr", "\n") or b"", p.stderr)
        if "registry" in sec:
            compare("registry", section("registry", "\n"), open(registry, "rb").read())
        got_rec = open(record, "rb").read() if os.path.exists(record) else b""
        rec_opts = sec.get("record", ("record", [], []))[1]
        if "any" not in rec_opts:
            if update and "contains" not in rec_opts and got_rec != (section("record", "\n") or b""):
                update_record(path, got_rec, ctx)
            compare("record", section("record", "\n") or b"", got_rec)
        for name, fpath in (("blacklist", bl_path), ("log", log_path), ("models", models_path), ("rules", rules_path)):
            if name not in sec:
                continue
            exists = os.path.exists(fpath)
            if "absent" in sec[name][1]:
                if exists:
                    problems.append("  %s: expected no file, found:\n%s"
                                    % (name, "\n".join("    " + l for l in
                                                       show(open(fpath, "rb").read()))))
                continue
            if not exists:
                problems.append("  %s: file missing" % name)
                continue
            eol = "\n" if "lf" in sec[name][1] else "\r\n"
            compare(name, section(name, eol), open(fpath, "rb").read())
        # Saves go through a temp file; nothing but the data files and their
        # lock files may be left beside the exe.
        left = set(sec.get("left", ("left", [], []))[2])
        missing = sorted(n for n in left if not os.path.exists(os.path.join(ctx.datadir, n)))
        if missing:
            problems.append("  expected beside the executable: %s" % ", ".join(missing))
        if os.path.isdir(ctx.datadir):
            stray = sorted(set(os.listdir(ctx.datadir)) - DATA_FILES - made - left)
            if stray:
                problems.append("  stray files beside the executable: %s" % ", ".join(stray))
        # Nor anywhere else: a data file must never move to another folder.
        for root, _, files in os.walk(tmp):
            seam = (record, mfile, registry) + tuple(registry + ext for ext in (".lock", ".mutex", ".times", ".state",
                                                                                 ".state.lock"))
            elsewhere = [f for f in files if os.path.join(root, f) not in seam and os.path.join(root, "") != ctx.datadir]
            if elsewhere:
                problems.append("  files outside the data directory: %s" % ", ".join(
                    os.path.relpath(os.path.join(root, f), tmp) for f in elsewhere))
        return problems
    except CaseError as e:
        return ["  case file error: %s" % e]
    finally:
        if keep:
            problems.append("  kept: %s" % tmp)
        else:
            shutil.rmtree(tmp, ignore_errors=True)


def main(argv):
    keep = quiet = update = False
    pattern = None
    rest = []
    it = iter(argv[1:])
    for a in it:
        if a == "--keep":
            keep = True
        elif a == "--quiet":
            quiet = True
        elif a == "--update-record":
            update = True
        elif a == "-k":
            pattern = next(it, None)
        else:
            rest.append(a)
    if len(rest) < 2:
        print(__doc__)
        return 2
    binary = os.path.abspath(rest[0])
    cases = []
    for r in rest[1:]:
        if os.path.isdir(r):
            for root, _, files in os.walk(r):
                cases += [os.path.join(root, f) for f in files if f.endswith(".case")]
        else:
            cases.append(r)
    cases.sort()
    if pattern:
        cases = [c for c in cases if pattern in c]
    passed = failed = 0
    base = os.path.commonpath(cases) if len(cases) > 1 else os.path.dirname(cases[0]) if cases else ""
    for c in cases:
        name = os.path.relpath(c, base)
        problems = run_case(binary, c, keep, update)
        real = [p for p in problems if not p.startswith("  kept: ")]
        if real:
            failed += 1
            print("FAIL %s" % name)
            for pr in problems:
                print(pr)
        else:
            passed += 1
            if not quiet:
                print("ok   %s" % name)
                for pr in problems:
                    print(pr)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed or not cases else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
