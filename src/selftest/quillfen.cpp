// Running the tested copy and reading its documents.
#include "selftest/quillfen.h"

#include "files/wholefile.h"
#include "proc/run.h"
#include "selftest/report.h"
#include "sys/sys.h"

namespace {

constexpr char OUTPUT_FILE[] = "quillfen-selftest.out";
// A pass over every device record, with a program of its own stopped at
// 30 s, stays well inside this.
constexpr uint32_t RUN_TIMEOUT_MS = 180000;

// Large enough for --blist --json with every rule of a full policy.
char g_output[1 << 20];

void read_output(const char16_t* path) {
    size_t n;
    (void)whole_file_read(path, g_output, sizeof g_output - 1, &n);  // what was read, even of one too long
    g_output[n] = 0;
}

}  // namespace

int tested_at(Tested* t, const char16_t* exe) {
    size_t n = wlen(exe), cut = n;
    while (cut > 0 && exe[cut - 1] != u'\\' && exe[cut - 1] != u'/') cut--;
    if (cut == 0 || n + 1 > countof(t->exe)) return 0;
    wcopy(t->exe, countof(t->exe), exe);
    wcopy_zero(t->dir, exe, cut);
    t->dir[cut] = 0;
    utf8(exe, t->exe8, sizeof t->exe8);
    return 1;
}

int tested_file(const Tested& t, const char* name, char16_t* out, size_t units) {
    wcopy(out, units, t.dir);
    wcat8(out, units, name);
    char16_t tail[64];
    utf16(name, tail, countof(tail));
    size_t n = wlen(out), k = wlen(tail);
    return n >= k && wicmp(out + n - k, tail) == 0;  // cut short, it would name another file
}

int qf_run(const Tested& t, std::initializer_list<const char*> args) {
    static char16_t line[RUN_LINE_UNITS], arg[2048], out[PATH_UNITS];
    static char shown[2048];
    line[0] = 0;
    size_t n = fmt(shown, sizeof shown, "$ quillfen");
    int fits = add_arg(line, countof(line), t.exe);
    for (const char* a : args) {
        utf16(a, arg, countof(arg));
        wcat8(line, countof(line), " ");
        fits &= add_arg(line, countof(line), arg);
        n += fmt(shown + n, sizeof shown - n, " %s", a);
    }
    g_output[0] = 0;
    if (!fits || !tested_file(t, OUTPUT_FILE, out, countof(out))) {
        say("%s: the command line does not fit", shown);
        return -1;
    }
    int code = 0;
    sys_run_result r = sys_run_output(t.exe, line, t.dir, RUN_TIMEOUT_MS, &code, out);
    if (r != SYS_RUN_EXITED) {
        say("%s: %s", shown, r == SYS_RUN_TIMEOUT ? "stopped after 180 s" : "did not start");
        return -1;
    }
    read_output(out);
    say("%s: exit %d", shown, code);
    // What it said of a failure, for the reader of the log; a document is
    // read by the step that asked for it.
    if (code != 0 && !strstr(shown, "--json")) {
        static char line[512];
        const char* p = g_output;
        for (int n = 0; *p && n < 12; n++) {
            size_t k = strcspn(p, "\r\n");
            scopy(line, k + 1 < sizeof line ? k + 1 : sizeof line, p);
            say("| %s", line);
            p += k;
            p += *p == '\r';
            p += *p == '\n';
        }
    }
    return code;
}

const char* qf_output(void) { return g_output; }

int qf_lift(const Tested& t, const char* kind, const char* text) {
    int approval = strcmp(kind, "approve") == 0;
    const char* option = strcmp(kind, "model") == 0 ? "--model" : strcmp(kind, "name") == 0 ? "--name" : "--id";
    return qf_run(t, {approval ? "--unapprove" : "--unblacklist", option, text});
}

int qf_task_installed(const Tested& t) {
    int code = qf_run(t, {"--check", "--json"});
    int installed = peek_bool(g_output, g_output + strlen(g_output), "task_installed");
    return code < 0 ? -1 : installed;
}

void qf_forget_output(const Tested& t) {
    char16_t out[PATH_UNITS];
    if (tested_file(t, OUTPUT_FILE, out, countof(out))) (void)sys_file_delete(out);
}

namespace {

// Past the JSON string starting at its opening quote.
const char* skip_string(const char* p) {
    for (p++; *p && *p != '"'; p++)
        if (*p == '\\' && p[1]) p++;
    return *p ? p + 1 : p;
}

// Whether the JSON string at p (its opening quote) reads as `want`, A-Z
// taken as a-z; the escapes Quillfen writes for ASCII undone.
int string_is(const char* p, const char* want) {
    for (p++; *p && *p != '"'; p++, want++) {
        char c = *p;
        if (c == '\\' && p[1]) c = *++p;
        char a = c >= 'A' && c <= 'Z' ? (char)(c + 32) : c;
        char b = *want >= 'A' && *want <= 'Z' ? (char)(*want + 32) : *want;
        if (!*want || a != b) return 0;
    }
    return *p == '"' && !*want;
}

// The end of the object or array opening at p.
const char* close_of(const char* p) {
    int depth = 0;
    for (; *p; p++) {
        if (*p == '"') p = skip_string(p) - 1;
        else if (*p == '{' || *p == '[') depth++;
        else if ((*p == '}' || *p == ']') && --depth == 0) return p + 1;
    }
    return p;
}

// The value of "key": directly inside [obj, end), or nullptr.
const char* member(const char* obj, const char* end, const char* key) {
    int depth = 0;
    for (const char* p = obj; p < end && *p; p++) {
        if (*p == '{' || *p == '[') depth++;
        else if (*p == '}' || *p == ']') depth--;
        else if (*p == '"') {
            const char* after = skip_string(p);
            if (depth == 1 && *after == ':' && string_is(p, key)) return after + 1;
            p = after - 1;
        }
    }
    return nullptr;
}

}  // namespace

const char* peek_object(const char* doc, const char* key, const char* value, const char** end) {
    const char* open[32];
    int depth = 0;
    for (const char* p = doc; *p; p++) {
        if (*p == '{' || *p == '[') {
            if (depth < (int)countof(open)) open[depth] = p;
            depth++;
        } else if (*p == '}' || *p == ']') {
            depth--;
        } else if (*p == '"') {
            const char* after = skip_string(p);
            if (*after == ':' && after[1] == '"' && string_is(p, key) && string_is(after + 1, value) && depth > 0 &&
                depth <= (int)countof(open) && *open[depth - 1] == '{') {
                *end = close_of(open[depth - 1]);
                return open[depth - 1];
            }
            p = after - 1;
        }
    }
    return nullptr;
}

int peek_bool(const char* obj, const char* end, const char* key) {
    const char* v = member(obj, end, key);
    if (v && strncmp(v, "true", 4) == 0) return 1;
    if (v && strncmp(v, "false", 5) == 0) return 0;
    return -1;
}

int peek_text(const char* obj, const char* end, const char* key, char* out, size_t size) {
    if (size) out[0] = 0;
    const char* v = member(obj, end, key);
    if (!v) return -1;
    if (*v != '"') return strncmp(v, "null", 4) == 0 ? 0 : -1;
    size_t n = 0;
    for (const char* p = v + 1; *p && *p != '"' && n + 1 < size; p++) out[n++] = *p == '\\' && p[1] ? *++p : *p;
    out[n] = 0;
    return 1;
}
