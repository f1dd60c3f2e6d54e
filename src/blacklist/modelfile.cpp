// The models file's text.
#include "blacklist/modelfile.h"

#include <cstring>

#include "base/text.h"
#include "blacklist/tsv.h"
#include "device/device.h"
#include "device/model.h"
#include "files/datafile.h"
#include "files/wholefile.h"
#include "sys/sys.h"

// The models this module owns (modelfile.h).
BlacklistModel g_mod[BL_MAX];
int g_nmod;

namespace {

const char HEADER[] = "# Quillfen 型号  (inst\\tmodel\\tok|shared|builtin|unknown)\r\n";

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
    char* field[3];
    if (tsv_split(line, field, 3) != 3) return 0;
    const char* verdict = field[2];
    if (!line[0] || !bl_storable(line, sizeof m->inst) || strlen(field[1]) >= sizeof m->model ||
        !model_text_ok(field[1]))
        return 0;
    for (int v = MODEL_OK; v <= MODEL_UNKNOWN; v++)
        if (strcmp(verdict, VERDICTS[v]) == 0) {
            scopy(m->inst, sizeof m->inst, line);
            scopy(m->model, sizeof m->model, field[1]);
            m->verdict = (model_verdict)v;
            return 1;
        }
    return 0;
}

// A line is bad: counted, the first one's number kept.
void bad_line(ModelRead* r, int lineno) {
    if (r->bad++ == 0 || lineno < r->first_bad) r->first_bad = lineno;
}

}  // namespace

const BlacklistModel* bl_model_of(const BlacklistEntry& e) {
    if (!e.byname || !e.inst[0]) return nullptr;
    for (int i = 0; i < g_nmod; i++)
        if (ieq_ascii(g_mod[i].inst, e.inst)) return &g_mod[i];
    return nullptr;
}

ModelRead model_parse(const char* data, size_t n, BlacklistModel* t, int max) {
    // A line and each model's line number: static, as they are 2.4 KB and more.
    static char line[sizeof(BlacklistModel::inst) + sizeof(BlacklistModel::model) + 16];
    static int at[BL_MAX];
    ModelRead r{0, 0, 0};
    tsv_lines l;
    tsv_lines_start(&l, data, n);
    while (tsv_line(&l, line, sizeof line)) {
        if (l.overlong) {
            bad_line(&r, l.lineno);
        } else if (!tsv_skipped(line)) {
            // Past the table: more models than entries can have, so not ours.
            if (r.n < max && r.n < BL_MAX && parse_model(line, &t[r.n])) at[r.n++] = l.lineno;
            else bad_line(&r, l.lineno);
        }
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

int model_put_into(BlacklistModel* t, int* n, const BlacklistModel& m) {
    int i = 0;
    while (i < *n && !ieq_ascii(t[i].inst, m.inst)) i++;
    if (i == BL_MAX) return 0;
    int changed = i == *n || strcmp(t[i].model, m.model) != 0 || t[i].verdict != m.verdict;
    t[i] = m;
    if (i == *n) ++*n;
    return changed;
}

namespace {

// The models as the current step read and changed them, and the file's
// bytes: static, as they are 150 KB and 256 KB (a file of 64 models is
// about 155 KB).
BlacklistModel g_work[BL_MAX];
int g_nwork;
char g_bytes[256 * 1024];

// What the step knows of the file. Only by-name entries have models, and
// most tables have none: it is read only for a table with one, or for a
// model being kept.
struct Models {
    enum { UNREAD, READ, UNREADABLE, BAD } state;
    ModelRead read;
    int changed;
    const char16_t* path;
    const char16_t* tmp;
};
Models g_m;

int write_work(void) {
    size_t n = model_format(g_work, g_nwork, g_bytes, sizeof g_bytes);
    if (whole_file_write(g_m.path, g_m.tmp, g_bytes, n)) {
        g_m.changed = 0;
        return 1;
    }
    g_nwork = 0;
    models_read();  // what the file holds now
    return 0;
}

}  // namespace

bl_models bl_models_last(int* bad, int* first) {
    *bad = g_m.read.bad;
    *first = g_m.read.first_bad;
    return g_m.state == Models::UNREADABLE ? BL_MODELS_UNREADABLE
         : g_m.state == Models::BAD        ? BL_MODELS_BAD_LINES
                                           : BL_MODELS_OK;
}

void models_begin(const char16_t* path, const char16_t* tmp) {
    g_m = Models{Models::UNREAD, ModelRead{0, 0, 0}, 0, path, tmp};
    g_nwork = 0;
}

void models_read(void) {
    g_m.state = Models::UNREADABLE;
    g_m.read = ModelRead{0, 0, 0};
    g_nwork = 0;
    size_t n;
    sys_read r = whole_file_read(g_m.path, g_bytes, sizeof g_bytes, &n);
    if (r == SYS_READ_MISSING) g_m.state = Models::READ;  // a missing file holds none
    if (r != SYS_READ_OK) return;
    g_m.read = model_parse(g_bytes, n, g_work, BL_MAX);
    g_nwork = g_m.read.n;
    g_m.state = g_m.read.bad ? Models::BAD : Models::READ;
}

int models_put(const BlacklistModel& m) {
    if (g_m.state == Models::UNREAD) models_read();
    if (g_m.state != Models::READ) return 0;  // never written over
    g_m.changed |= model_put_into(g_work, &g_nwork, m);
    return 1;
}

int models_save(const BlacklistEntry* t, int n) {
    if (g_m.state != Models::READ) return 1;  // unread: nothing to keep; unreadable: left as it is
    int w = 0;
    for (int i = 0; i < g_nwork; i++) {
        int held = 0;
        for (int k = 0; k < n && !held; k++) held = ieq_ascii(t[k].inst, g_work[i].inst);
        if (held) g_work[w++] = g_work[i];
    }
    g_m.changed |= w != g_nwork;
    g_nwork = w;
    return models_save_puts();
}

int models_save_puts(void) {
    if (g_m.state != Models::READ || !g_m.changed) return 1;
    return write_work();
}

const BlacklistModel* models_work(int* n) {
    *n = g_nwork;
    return g_work;
}

int models_untold(void) { return g_m.state == Models::UNREADABLE || g_m.state == Models::BAD; }

void models_publish(void) {
    for (int i = 0; i < g_nwork; i++) g_mod[i] = g_work[i];
    g_nmod = g_nwork;
}
