// The models file's text.
#include "blacklist/modelfile.h"

#include <cstring>

#include "base/text.h"

BlacklistModel g_mod[BL_MAX];
int g_mn;

namespace {

const char HEADER[] = "# Quillfen 型号  (inst\\tmodel\\tok|shared|builtin|unknown)\r\n";

// The verdicts as the file spells them, by model_verdict.
const char* const VERDICTS[] = {nullptr, "ok", "shared", "builtin", "unknown", nullptr};

// One line, terminated, without its line end.
int parse_model(char* line, BlacklistModel* m) {
    if (line[0] == '#') return 0;
    char* tab1 = strchr(line, '\t');
    char* tab2 = tab1 ? strchr(tab1 + 1, '\t') : nullptr;
    if (!tab2 || strchr(tab2 + 1, '\t')) return 0;
    *tab1 = *tab2 = 0;
    const char* verdict = tab2 + 1;
    if (!line[0] || !tab1[1] || strlen(line) >= sizeof m->inst || strlen(tab1 + 1) >= sizeof m->model) return 0;
    for (int v = MODEL_OK; v <= MODEL_UNKNOWN; v++)
        if (strcmp(verdict, VERDICTS[v]) == 0) {
            scopy(m->inst, sizeof m->inst, line);
            scopy(m->model, sizeof m->model, tab1 + 1);
            m->verdict = (model_verdict)v;
            return 1;
        }
    return 0;
}

}  // namespace

const BlacklistModel* bl_model_of(const BlacklistEntry& e) {
    if (!e.byname || !e.inst[0]) return nullptr;
    for (int i = 0; i < g_mn; i++)
        if (ieq_ascii(g_mod[i].inst, e.inst)) return &g_mod[i];
    return nullptr;
}

int model_parse(const char* data, size_t n, BlacklistModel* t, int max) {
    static char line[sizeof(BlacklistModel::inst) + sizeof(BlacklistModel::model) + 16];
    int count = 0;
    size_t k = 0;
    int overlong = 0;
    for (size_t i = 0; i <= n && count < max; i++) {
        char c = i < n ? data[i] : '\n';
        if (c != '\n' && c != '\r') {
            if (k + 1 < sizeof line) line[k++] = c;
            else overlong = 1;
            continue;
        }
        line[k] = 0;
        if (k > 0 && !overlong && parse_model(line, &t[count])) count++;
        k = 0;
        overlong = 0;
    }
    return count;
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
