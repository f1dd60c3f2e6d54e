// The blacklist file: parsing, formatting, and each change as one locked step.
#include "blacklist/store.h"

#include <cstring>

#include "base/text.h"
#include "files/datafile.h"
#include "sys/sys.h"

BlacklistEntry g_bl[BL_MAX];
int g_bn;

namespace {

const char HEADER[] = "# Quillfen 拉黑名单  (until\\tbyname\\tname\\tinst\\tcls)\r\n";

// The longest line a save writes is under 2,000 bytes; hand-edited files may
// hold longer ones, which the reader takes in pieces of this size.
constexpr size_t LINE_PIECE = 2999;
// A line as a save writes it: two numbers, three fields, four tabs, CR LF.
constexpr size_t LINE_BYTES = 48 + sizeof(BlacklistEntry::name) + sizeof(BlacklistEntry::inst) +
                              sizeof(BlacklistEntry::cls);
// Another of our processes may hold the lock while it saves or while the
// pass removes devices; a user at the menu can wait this long.
constexpr uint32_t LOCK_WAIT_MS = 10000;

// Parses one line (terminated, its line end included); 1 when it gave an entry.
int parse_line(char* line, BlacklistEntry* e) {
    if (line[0] == '\n' || line[0] == '\r' || line[0] == '#') return 0;
    char* tab[4];
    char* p = line;
    for (int i = 0; i < 4; i++) {
        tab[i] = strchr(p, '\t');
        if (!tab[i]) return 0;
        p = tab[i] + 1;
    }
    for (int i = 0; i < 4; i++) *tab[i] = 0;
    char* rest = tab[3] + 1;
    rest[strcspn(rest, "\r\n")] = 0;
    e->until = parse_int(line, INT64_MIN, INT64_MAX);
    e->byname = (int32_t)parse_int(tab[0] + 1, INT32_MIN, INT32_MAX);
    scopy(e->name, sizeof e->name, tab[1] + 1);
    scopy(e->inst, sizeof e->inst, tab[2] + 1);
    scopy(e->cls, sizeof e->cls, rest);
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
};

int make_paths(Paths* p) {
    return data_path(p->file, countof(p->file), "blacklist.tsv") && data_path(p->tmp, countof(p->tmp), "blacklist.tsv.tmp") &&
           data_path(p->lock, countof(p->lock), "blacklist.tsv.lock") && data_path(p->dir, countof(p->dir), "");
}

// The table as the current step read it and changed it.
BlacklistEntry g_work[BL_MAX];
int g_wn;
// A file of 64 entries is about 126 KB; room for generous hand edits.
char g_bytes[256 * 1024];

// Reads the file into g_work. A missing file is an empty table.
int read_work(const Paths& p) {
    uint32_t got = 0;
    int cut = 0;
    sys_read r = sys_file_read(p.file, g_bytes, sizeof g_bytes, &got, &cut);
    g_wn = 0;
    if (r == SYS_READ_MISSING) return 1;
    if (r != SYS_READ_OK) return 0;
    // A torn last line of a file too big to read whole is not an entry.
    if (cut)
        while (got > 0 && g_bytes[got - 1] != '\n' && g_bytes[got - 1] != '\r') got--;
    g_wn = bl_parse(g_bytes, got, g_work);
    return 1;
}

// Temporary files of earlier versions were named blacklist.tsv.<pid>.tmp.
int old_temp_name(const char16_t* n) {
    const char16_t pre[] = u"blacklist.tsv.";
    size_t i = 0;
    for (; pre[i]; i++)
        if (n[i] != pre[i]) return 0;
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
    if (sys_file_replace(p.tmp, p.file)) return 1;
    (void)sys_file_delete(p.tmp);  // the next save deletes it if this one cannot
    return 0;
}

void publish_work(void) {
    for (int i = 0; i < g_wn; i++) g_bl[i] = g_work[i];
    g_bn = g_wn;
}

enum Op { OP_ADD, OP_REMOVE, OP_CLEAR };

bl_status change(Op op, const BlacklistEntry* e) {
    static Paths p;
    if (!make_paths(&p)) return BL_FAILED;
    sys_lock* lock = sys_lock_take(p.lock, LOCK_WAIT_MS);
    if (!lock) return BL_FAILED;
    bl_status st = BL_OK;
    if (!read_work(p)) {
        st = BL_FAILED;  // a brief sharing violation must not empty the blacklist
    } else if (op == OP_ADD) {
        if (g_wn >= BL_MAX) st = BL_FULL;
        else g_work[g_wn++] = *e;
    } else if (op == OP_REMOVE) {
        int at = -1;
        for (int i = 0; i < g_wn && at < 0; i++)
            if (same_entry(g_work[i], *e)) at = i;
        if (at < 0) {
            st = BL_GONE;
        } else {
            for (int i = at; i + 1 < g_wn; i++) g_work[i] = g_work[i + 1];
            g_wn--;
        }
    } else {
        g_wn = 0;
    }
    if (st == BL_OK) {
        if (write_work(p)) publish_work();
        else st = BL_FAILED;
    } else if (st != BL_FAILED) {
        publish_work();  // nothing to write, but the table now shows the file
    }
    sys_lock_drop(lock);
    return st;
}

}  // namespace

int bl_parse(const char* data, size_t n, BlacklistEntry* t) {
    int count = 0;
    size_t i = 0;
    char line[LINE_PIECE + 1];
    while (i < n && count < BL_MAX) {
        // One line, its end included: LF, CR LF or a lone CR.
        size_t k = 0;
        while (i < n && k < LINE_PIECE) {
            char c = data[i++];
            line[k++] = c;
            if (c == '\n') break;
            if (c == '\r') {
                if (i < n && data[i] == '\n' && k < LINE_PIECE) line[k++] = data[i++];
                break;
            }
        }
        line[k] = 0;
        if (parse_line(line, &t[count])) count++;
    }
    return count;
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

bl_status bl_add(const BlacklistEntry& e) { return change(OP_ADD, &e); }

bl_status bl_remove(const BlacklistEntry& e) { return change(OP_REMOVE, &e); }

bl_status bl_clear(void) { return change(OP_CLEAR, nullptr); }

bl_status bl_prune(int* dropped) {
    *dropped = 0;
    static Paths p;
    if (!make_paths(&p)) {
        g_bn = 0;
        return BL_OK;  // nothing can be read, so there is nothing to drop
    }
    // A plain read that cannot have the lock in time reads without it, and
    // then never writes.
    sys_lock* lock = sys_lock_take(p.lock, LOCK_WAIT_MS);
    if (!read_work(p)) g_wn = 0;  // unreadable: shown as empty, as before
    // Until the drop is written, the table shows the file as it stands.
    publish_work();
    int64_t now = sys_now();
    int w = 0;
    for (int i = 0; i < g_wn; i++)
        if (g_work[i].until > now) g_work[w++] = g_work[i];
    int gone = g_wn - w;
    g_wn = w;
    bl_status st = BL_OK;
    if (gone > 0) {
        if (lock && write_work(p)) {
            publish_work();
            *dropped = gone;
        } else {
            st = BL_FAILED;
        }
    }
    if (lock) sys_lock_drop(lock);
    return st;
}

void fmt_left_secs(int64_t secs, char* out) {
    long long s = (long long)secs;
    if (s <= 0) {
        fmt(out, LEFT_BYTES, "已过期");
    } else if (s < 3600) {
        long long m = s / 60;
        fmt(out, LEFT_BYTES, "剩余 %lld分钟", m ? m : 1LL);
    } else if (s < 86400) {
        fmt(out, LEFT_BYTES, "剩余 %lld小时%lld分", s / 3600, (s % 3600) / 60);
    } else {
        fmt(out, LEFT_BYTES, "剩余 %lld天%lld小时", s / 86400, (s % 86400) / 3600);
    }
}

void fmt_left(int64_t until, char* out) {
    int64_t now = sys_now();
    // Saturate instead of overflowing for an expiry far in the past or future.
    int64_t secs;
    if (now > 0 && until < INT64_MIN + now) secs = INT64_MIN;
    else if (now < 0 && until > INT64_MAX + now) secs = INT64_MAX;
    else secs = until - now;
    fmt_left_secs(secs, out);
}
