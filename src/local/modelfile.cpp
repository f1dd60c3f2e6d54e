// The models file's text.
#include "local/modelfile.h"

#include <cstring>

#include "base/text.h"
#include "local/tsv.h"
#include "device/device.h"
#include "device/model.h"
#include "files/datafile.h"
#include "local/sidefile.h"
#include "local/table.h"
#include "sys/sys.h"

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
SideFile g_file;

int write_work(void) {
    if (!side_may_write(&g_file) || !g_file.changed) return 1;
    size_t n = model_format(g_work, g_nwork, g_bytes, sizeof g_bytes);
    if (side_write(&g_file, g_bytes, n)) return 1;
    models_read();  // what the file holds now
    return 0;
}

}  // namespace

void models_begin(const char16_t* path, const char16_t* tmp) {
    side_begin(&g_file, path, tmp);
    g_nwork = 0;
}

void models_read(void) {
    g_nwork = 0;
    size_t n;
    if (!side_read(&g_file, g_bytes, sizeof g_bytes, &n)) return;
    ModelRead r = model_parse(g_bytes, n, g_work, BL_MAX);
    g_nwork = r.n;
    side_parsed(&g_file, r.bad, r.first_bad, 0);
}

int models_put(const BlacklistModel& m) {
    if (g_file.state == SideFile::UNREAD) models_read();
    if (!side_may_write(&g_file)) return 0;  // never written over
    g_file.changed |= model_put_into(g_work, &g_nwork, m);
    return 1;
}

int models_save(const BlacklistEntry* t, int n) {
    if (!side_may_write(&g_file)) return 1;  // unread: nothing to keep; unreadable: left as it is
    int w = 0;
    for (int i = 0; i < g_nwork; i++) {
        int held = 0;
        for (int k = 0; k < n && !held; k++) held = ieq_ascii(t[k].inst, g_work[i].inst);
        if (held) g_work[w++] = g_work[i];
    }
    g_file.changed |= w != g_nwork;
    g_nwork = w;
    return models_save_puts();
}

int models_save_puts(void) { return write_work(); }

const BlacklistModel* models_work(int* n) {
    *n = g_nwork;
    return g_work;
}

SourceRead models_source(void) { return side_source(&g_file); }
