// The rules file's text.
#include "blacklist/rulefile.h"

#include <cstring>

#include "base/text.h"
#include "blacklist/tsv.h"
#include "device/device.h"
#include "device/model.h"
#include "files/wholefile.h"
#include "sys/sys.h"

Rule g_rules[RULES_MAX];
int g_nrules;

const char* const RULE_KIND_TEXT[RULE_KINDS] = {"model", "approve-model", "approve-id"};

namespace {

const char HEADER[] = "# Quillfen 规则  (until\\tkind\\tid\\tblock\\tname)\r\n";
// The block's verdicts as the file spells them, by model_verdict; "-" for
// an approval, which blocks nothing.
const char* const VERDICTS[] = {"-", "ok", "shared", "builtin", "unknown", nullptr};
constexpr size_t ID_CHARS = sizeof(Rule::id) - 1;

// What every id of a rule is: printable ASCII within its bounds, with no
// space at either end (Windows would match the spaces too).
int id_text_ok(const char* id) {
    size_t n = strlen(id);
    if (n == 0 || n > ID_CHARS || id[0] == ' ' || id[n - 1] == ' ') return 0;
    for (size_t i = 0; i < n; i++)
        if ((unsigned char)id[i] < 0x20 || (unsigned char)id[i] > 0x7E) return 0;
    return 1;
}

// One line, terminated, without its line end; 1 when it gave a rule.
int parse_rule(char* line, Rule* r) {
    char* field[5];
    if (tsv_split(line, field, 5) != 5 || !tsv_number(field[0])) return 0;
    int kind = 0;
    while (kind < RULE_KINDS && strcmp(field[1], RULE_KIND_TEXT[kind]) != 0) kind++;
    if (kind == RULE_KINDS) return 0;
    int ok = kind == RULE_APPROVE_ID ? rule_instance_ok(field[2]) : rule_model_ok(field[2]);
    // A model kept off has a verdict; an approval blocks nothing.
    int verdict = kind == RULE_MODEL ? MODEL_OK : MODEL_NONE;
    int last = kind == RULE_MODEL ? MODEL_UNKNOWN : MODEL_NONE;
    while (verdict <= last && strcmp(field[3], VERDICTS[verdict]) != 0) verdict++;
    if (!ok || verdict > last || !bl_storable(field[4], sizeof r->name)) return 0;
    r->kind = (rule_kind)kind;
    r->until = parse_int(field[0], INT64_MIN, INT64_MAX);
    r->verdict = (model_verdict)verdict;
    scopy(r->id, sizeof r->id, field[2]);
    scopy(r->name, sizeof r->name, field[4]);
    lower_ascii(r->name);
    return 1;
}

}  // namespace

int rule_model_ok(const char* id) {
    if (!id_text_ok(id)) return 0;
    char16_t w[sizeof(Rule::id)];
    utf16(id, w, countof(w));
    return names_a_model(w);
}

int rule_instance_ok(const char* id) {
    size_t n = strlen(id);
    // Enumerator, device id and instance: a device id alone (one '\\')
    // names a model, not a unit.
    const char* first = strchr(id, '\\');
    return id_text_ok(id) && id[0] != '\\' && id[n - 1] != '\\' && first && strchr(first + 1, '\\');
}

RuleRead rule_parse(const char* data, size_t n, Rule* t, int max) {
    // A line: static, as it is 1 KB and more.
    static char line[1024];
    static Rule past;  // a rule beyond the table: counted, not kept
    RuleRead r{0, 0, 0, 0};
    tsv_lines l;
    tsv_lines_start(&l, data, n);
    while (tsv_line(&l, line, sizeof line)) {
        if (!l.overlong && tsv_skipped(line)) continue;
        if (!l.overlong && parse_rule(line, r.n < max ? &t[r.n] : &past)) {
            if (r.n < max) r.n++;
            r.total++;
        } else if (r.bad++ == 0) {
            r.first_bad = l.lineno;
        }
    }
    return r;
}

size_t rule_format(const Rule* t, int n, char* out, size_t size) {
    size_t len = sizeof HEADER - 1;
    if (size < len) return 0;
    memcpy(out, HEADER, len);
    for (int i = 0; i < n; i++) {
        size_t k = fmt(out + len, size - len, "%lld\t%s\t%s\t%s\t%s\r\n", (long long)t[i].until,
                       RULE_KIND_TEXT[t[i].kind], t[i].id, VERDICTS[t[i].verdict], t[i].name);
        if (len + k + 1 >= size) return 0;
        len += k;
    }
    return len;
}

namespace {

// The rules as the current step read and changed them, and the file's
// bytes: static, as they are 52 KB and 256 KB.
Rule g_work[RULES_MAX];
int g_nwork;
char g_bytes[256 * 1024];

// What the step knows of the file: read in every step, as a rule by model
// needs no entry of the blacklist to be in force.
struct Rules {
    enum { READ, UNREADABLE, BAD, OVERFULL } state;
    RuleRead read;
    int changed;
    const char16_t* path;
    const char16_t* tmp;
};
Rules g_r;

int may_write(void) { return g_r.state == Rules::READ; }

}  // namespace

bl_rules bl_rules_last(int* bad, int* first) {
    *bad = g_r.read.bad;
    *first = g_r.read.first_bad;
    return g_r.state == Rules::UNREADABLE ? BL_RULES_UNREADABLE
         : g_r.state == Rules::BAD        ? BL_RULES_BAD_LINES
         : g_r.state == Rules::OVERFULL   ? BL_RULES_OVERFULL
                                          : BL_RULES_OK;
}

void rules_forget(void) {
    g_r = Rules{Rules::UNREADABLE, RuleRead{0, 0, 0, 0}, 0, nullptr, nullptr};
    g_nwork = 0;
}

void rules_read(const char16_t* path, const char16_t* tmp) {
    g_r = Rules{Rules::UNREADABLE, RuleRead{0, 0, 0, 0}, 0, path, tmp};
    g_nwork = 0;
    size_t n;
    sys_read r = whole_file_read(path, g_bytes, sizeof g_bytes, &n);
    if (r == SYS_READ_MISSING) g_r.state = Rules::READ;  // a missing file holds none
    if (r != SYS_READ_OK) return;
    g_r.read = rule_parse(g_bytes, n, g_work, RULES_MAX);
    g_nwork = g_r.read.n;
    g_r.state = g_r.read.bad ? Rules::BAD : g_r.read.total > RULES_MAX ? Rules::OVERFULL : Rules::READ;
}

int rules_put(const Rule& r, int* what, Rule* after, int* full) {
    *full = 0;
    if (!may_write()) return 0;
    for (int i = 0; i < g_nwork; i++) {
        Rule& old = g_work[i];
        if (old.kind != r.kind || !ieq_ascii(old.id, r.id)) continue;
        int changed = r.until > old.until || (r.kind == RULE_MODEL && r.verdict != old.verdict);
        if (r.until > old.until) old.until = r.until;
        old.verdict = r.verdict;
        *what = changed ? 1 : 0;
        *after = old;
        g_r.changed |= changed;
        return 1;
    }
    if (g_nwork == RULES_MAX) {
        *full = 1;
        return 0;
    }
    g_work[g_nwork++] = r;
    *what = 2;
    *after = r;
    g_r.changed = 1;
    return 1;
}

int rules_remove(rule_kind kind, const char* id, Rule* gone) {
    if (!may_write()) return -1;
    int w = 0, n = 0;
    for (int i = 0; i < g_nwork; i++) {
        if (g_work[i].kind == kind && (!id || ieq_ascii(g_work[i].id, id))) gone[n++] = g_work[i];
        else g_work[w++] = g_work[i];
    }
    g_r.changed |= n > 0;
    g_nwork = w;
    return n;
}

int rules_drop_expired(int64_t now) {
    if (!may_write()) return 0;
    int w = 0;
    for (int i = 0; i < g_nwork; i++)
        if (now < g_work[i].until) g_work[w++] = g_work[i];
    int gone = g_nwork - w;
    g_nwork = w;
    g_r.changed |= gone > 0;
    return gone;
}

int rules_save(void) {
    if (!may_write() || !g_r.changed) return 1;
    size_t n = rule_format(g_work, g_nwork, g_bytes, sizeof g_bytes);
    if (whole_file_write(g_r.path, g_r.tmp, g_bytes, n)) {
        g_r.changed = 0;
        return 1;
    }
    rules_read(g_r.path, g_r.tmp);  // what the file holds now
    return 0;
}

const Rule* rules_work(int* n) {
    *n = g_nwork;
    return g_work;
}

int rules_untold(void) { return g_r.state != Rules::READ; }

void rules_publish(void) {
    for (int i = 0; i < g_nwork; i++) g_rules[i] = g_work[i];
    g_nrules = g_nwork;
}
