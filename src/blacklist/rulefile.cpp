// The rules file's text.
#include "blacklist/rulefile.h"

#include <cstring>

#include "base/text.h"
#include "blacklist/tsv.h"
#include "device/device.h"
#include "device/model.h"

Rule g_rules[RULES_MAX];
int g_nrules;

const char* const RULE_KIND_TEXT[RULE_KINDS] = {"model", "approve-model", "approve-id"};

namespace {

const char HEADER[] = "# Quillfen 规则  (until\\tkind\\tid\\tname)\r\n";
const char BOM[] = "\xEF\xBB\xBF";
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

int is_number(const char* s) {
    if (*s == '-') s++;
    if (!*s) return 0;
    for (; *s; s++)
        if (*s < '0' || *s > '9') return 0;
    return 1;
}

// One line, terminated, without its line end; 1 when it gave a rule.
int parse_rule(char* line, Rule* r) {
    char* field[4];
    int n = 0;
    field[n++] = line;
    for (char* p = line; *p; p++) {
        if (*p != '\t') continue;
        if (n == 4) return 0;
        *p = 0;
        field[n++] = p + 1;
    }
    if (n != 4 || !is_number(field[0])) return 0;
    int kind = 0;
    while (kind < RULE_KINDS && strcmp(field[1], RULE_KIND_TEXT[kind]) != 0) kind++;
    if (kind == RULE_KINDS) return 0;
    int ok = kind == RULE_APPROVE_ID ? rule_instance_ok(field[2]) : rule_model_ok(field[2]);
    if (!ok || !bl_storable(field[3], sizeof r->name)) return 0;
    r->kind = (rule_kind)kind;
    r->until = parse_int(field[0], INT64_MIN, INT64_MAX);
    scopy(r->id, sizeof r->id, field[2]);
    scopy(r->name, sizeof r->name, field[3]);
    lower_ascii(r->name);
    return 1;
}

int blank(const char* s) {
    for (; *s; s++)
        if (*s != ' ' && *s != '\t') return 0;
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
    return id_text_ok(id) && id[0] != '\\' && id[n - 1] != '\\' && strchr(id, '\\');
}

RuleRead rule_parse(const char* data, size_t n, Rule* t, int max) {
    // A line: static, as it is 1 KB and more.
    static char line[1024];
    static Rule past;  // a rule beyond the table: counted, not kept
    RuleRead r{0, 0, 0, 0};
    size_t i = n >= 3 && memcmp(data, BOM, 3) == 0 ? 3 : 0;
    size_t k = 0;
    int overlong = 0, lineno = 1;
    for (; i <= n; i++) {
        char c = i < n ? data[i] : '\n';
        if (c != '\n' && c != '\r') {
            if (k + 1 < sizeof line) line[k++] = c;
            else overlong = 1;
            continue;
        }
        if (c == '\r' && i + 1 < n && data[i + 1] == '\n') i++;
        line[k] = 0;
        if (overlong || (!blank(line) && line[0] != '#')) {
            if (!overlong && parse_rule(line, r.n < max ? &t[r.n] : &past)) {
                if (r.n < max) r.n++;
                r.total++;
            } else if (r.bad++ == 0) {
                r.first_bad = lineno;
            }
        }
        k = 0;
        overlong = 0;
        lineno++;
    }
    return r;
}

size_t rule_format(const Rule* t, int n, char* out, size_t size) {
    size_t len = sizeof HEADER - 1;
    if (size < len) return 0;
    memcpy(out, HEADER, len);
    for (int i = 0; i < n; i++) {
        size_t k = fmt(out + len, size - len, "%lld\t%s\t%s\t%s\r\n", (long long)t[i].until, RULE_KIND_TEXT[t[i].kind],
                       t[i].id, t[i].name);
        if (len + k + 1 >= size) return 0;
        len += k;
    }
    return len;
}
