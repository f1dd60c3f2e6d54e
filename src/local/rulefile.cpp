// The rules file's text.
#include "local/rulefile.h"

#include <cstring>

#include "base/text.h"
#include "local/tsv.h"
#include "device/device.h"
#include "device/model.h"
#include "local/sidefile.h"
#include "local/table.h"
#include "rules/rules.h"
#include "sys/sys.h"

const char* const RULE_KIND_TEXT[RULE_KINDS] = {"model", "approve-model", "approve-id"};

namespace {

const char HEADER[] = "# Quillfen 规则  (until\\tkind\\tid\\tblock\\tname)\r\n";
// The block's verdicts as the file spells them, by model_verdict; "-" for
// an approval, which blocks nothing.
const char* const VERDICTS[] = {"-", "ok", "shared", "builtin", "unknown", nullptr};

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

// A hand-edited file may name a rule twice, letter case aside: one rule,
// counted once, in force as long as the longer of the two, with the first
// name given.
int merged(Rule* t, int n, const Rule& r) {
    for (int i = 0; i < n; i++) {
        Rule& old = t[i];
        if (old.kind != r.kind || !ieq_ascii(old.id, r.id)) continue;
        if (r.until > old.until) {
            old.until = r.until;
            old.verdict = r.verdict;
        }
        if (!old.name[0]) scopy(old.name, sizeof old.name, r.name);
        return 1;
    }
    return 0;
}

}  // namespace

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
            if (merged(t, r.n, r.n < max ? t[r.n] : past)) continue;
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
SideFile g_file;

}  // namespace

void rules_forget(void) {
    side_begin(&g_file, nullptr, nullptr);
    g_file.state = SideFile::UNREADABLE;
    g_nwork = 0;
}

void rules_read(const char16_t* path, const char16_t* tmp) {
    side_begin(&g_file, path, tmp);
    g_nwork = 0;
    size_t n;
    if (!side_read(&g_file, g_bytes, sizeof g_bytes, &n)) return;
    RuleRead r = rule_parse(g_bytes, n, g_work, RULES_MAX);
    g_nwork = r.n;
    side_parsed(&g_file, r.bad, r.first_bad, r.total > RULES_MAX);
}

int rules_put(const Rule& r, int* what, Rule* after, int* full) {
    *full = 0;
    if (!side_may_write(&g_file)) return 0;
    for (int i = 0; i < g_nwork; i++) {
        Rule& old = g_work[i];
        if (old.kind != r.kind || !ieq_ascii(old.id, r.id)) continue;
        int renamed;
        *what = rule_merge(old, r, &renamed);
        *after = old;
        g_file.changed |= *what || renamed;
        return 1;
    }
    if (g_nwork == RULES_MAX) {
        *full = 1;
        return 0;
    }
    g_work[g_nwork++] = r;
    *what = 2;
    *after = r;
    g_file.changed = 1;
    return 1;
}

int rules_remove(rule_kind kind, const char* id, Rule* gone) {
    if (!side_may_write(&g_file)) return -1;
    int w = 0, n = 0;
    for (int i = 0; i < g_nwork; i++) {
        if (g_work[i].kind == kind && (!id || ieq_ascii(g_work[i].id, id))) gone[n++] = g_work[i];
        else g_work[w++] = g_work[i];
    }
    g_file.changed |= n > 0;
    g_nwork = w;
    return n;
}

int rules_drop_expired(int64_t now, Rule* ended) {
    if (!side_may_write(&g_file)) return 0;
    int w = 0, gone = 0;
    for (int i = 0; i < g_nwork; i++)
        if (rule_in_force(g_work[i].until, now)) g_work[w++] = g_work[i];
        else ended[gone++] = g_work[i];
    g_nwork = w;
    g_file.changed |= gone > 0;
    return gone;
}

int rules_save(void) {
    if (!side_may_write(&g_file) || !g_file.changed) return 1;
    size_t n = rule_format(g_work, g_nwork, g_bytes, sizeof g_bytes);
    if (side_write(&g_file, g_bytes, n)) return 1;
    rules_read(g_file.path, g_file.tmp);  // what the file holds now
    return 0;
}

const Rule* rules_work(int* n) {
    *n = g_nwork;
    return g_work;
}

SourceRead rules_source(void) { return side_source(&g_file); }
