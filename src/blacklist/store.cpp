#include "blacklist/store.h"

#include <cstring>

#include "common/console.h"
#include "common/shared.h"
#include "common/text.h"
#include "sys/sys.h"

namespace {

const char HEADER[] = "# Quillfen 拉黑名单  (until\\tbyname\\tname\\tinst\\tcls)\r\n";

// Parses one line; 1 when it gave an entry.
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

}  // namespace

void bl_read(FILE* fp) {
    g_bn = 0;
    char line[3000];
    while (g_bn < BL_MAX && fgets(line, sizeof line, fp)) {
        if (parse_line(line, &g_bl[g_bn])) g_bn++;
    }
}

void bl_load(void) {
    g_bn = 0;
    char path[292];
    data_path(path, sizeof path, "blacklist.tsv");
    FILE* fp = fopen(path, "rb");
    if (!fp) return;
    bl_read(fp);
    fclose(fp);
}

int bl_save(void) {
    char path[292], tmp[292], suffix[40];
    data_path(path, sizeof path, "blacklist.tsv");
    fmt(suffix, sizeof suffix, "blacklist.tsv.%lu.tmp", (unsigned long)sys_pid());
    data_path(tmp, sizeof tmp, suffix);
    FILE* fp = fopen(tmp, "wb");
    int ok = fp != nullptr;
    if (ok) ok = fwrite(HEADER, 1, sizeof HEADER - 1, fp) == sizeof HEADER - 1;
    for (int i = 0; ok && i < g_bn; i++) {
        const BlacklistEntry& e = g_bl[i];
        char line[2100];
        size_t n = fmt(line, 40, "%lld\t%d\t", (long long)e.until, (int)e.byname);
        n += put_field(line + n, e.name);
        line[n++] = '\t';
        n += put_field(line + n, e.inst);
        line[n++] = '\t';
        n += put_field(line + n, e.cls);
        line[n++] = '\r';
        line[n++] = '\n';
        ok = fwrite(line, 1, n, fp) == n;
    }
    if (fp) {
        if (fflush(fp) != 0) ok = 0;
        if (fclose(fp) != 0) ok = 0;
    }
    if (ok) ok = sys_replace_file(tmp, path);
    if (!ok) {
        if (fp) remove(tmp);
        out("  [错误] 拉黑名单写入失败（权限？）\n");
    }
    return ok;
}

int bl_prune(void) {
    int64_t now = sys_now();
    if (g_bn == 0) return 0;
    int w = 0;
    for (int i = 0; i < g_bn; i++) {
        if (g_bl[i].until > now) {
            if (w != i) g_bl[w] = g_bl[i];
            w++;
        }
    }
    int dropped = g_bn - w;
    g_bn = w;
    if (dropped) bl_save();
    return dropped;
}

void fmt_left_secs(int64_t secs, char* out) {
    long long s = (long long)secs;
    if (s <= 0) {
        fmt(out, 64, "已过期");
    } else if (s < 3600) {
        long long m = s / 60;
        fmt(out, 64, "剩余 %lld分钟", m ? m : 1LL);
    } else if (s < 86400) {
        fmt(out, 64, "剩余 %lld小时%lld分", s / 3600, (s % 3600) / 60);
    } else {
        fmt(out, 64, "剩余 %lld天%lld小时", s / 86400, (s % 86400) / 3600);
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
