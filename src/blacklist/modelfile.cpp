// The models file's text.
#include "blacklist/modelfile.h"

#include <cstring>

#include "base/text.h"
#include "device/device.h"
#include "device/model.h"

BlacklistModel g_mod[BL_MAX];
int g_mn;

namespace {

const char HEADER[] = "# Quillfen 型号  (inst\\tmodel\\tok|shared|builtin|unknown)\r\n";
const char BOM[] = "\xEF\xBB\xBF";

// The verdicts as the file spells them, by model_verdict.
const char* const VERDICTS[] = {nullptr, "ok", "shared", "builtin", "unknown", nullptr};

// A model id as the choice of it allows: whole, with no space around it
// (Windows would match the spaces too), and naming vendor and product.
int model_text_ok(const char* text) {
    size_t n = strlen(text);
    if (!n || text[0] == ' ' || text[n - 1] == ' ') return 0;
    char16_t id[INST_UNITS];
    return utf16(text, id, countof(id)) + 1 < countof(id) && names_a_model(id);
}

// One line, terminated, without its line end.
int parse_model(char* line, BlacklistModel* m) {
    char* tab1 = strchr(line, '\t');
    char* tab2 = tab1 ? strchr(tab1 + 1, '\t') : nullptr;
    if (!tab2 || strchr(tab2 + 1, '\t')) return 0;
    *tab1 = *tab2 = 0;
    const char* verdict = tab2 + 1;
    if (!line[0] || !bl_storable(line, sizeof m->inst) || strlen(tab1 + 1) >= sizeof m->model ||
        !model_text_ok(tab1 + 1))
        return 0;
    for (int v = MODEL_OK; v <= MODEL_UNKNOWN; v++)
        if (strcmp(verdict, VERDICTS[v]) == 0) {
            scopy(m->inst, sizeof m->inst, line);
            scopy(m->model, sizeof m->model, tab1 + 1);
            m->verdict = (model_verdict)v;
            return 1;
        }
    return 0;
}

int blank(const char* s) {
    for (; *s; s++)
        if (*s != ' ' && *s != '\t') return 0;
    return 1;
}

// A line is bad: counted, the first one's number kept.
void bad_line(ModelRead* r, int lineno) {
    if (r->bad++ == 0 || lineno < r->first_bad) r->first_bad = lineno;
}

}  // namespace

const BlacklistModel* bl_model_of(const BlacklistEntry& e) {
    if (!e.byname || !e.inst[0]) return nullptr;
    for (int i = 0; i < g_mn; i++)
        if (ieq_ascii(g_mod[i].inst, e.inst)) return &g_mod[i];
    return nullptr;
}

ModelRead model_parse(const char* data, size_t n, BlacklistModel* t, int max) {
    // A line and each model's line number: static, as they are 2.4 KB and more.
    static char line[sizeof(BlacklistModel::inst) + sizeof(BlacklistModel::model) + 16];
    static int at[BL_MAX];
    ModelRead r{0, 0, 0};
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
        if (overlong) {
            bad_line(&r, lineno);
        } else if (!blank(line) && line[0] != '#') {
            // Past the table: more models than entries can have, so not ours.
            if (r.n < max && r.n < BL_MAX && parse_model(line, &t[r.n])) at[r.n++] = lineno;
            else bad_line(&r, lineno);
        }
        k = 0;
        overlong = 0;
        lineno++;
    }
    // One instance id, two models: neither line is a choice to make for the
    // administrator who wrote them.
    int w = 0;
    for (int a = 0; a < r.n; a++) {
        int twice = 0;
        for (int b = 0; b < r.n && !twice; b++) twice = a != b && ieq_ascii(t[a].inst, t[b].inst);
        if (twice) {
            bad_line(&r, at[a]);
        } else {
            at[w] = at[a];
            t[w++] = t[a];
        }
    }
    r.n = w;
    return r;
}

size_t model_format(const BlacklistModel* t, int n, char* out, size_t size) {
    size_t len = sizeof HEADER - 1;
    if (size < len) return 0;
    memcpy(out, HEADER, len);
    for (int i = 0; i < n; i++) {
        size_t k = fmt(out + len, size - len, "%s\t%s\t%s\r\n", t[i].inst, t[i].model, VERDICTS[t[i].verdict]);
        if (len + k + 1 >= size) return 0;
        len += k;
    }
    return len;
}
