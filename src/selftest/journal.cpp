// The journal file: UTF-8 lines of TAB-separated fields, each field with
// its backslashes, TABs and line ends escaped.
#include "selftest/journal.h"

#include <initializer_list>

#include "selftest/keys.h"
#include "sys/sys.h"

namespace {

const char HEAD[] = "quillfen-selftest journal 1";
const char* const TYPES[] = {"sz", "expand", "dword"};  // in the order of sys_reg_type

// Appends `s` escaped to out at *n; 0 when it did not fit whole.
int put_field(char* out, size_t size, size_t* n, const char* s) {
    for (; *s; s++) {
        if (*n + 3 > size) return 0;
        char e = *s == '\\' ? '\\' : *s == '\t' ? 't' : *s == '\n' ? 'n' : *s == '\r' ? 'r' : 0;
        if (e) out[(*n)++] = '\\', out[(*n)++] = e;
        else out[(*n)++] = *s;
    }
    return 1;
}

// A line of fields; 0 when it does not fit (a cut value would be put back cut).
int line_of(char* out, size_t size, std::initializer_list<const char*> fields) {
    size_t n = 0;
    for (const char* f : fields) {
        if (n && n + 1 < size) out[n++] = '\t';
        if (!put_field(out, size, &n, f)) return 0;
    }
    if (n + 2 > size) return 0;
    out[n++] = '\n';
    out[n] = 0;
    return 1;
}

int append(const char16_t* path, std::initializer_list<const char*> fields) {
    static char line[8192];
    return line_of(line, sizeof line, fields) && sys_file_append(path, line, (uint32_t)strlen(line));
}

// Splits a read line into unescaped fields, in place.
int fields_of(char* line, char** field, int max) {
    int nf = 0;
    field[nf++] = line;
    char* w = line;
    for (char* r = line; *r; r++) {
        if (*r == '\t' && nf < max) {
            *w++ = 0;
            field[nf++] = w;
        } else if (*r == '\\' && r[1]) {
            r++;
            *w++ = *r == 't' ? '\t' : *r == 'n' ? '\n' : *r == 'r' ? '\r' : *r;
        } else {
            *w++ = *r;
        }
    }
    *w = 0;
    return nf;
}

void take_line(char* line, Journal* j, int* head_seen) {
    char* f[5];
    int nf = fields_of(line, f, 5);
    if (!*head_seen) {
        *head_seen = strcmp(f[0], HEAD) == 0 ? 1 : -1;
    } else if (nf == 2 && strcmp(f[0], "nonce") == 0) {
        scopy(j->nonce, sizeof j->nonce, f[1]);
    } else if (nf == 2 && strcmp(f[0], "audit") == 0) {
        j->audit = f[1][0] == '-' ? -1 : (int)parse_int(f[1], 0, 3);
    } else if (nf == 5 && strcmp(f[0], "value") == 0) {
        for (int t = 0; t < 3; t++)
            if (strcmp(f[3], TYPES[t]) == 0) (void)saved_value(f[1], f[2], (sys_reg_type)t, f[4]);
    } else if (nf == 2 && strcmp(f[0], "key") == 0) {
        (void)saved_key(f[1]);
    } else if (nf == 1 && strcmp(f[0], "saved") == 0) {
        j->whole = 1;
    } else if (nf == 2 && strcmp(f[0], "task") == 0) {
        j->task_ours = strcmp(f[1], "ours") == 0;
    } else if (nf == 3 && strcmp(f[0], "lifted") == 0) {
        for (int i = 0; i < j->nrules; i++) {
            if (strcmp(j->rules[i].kind, f[1]) != 0 || strcmp(j->rules[i].text, f[2]) != 0) continue;
            for (j->nrules--; i < j->nrules; i++) j->rules[i] = j->rules[i + 1];
            break;
        }
    } else if (nf == 2 && j->nrules < (int)countof(j->rules) && strcmp(f[0], "device") != 0) {
        scopy(j->rules[j->nrules].kind, sizeof j->rules[0].kind, f[0]);
        scopy(j->rules[j->nrules++].text, sizeof j->rules[0].text, f[1]);
    }
}

}  // namespace

int journal_begin(const char16_t* path, const char* nonce, int audit) {
    static char head[256];
    char setting[8];
    fmt(setting, sizeof setting, "%d", audit);
    size_t n = fmt(head, sizeof head, "%s\n", HEAD);
    (void)line_of(head + n, sizeof head - n, {"nonce", nonce});
    n = strlen(head);
    (void)line_of(head + n, sizeof head - n, {"audit", audit < 0 ? "-" : setting});
    // Created, never opened where one stands: that one's run is not undone yet.
    if (!sys_file_create(path, head, (uint32_t)strlen(head))) return 0;
    const Tree& saved = trees_saved();
    for (int i = 0; i < saved.nkeys; i++)
        if (!append(path, {"key", saved.keys[i]})) return 0;
    for (int i = 0; i < saved.n; i++) {
        const TreeValue& v = saved.v[i];
        if (!append(path, {"value", v.key, v.name, TYPES[v.type], v.data})) return 0;
    }
    return append(path, {"saved"});
}

int journal_note(const char16_t* path, const char* kind, const char* text) { return append(path, {kind, text}); }

int journal_lifted(const char16_t* path, const char* kind, const char* text) {
    return append(path, {"lifted", kind, text});
}

int journal_read(const char16_t* path, Journal* j) {
    *j = Journal{};
    j->audit = -1;
    trees_forget();
    sys_read r;
    sys_file* f = sys_file_open(path, &r);
    if (!f) return r == SYS_READ_MISSING ? 0 : -1;
    static char chunk[4096], line[8192];
    size_t n = 0;
    int head_seen = 0, ok = 1;
    uint32_t got;
    while (ok && (ok = sys_file_next(f, chunk, sizeof chunk, &got)) && got)
        for (uint32_t i = 0; i < got; i++) {
            if (chunk[i] != '\n') {
                if (n + 1 < sizeof line) line[n++] = chunk[i];
                continue;
            }
            line[n] = 0;
            n = 0;
            take_line(line, j, &head_seen);
        }
    sys_file_close(f);
    // A line cut short by a crash is no line.
    return ok && head_seen == 1 ? 1 : -1;
}
