"""Named checks, the assertion helper and the command line that runs them.

A check is a function decorated with @check; its name is the function's name.
It receives the machine of machine.py, sets up what it needs there and
asserts with expect() (same/has/lacks are shorthands that call it). A failed
expectation does not stop the check: every failure is reported under the
check's name. An exception ends the check as a failure; skip() ends it as
skipped.

    main(argv, prepare)   --list | NAME... (shell patterns allowed) | nothing = all
"""

import difflib
import fnmatch
import sys
import time
import traceback

CHECKS = []        # (name, function), in the order they are defined
_failures = None   # the running check's failures: [(what, detail)]


class Skip(Exception):
    pass


def check(fn):
    CHECKS.append((fn.__name__, fn))
    return fn


def skip(reason):
    raise Skip(reason)


def expect(what, ok, detail=""):
    """The assertion: WHAT is what should hold, DETAIL what to show when not."""
    if not ok:
        _failures.append((what, detail))
    return bool(ok)


def same(what, want, got):
    return expect(what, want == got, diff(want, got))


def has(what, text, line):
    line = line.rstrip("\n")
    return expect(what, has_line(text, line), "missing line: %s\n--- in:\n%s" % (line, text[:3000]))


def lacks(what, text, part):
    return expect(what, part not in text, "unexpected: %s" % part)


def has_line(text, line):
    """TEXT holds LINE as a whole line, or at the end of a line after a
    prompt's "> " (typed answers are not echoed to a redirected output)."""
    after_prompt = "> " + line
    return any(t == line or (len(t) > len(after_prompt) and t.endswith(after_prompt))
               for t in text.replace("\r", "").split("\n"))


def diff(want, got):
    """A unified diff of two texts, byte strings or lists, for a detail."""
    def lines(v):
        if isinstance(v, bytes):
            v = v.decode("utf-8", "backslashreplace")
        if isinstance(v, str):
            return [s.replace("\r", "␍") for s in v.split("\n")]
        if isinstance(v, (list, tuple)):
            return [x if isinstance(x, str) else repr(x) for x in v]
        return [repr(v)]
    if want == got:
        return ""
    return "\n".join(list(difflib.unified_diff(lines(want), lines(got), "want", "got", lineterm=""))[:40])


def _indent(text):
    return "".join("      " + line + "\n" for line in str(text).rstrip("\n").split("\n"))


def _select(args):
    names = [n for n, _ in CHECKS]
    if not args:
        return list(CHECKS)
    chosen = []
    for a in args:
        hit = [n for n in names if fnmatch.fnmatchcase(n, a)]
        if not hit:
            sys.exit("no check named %s (see --list)" % a)
        chosen += [n for n in hit if n not in chosen]
    return [(n, f) for n, f in CHECKS if n in chosen]


def main(argv, prepare):
    """PREPARE() sets the machine up once and returns (open_machine, close):
    open_machine(name) gives a check its machine, which has cleanup()."""
    global _failures
    if argv[:1] == ["--list"]:
        for name, _ in CHECKS:
            print(name)
        return 0
    chosen = _select(argv)
    open_machine, close = prepare()
    passed = failed = skipped = 0
    t_all = time.time()
    try:
        for name, fn in chosen:
            _failures = []
            t0 = time.time()
            status = None
            try:
                m = open_machine(name)
                try:
                    fn(m)
                finally:
                    m.cleanup()
            except Skip as e:
                status = "skip  %s (%s)" % (name, e)
            except Exception as e:
                tb = traceback.extract_tb(e.__traceback__)[-1]
                _failures.append(("ended by %s: %s" % (type(e).__name__, e),
                                  "at %s:%d" % (tb.filename.rsplit("/", 1)[-1], tb.lineno)))
            took = " %5.1f s" % (time.time() - t0)
            if status:
                skipped += 1
                print(status)
            elif _failures:
                failed += 1
                print("FAIL  %-52s%s" % (name, took))
                for what, detail in _failures:
                    print(_indent(what), end="")
                    if detail:
                        print(_indent(_indent(detail)), end="")
            else:
                passed += 1
                print("ok    %-52s%s" % (name, took))
            sys.stdout.flush()
    finally:
        close()
    print("== Wine checks took %d s" % (time.time() - t_all))
    print("%d passed, %d failed" % (passed, failed) + (", %d skipped" % skipped if skipped else ""))
    return 1 if failed else 0
