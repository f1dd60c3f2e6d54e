// The blacklist file: parsing, formatting, and each change as one locked step.
#include "blacklist/store.h"

#include <cstring>

#include "base/text.h"
#include "blacklist/modelfile.h"
#include "blacklist/wanted.h"
#include "files/datafile.h"
#include "sys/sys.h"

BlacklistEntry g_bl[BL_MAX];
int g_bn;

namespace {

const char HEADER[] = "# Quillfen 拉黑名单  (until\\tbyname\\tname\\tinst\\tcls)\r\n";

// Room for a line as a save writes it: two numbers, three fields, four
// tabs, CR LF. A longer line in the file was not written by us.
constexpr size_t LINE_BYTES = 48 + sizeof(BlacklistEntry::name) + sizeof(BlacklistEntry::inst) +
                              sizeof(BlacklistEntry::cls);
static_assert(BL_LINE_MAX + 2 == LINE_BYTES, "the reader accepts exactly what a save can write");
// Another of our processes may hold the lock while it saves or while the
// pass removes devices; a user at the menu can wait this long.
constexpr uint32_t LOCK_WAIT_MS = 10000;

// A decimal number as a save writes it: digits, after a minus sign for a
// negative one. A date, a blank or an exponent is not one.
int is_number(const char* s) {
    if (*s == '-') s++;
    if (!*s) return 0;
    for (; *s; s++)
        if (*s < '0' || *s > '9') return 0;
    return 1;
}

// Parses one line (terminated, without its line end); 1 when it gave an entry.
int parse_line(char* line, BlacklistEntry* e) {
    char* field[5];
    int n = 0;
    field[n++] = line;
    for (char* p = line; *p; p++) {
        if (*p != '\t') continue;
        if (n == 5) return 0;  // a sixth field: the line was not written by us
        *p = 0;
        field[n++] = p + 1;
    }
    if (n != 5 || !is_number(field[0]) || !is_number(field[1])) return 0;
    // A field longer than a save writes was not written by us: cut to fit,
    // a name would reach more devices than the one it was written for.
    if (strlen(field[2]) >= sizeof e->name || strlen(field[3]) >= sizeof e->inst || strlen(field[4]) >= sizeof e->cls)
        return 0;
    e->until = parse_int(field[0], INT64_MIN, INT64_MAX);
    e->byname = (int32_t)parse_int(field[1], INT32_MIN, INT32_MAX);
    scopy(e->name, sizeof e->name, field[2]);
    scopy(e->inst, sizeof e->inst, field[3]);
    scopy(e->cls, sizeof e->cls, field[4]);
    lower_ascii(e->name);
    return 1;
}

// A tab or line break inside a field would split the row when read back.
size_t put_field(char* dst, const char* src) {
    size_t n = 0;
    for (; src[n]; n++) {
        char c = src[n];
        dst[n] = (c == '\t' || c == '\r' || c == '\n') ? ' ' : c;
    }
    return n;
}

int same_entry(const BlacklistEntry& a, const BlacklistEntry& b) {
    return a.until == b.until && a.byname == b.byname && strcmp(a.name, b.name) == 0 &&
           strcmp(a.inst, b.inst) == 0 && strcmp(a.cls, b.cls) == 0;
}

struct Paths {
    char16_t file[PATH_UNITS];
    char16_t tmp[PATH_UNITS];
    char16_t lock[PATH_UNITS];
    char16_t dir[PATH_UNITS];
    char16_t models[PATH_UNITS];
    char16_t models_tmp[PATH_UNITS];
};

int make_paths(Paths* p) {
    return data_path(p->file, countof(p->file), DATA_BLACKLIST) && data_path(p->tmp, countof(p->tmp), DATA_BLACKLIST_TMP) &&
           data_path(p->lock, countof(p->lock), DATA_BLACKLIST_LOCK) && data_dir(p->dir, countof(p->dir)) &&
           data_path(p->models, countof(p->models), DATA_MODELS) &&
           data_path(p->models_tmp, countof(p->models_tmp), DATA_MODELS_TMP);
}

// The data files' paths, made afresh by each step: static, as four paths of
// 1,024 units would weigh on the stack.
Paths g_paths;

// The table as the current step read it and changed it.
BlacklistEntry g_work[BL_MAX];
int g_wn;
// What the last read found.
bl_status g_last = BL_OK;
int g_bad, g_first_bad, g_overfull;
// A file of 64 entries is about 126 KB; reads go through it in pieces.
char g_bytes[256 * 1024];
bl_reader g_reader;

// The model an add or a put brings, for its locked step.
const BlacklistModel* g_put_model;

// The models as the current step read and changed them.
BlacklistModel g_mwork[BL_MAX];
int g_mwn;
// Only by-name entries have models, and most tables have none: the file
// is read only for a table with one, or for a model being kept. A file
// that could not be read whole, or holds lines that are no model, is never
// written over.
enum { MODELS_UNREAD, MODELS_READ, MODELS_UNREADABLE, MODELS_BAD } g_models;
ModelRead g_models_read;
int g_models_changed;
// The step's model could not be kept: it is blocked nowhere.
int g_models_lost;

// Reads the models file; a missing one holds none. One longer than the
// buffer was not written by us, and is never read in part.
void read_models(const Paths& p) {
    g_models = MODELS_UNREADABLE;
    g_models_read = ModelRead{0, 0, 0};
    sys_read r;
    sys_file* f = sys_file_open(p.models, &r);
    if (!f) {
        if (r == SYS_READ_MISSING) g_models = MODELS_READ;
        return;
    }
    size_t n = 0;
    uint32_t got = 0;
    int ok;
    while ((ok = sys_file_next(f, g_bytes + n, (uint32_t)(sizeof g_bytes - n), &got)) && got > 0) {
        n += got;
        if (n == sizeof g_bytes) ok = 0;  // full, and maybe more to come
        if (!ok) break;
    }
    sys_file_close(f);
    if (!ok) return;
    g_models_read = model_parse(g_bytes, n, g_mwork, BL_MAX);
    g_mwn = g_models_read.n;
    g_models = g_models_read.bad ? MODELS_BAD : MODELS_READ;
}

// Each instance id an entry holds keeps its model; the others' go.
void drop_orphan_models(void) {
    int w = 0;
    for (int i = 0; i < g_mwn; i++) {
        int held = 0;
        for (int k = 0; k < g_wn && !held; k++) held = ieq_ascii(g_work[k].inst, g_mwork[i].inst);
        if (held) g_mwork[w++] = g_mwork[i];
    }
    g_models_changed |= w != g_mwn;
    g_mwn = w;
}

// One model per instance id: m replaces the one kept before. 1 when that
// changed the table.
int put_model_into(BlacklistModel* t, int* n, const BlacklistModel& m) {
    int i = 0;
    while (i < *n && !ieq_ascii(t[i].inst, m.inst)) i++;
    if (i == BL_MAX) return 0;
    int changed = i == *n || strcmp(t[i].model, m.model) != 0 || t[i].verdict != m.verdict;
    t[i] = m;
    if (i == *n) ++*n;
    return changed;
}

void put_model(const Paths& p, const BlacklistModel& m) {
    if (g_models == MODELS_UNREAD) read_models(p);
    if (g_models != MODELS_READ) {
        g_models_lost = 1;  // never written over
        return;
    }
    g_models_changed |= put_model_into(g_mwork, &g_mwn, m);
}

// After the blacklist was written: the models follow it, written the same
// way. One that cannot be written costs only its model block: the step goes
// on with what the file holds, so that no block stands that the next pass,
// reading the file, would lift.
void write_models(const Paths& p) {
    if (g_models != MODELS_READ || !g_models_changed) return;
    size_t n = model_format(g_mwork, g_mwn, g_bytes, sizeof g_bytes);
    (void)sys_file_delete(p.models_tmp);
    int ok = n && sys_file_create(p.models_tmp, g_bytes, (uint32_t)n);
    if (ok && sys_file_replace(p.models_tmp, p.models)) return;
    if (ok) (void)sys_file_delete(p.models_tmp);
    g_models_lost = g_put_model != nullptr;
    g_mwn = 0;
    read_models(p);
}

// Reads the file into g_work, whatever its size. A missing file is an empty
// table; one that cannot be read whole is UNREADABLE, never a short table.
bl_status read_work(const Paths& p) {
    g_mwn = 0;
    g_models = MODELS_UNREAD;
    g_models_read = ModelRead{0, 0, 0};
    g_models_changed = 0;
    g_wn = 0;
    g_bad = g_first_bad = g_overfull = 0;
    sys_read r;
    sys_file* f = sys_file_open(p.file, &r);
    if (!f) {
        g_last = r == SYS_READ_MISSING ? BL_OK : BL_UNREADABLE;
        return g_last;
    }
    bl_read_start(&g_reader, g_work);
    uint32_t got = 0;
    int ok;
    while ((ok = sys_file_next(f, g_bytes, sizeof g_bytes, &got)) && got > 0) bl_read_bytes(&g_reader, g_bytes, got);
    sys_file_close(f);
    if (!ok) {
        g_last = BL_UNREADABLE;
        return g_last;
    }
    bl_read_end(&g_reader);
    g_wn = g_reader.n;
    g_bad = g_reader.bad;
    g_first_bad = g_reader.first_bad;
    g_overfull = g_reader.total > BL_MAX;
    g_last = g_bad > 0 ? BL_BAD_LINES : g_reader.total > BL_MAX ? BL_OVERFULL : BL_OK;
    int by_name = 0;
    for (int i = 0; i < g_wn; i++) by_name |= g_work[i].byname;
    if (by_name) read_models(p);
    return g_last;
}

// Temporary files of earlier versions were named blacklist.tsv.<pid>.tmp.
int old_temp_name(const char16_t* n) {
    const char* pre = data_file_name(DATA_BLACKLIST);
    size_t i = 0;
    for (; pre[i]; i++)
        if (n[i] != (char16_t)(unsigned char)pre[i]) return 0;
    if (n[i++] != u'.') return 0;
    size_t digits = 0;
    while (n[i] >= u'0' && n[i] <= u'9') i++, digits++;
    return digits > 0 && wicmp(n + i, u".tmp") == 0;
}

// One that cannot be deleted makes the create-new fail, and so the save.
void delete_stale_temps(const Paths& p) {
    (void)sys_file_delete(p.tmp);
    sys_dir* d = sys_dir_open(p.dir);
    if (!d) return;
    char16_t name[PATH_UNITS], full[PATH_UNITS];
    while (sys_dir_next(d, name, countof(name))) {
        if (!old_temp_name(name)) continue;
        full[0] = 0;
        wcat(full, countof(full), p.dir);
        wcat(full, countof(full), name);
        (void)sys_file_delete(full);  // leftovers of older versions: best effort
    }
    sys_dir_close(d);
}

// Writes g_work: a fresh temporary file, then one replace step.
int write_work(const Paths& p) {
    size_t n = bl_format(g_work, g_wn, g_bytes, sizeof g_bytes);
    if (n == 0) return 0;
    delete_stale_temps(p);
    // Created new, never opened: a file planted in advance must not pass its
    // owner or permissions on to the blacklist.
    if (!sys_file_create(p.tmp, g_bytes, (uint32_t)n)) return 0;
    if (!sys_file_replace(p.tmp, p.file)) {
        (void)sys_file_delete(p.tmp);  // the next save deletes it if this one cannot
        return 0;
    }
    drop_orphan_models();
    write_models(p);
    return 1;
}

void publish_work(void) {
    for (int i = 0; i < g_wn; i++) g_bl[i] = g_work[i];
    g_bn = g_wn;
    for (int i = 0; i < g_mwn; i++) g_mod[i] = g_mwork[i];
    g_mn = g_mwn;
}

enum Op { OP_ADD, OP_PUT, OP_REMOVE, OP_CLEAR };

// What the last put did, and the entry as it stands afterwards.
bl_put_result g_put;
BlacklistEntry g_put_entry;

// Puts e into the table t of *n entries; 1 when the table changed, -1 when
// e would be one entry too many.
int put_into(BlacklistEntry* t, int* n, const BlacklistEntry& e) {
    for (int i = 0; i < *n; i++) {
        BlacklistEntry& old = t[i];
        int same = e.inst[0] ? ieq_ascii(old.inst, e.inst) : !old.inst[0] && strcmp(old.name, e.name) == 0;
        if (!same) continue;
        int changed = e.until > old.until || (e.byname && !old.byname);
        if (e.until > old.until) old.until = e.until;
        if (e.byname && !old.byname) old.byname = 1;
        g_put = changed ? BL_PUT_EXTENDED : BL_PUT_UNCHANGED;
        g_put_entry = old;
        return changed;
    }
    if (*n >= BL_MAX) return -1;
    t[(*n)++] = e;
    g_put = BL_PUT_ADDED;
    g_put_entry = e;
    return 1;
}

// The entries a clear removes: what the table showed when it was asked.
BlacklistEntry g_shown[BL_MAX];
int g_nshown;

// The ids and models the table wants blocked, and what the last sync did
// for each: static, as they are 128 KB.
BlockWant g_want;

// The install block follows the table, in the same locked step.
void sync_blocks(const BlacklistEntry* t, int n, block_caller who) {
    int64_t now = sys_now();
    bl_wanted(t, n, nullptr, now, &g_want.list[BLOCK_INSTANCE_IDS]);
    bl_wanted_models(t, n, nullptr, g_mwork, g_mwn, nullptr, now, &g_want.list[BLOCK_DEVICE_IDS]);
    // Models that cannot be read change no model block, as an unreadable
    // blacklist changes none.
    g_want.list[BLOCK_DEVICE_IDS].untold = g_models == MODELS_UNREADABLE || g_models == MODELS_BAD;
    block_sync(&g_want, who);
}

// Before the lock: the block may need to ask whether the task runs this copy.
void prepare_blocks(const BlacklistEntry* extra, const BlacklistModel* model, block_caller who) {
    int64_t now = sys_now();
    bl_wanted(g_bl, g_bn, extra, now, &g_want.list[BLOCK_INSTANCE_IDS]);
    bl_wanted_models(g_bl, g_bn, extra, g_mod, g_mn, model, now, &g_want.list[BLOCK_DEVICE_IDS]);
    block_prepare(&g_want, who);
}

block_outcome outcome_in(const BlockIds& ids, const char* text) {
    char16_t id[INST_UNITS];
    utf16(text, id, countof(id));
    for (int i = 0; i < ids.n; i++)
        if (wicmp(ids.id[i], id) == 0) return ids.outcome[i];
    return BLOCK_NONE;
}

BlockResult outcome_of(const BlacklistEntry& e) {
    BlockResult r{outcome_in(g_want.list[BLOCK_INSTANCE_IDS], e.inst), BLOCK_NONE, g_models_lost};
    for (int i = 0; i < g_mwn; i++)
        if (ieq_ascii(g_mwork[i].inst, e.inst) && g_mwork[i].verdict == MODEL_OK)
            r.model = outcome_in(g_want.list[BLOCK_DEVICE_IDS], g_mwork[i].model);
    return r;
}

// Removes the first entry equal to e; 0 when there is none.
int remove_equal(const BlacklistEntry& e) {
    for (int i = 0; i < g_wn; i++) {
        if (!same_entry(g_work[i], e)) continue;
        for (int k = i; k + 1 < g_wn; k++) g_work[k] = g_work[k + 1];
        g_wn--;
        return 1;
    }
    return 0;
}

bl_status change(Op op, const BlacklistEntry* e) {
    if (!make_paths(&g_paths)) return BL_FAILED;
    sys_lock* lock = sys_lock_take(g_paths.lock, LOCK_WAIT_MS);
    if (!lock) return BL_FAILED;
    bl_status st = read_work(g_paths);
    if (st == BL_OVERFULL || st == BL_BAD_LINES) {
        publish_work();  // the table shows the file's entries; nothing is written
    } else if (st == BL_OK) {
        int write = 1;
        if (op == OP_ADD) {
            if (g_wn >= BL_MAX) st = BL_FULL;
            else g_work[g_wn++] = *e;
        } else if (op == OP_PUT) {
            write = put_into(g_work, &g_wn, *e);
            if (write < 0) st = BL_FULL;
        } else if (op == OP_REMOVE) {
            if (!remove_equal(*e)) st = BL_GONE;
        } else {
            for (int i = 0; i < g_nshown; i++) (void)remove_equal(g_shown[i]);  // gone already: skipped
        }
        if (st == BL_OK && g_put_model) put_model(g_paths, *g_put_model);
        if (st == BL_OK && !write) {
            write_models(g_paths);  // the entry stood already: the file stays as it is
            publish_work();
            sync_blocks(g_work, g_wn, BLOCK_AT_CONSOLE);
        } else if (st == BL_OK) {
            if (write_work(g_paths)) {
                publish_work();
                sync_blocks(g_work, g_wn, BLOCK_AT_CONSOLE);
            } else {
                st = BL_FAILED;
            }
        } else {
            publish_work();  // nothing to write, but the table now shows the file
        }
    }
    sys_lock_drop(lock);
    block_rescan_if_lifted();
    return st;
}

}  // namespace

namespace {

// The reader of bl_parse: static, as its line buffer is 2 KB.
bl_reader g_parse_reader;

}  // namespace

void bl_read_start(bl_reader* r, BlacklistEntry* t) {
    r->t = t;
    r->n = 0;
    r->total = 0;
    r->bad = 0;
    r->first_bad = 0;
    r->lineno = 1;
    r->k = 0;
    r->overlong = 0;
    r->blank = 1;
    r->after_cr = 0;
    r->bom = 0;
}

namespace {

// An entry beyond the table: counted, not kept (static: 2 KB).
BlacklistEntry g_past;

// What Windows PowerShell 5.1 puts before the first line of a UTF-8 file.
const char BOM[] = "\xEF\xBB\xBF";

void end_line(bl_reader* r) {
    if (!r->blank) {
        r->line[r->k] = 0;
        if (!r->overlong && r->line[0] == '#') {
            // a comment
        } else if (!r->overlong && parse_line(r->line, r->n < BL_MAX ? &r->t[r->n] : &g_past)) {
            if (r->n < BL_MAX) r->n++;
            r->total++;
        } else if (r->bad++ == 0) {
            r->first_bad = r->lineno;
        }
    }
    r->lineno++;
    r->k = 0;
    r->overlong = 0;
    r->blank = 1;
}

void take(bl_reader* r, char c) {
    // LF, CR LF and a lone CR each end one line.
    int cr_lf = r->after_cr && c == '\n';
    r->after_cr = c == '\r';
    if (cr_lf) return;
    if (c == '\n' || c == '\r') {
        end_line(r);
        return;
    }
    if (c != ' ' && c != '\t') r->blank = 0;
    if (r->k < BL_LINE_MAX) r->line[r->k++] = c;
    else r->overlong = 1;
}

// Bytes that looked like the start of a byte-order mark and were not one.
void take_held(bl_reader* r) {
    int held = r->bom;
    r->bom = -1;
    for (int i = 0; i < held; i++) take(r, BOM[i]);
}

}  // namespace

void bl_read_bytes(bl_reader* r, const char* data, size_t n) {
    for (size_t i = 0; i < n; i++) {
        char c = data[i];
        if (r->bom >= 0) {
            if (c == BOM[r->bom]) {
                if (++r->bom == 3) r->bom = -1;  // a whole mark: skipped
                continue;
            }
            take_held(r);
        }
        take(r, c);
    }
}

void bl_read_end(bl_reader* r) {
    if (r->bom > 0) take_held(r);
    end_line(r);
}

int bl_parse(const char* data, size_t n, BlacklistEntry* t) {
    bl_read_start(&g_parse_reader, t);
    bl_read_bytes(&g_parse_reader, data, n);
    bl_read_end(&g_parse_reader);
    return g_parse_reader.n;
}

size_t bl_format(const BlacklistEntry* t, int n, char* out, size_t size) {
    size_t len = sizeof HEADER - 1;
    if (size < len) return 0;
    memcpy(out, HEADER, len);
    for (int i = 0; i < n; i++) {
        const BlacklistEntry& e = t[i];
        if (size - len < LINE_BYTES) return 0;
        char* o = out + len;
        size_t k = fmt(o, LINE_BYTES, "%lld\t%d\t", (long long)e.until, (int)e.byname);
        k += put_field(o + k, e.name);
        o[k++] = '\t';
        k += put_field(o + k, e.inst);
        o[k++] = '\t';
        k += put_field(o + k, e.cls);
        o[k++] = '\r';
        o[k++] = '\n';
        len += k;
    }
    return len;
}

bl_status bl_add(const BlacklistEntry& e, const BlacklistModel* model, BlockResult* block) {
    prepare_blocks(&e, model, BLOCK_AT_CONSOLE);
    g_put_model = model;
    g_models_lost = 0;
    bl_status st = change(OP_ADD, &e);
    g_put_model = nullptr;
    if (block) *block = outcome_of(e);
    return st;
}

bl_status bl_put(const BlacklistEntry& e, const BlacklistModel* model, bl_put_result* what, BlacklistEntry* entry,
                 BlockResult* block) {
    prepare_blocks(&e, model, BLOCK_AT_CONSOLE);
    g_put_model = model;
    g_models_lost = 0;
    bl_status st = change(OP_PUT, &e);
    g_put_model = nullptr;
    *what = g_put;
    *entry = st == BL_OK ? g_put_entry : e;
    *block = st == BL_OK ? outcome_of(*entry) : BlockResult{BLOCK_NONE, BLOCK_NONE, 0};
    return st;
}

bl_status bl_put_in_memory(const BlacklistEntry& e, const BlacklistModel* model, bl_put_result* what,
                           BlacklistEntry* entry) {
    if (put_into(g_bl, &g_bn, e) < 0) return BL_FULL;
    if (model) (void)put_model_into(g_mod, &g_mn, *model);
    *what = g_put;
    *entry = g_put_entry;
    return BL_OK;
}

bl_status bl_remove(const BlacklistEntry& e) { return change(OP_REMOVE, &e); }

bl_status bl_remove_each(const BlacklistEntry* t, int n) {
    // t may be g_bl itself, which the step rewrites.
    for (int i = 0; i < n; i++) g_shown[i] = t[i];
    g_nshown = n;
    return change(OP_CLEAR, nullptr);
}

bl_status bl_clear(void) { return bl_remove_each(g_bl, g_bn); }

namespace {

// A device's whole name as UTF-8: static, as it is 1.6 KB.
char g_whole[1600];

}  // namespace

int bl_entry_of(const DeviceEntry& d, int64_t until, BlacklistEntry* e) {
    dev_lower(d.name, e->name, sizeof e->name);
    utf8(d.inst, e->inst, sizeof e->inst);
    utf8(d.cls, e->cls, sizeof e->cls);
    e->until = until;
    e->byname = 0;
    if (d.name_cut) return 0;  // only the start of a longer name is here
    for (const char16_t* p = d.name; *p; p++)
        if (*p < 0x20) return 0;
    utf8(d.name, g_whole, sizeof g_whole);
    return strlen(g_whole) == strlen(e->name);
}

int bl_storable(const char* text, size_t size) {
    size_t n = 0;
    for (; text[n]; n++)
        if ((unsigned char)text[n] < 0x20) return 0;
    return n < size;
}

bl_status bl_prune(int* dropped, block_caller who) {
    *dropped = 0;
    if (!make_paths(&g_paths)) {
        g_bn = 0;
        g_last = BL_OK;
        return BL_OK;  // nothing can be read there, so there is nothing to drop
    }
    // A plain read that cannot have the lock in time reads without it, and
    // then never writes.
    sys_lock* lock = sys_lock_take(g_paths.lock, LOCK_WAIT_MS);
    bl_status st = read_work(g_paths);
    // Until the drop is written, the table shows the file as it stands.
    publish_work();
    if (st == BL_OK) {
        int64_t now = sys_now();
        int w = 0;
        for (int i = 0; i < g_wn; i++)
            if (g_work[i].until > now) g_work[w++] = g_work[i];
        int gone = g_wn - w;
        g_wn = w;
        if (gone > 0) {
            if (lock && write_work(g_paths)) {
                publish_work();
                sync_blocks(g_work, g_wn, who);
                *dropped = gone;
            } else {
                st = BL_FAILED;
            }
        }
    }
    if (lock) sys_lock_drop(lock);
    block_rescan_if_lifted();
    return st;
}

bl_status bl_read(void) {
    if (!make_paths(&g_paths)) {
        g_bn = 0;
        g_last = BL_OK;
        return BL_OK;
    }
    sys_lock* lock = sys_lock_take(g_paths.lock, LOCK_WAIT_MS);
    bl_status st = read_work(g_paths);
    publish_work();
    if (lock) sys_lock_drop(lock);
    return st;
}

namespace {

// Under the lock: the file as it is, and the install block in line with it.
// An unreadable file changes no block.
bl_status sync_locked(block_caller who) {
    bl_status st = read_work(g_paths);
    if (st != BL_UNREADABLE) {
        publish_work();
        sync_blocks(g_work, g_wn, who);
    }
    return st;
}

}  // namespace

bl_status bl_sync_blocks(block_caller who) {
    prepare_blocks(nullptr, nullptr, who);
    if (!make_paths(&g_paths)) return BL_FAILED;
    sys_lock* lock = sys_lock_take(g_paths.lock, LOCK_WAIT_MS);
    if (!lock) return BL_FAILED;
    bl_status st = sync_locked(who);
    sys_lock_drop(lock);
    block_rescan_if_lifted();
    return st;
}

namespace {

// The task changed hands: the blocks of every copy are lifted even when the
// lock cannot be had, since nothing would lift them afterwards; a new
// owner's own blocks are written under the lock (else by its next pass).
int hand_over(int take_over) {
    sys_lock* lock = make_paths(&g_paths) ? sys_lock_take(g_paths.lock, LOCK_WAIT_MS) : nullptr;
    int done = take_over ? block_take_over() : block_give_up();
    if (lock) {
        if (take_over) (void)sync_locked(BLOCK_AT_CONSOLE);
        sys_lock_drop(lock);
    }
    block_rescan_if_lifted();
    return done;
}

}  // namespace

int bl_blocks_take_over(void) { return hand_over(1); }

int bl_blocks_give_up(void) { return hand_over(0); }

bl_status bl_last_read(void) { return g_last; }

int bl_bad_lines(int* first) {
    *first = g_first_bad;
    return g_bad;
}

int bl_overfull(void) { return g_overfull; }

bl_models bl_models_last(int* bad, int* first) {
    *bad = g_models_read.bad;
    *first = g_models_read.first_bad;
    return g_models == MODELS_UNREADABLE ? BL_MODELS_UNREADABLE : g_models == MODELS_BAD ? BL_MODELS_BAD_LINES
                                                                                         : BL_MODELS_OK;
}

int bl_in_force(int64_t now) {
    int n = 0;
    for (int i = 0; i < g_bn; i++) n += now < g_bl[i].until;
    return n;
}
