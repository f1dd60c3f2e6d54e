// blacklist.tsv's text: reading it line by line, writing it, and what an
// entry can hold exactly.
#include "local/tsv.h"

#include "rules/rules.h"

#include <cstring>

#include "base/text.h"

namespace {

const char HEADER[] = "# Quillfen 拉黑名单  (until\\tbyname\\tname\\tinst\\tcls)\r\n";

// Room for a line as a save writes it: two numbers, three fields, four
// tabs, CR LF. A longer line in the file was not written by us.
constexpr size_t LINE_BYTES = 48 + sizeof(BlacklistEntry::name) + sizeof(BlacklistEntry::inst) +
                              sizeof(BlacklistEntry::cls);
static_assert(BL_LINE_MAX + 2 == LINE_BYTES, "the reader accepts exactly what a save can write");

// Parses one line (terminated, without its line end); 1 when it gave an entry.
int parse_line(char* line, BlacklistEntry* e) {
    char* field[5];
    // A sixth field: the line was not written by us.
    if (tsv_split(line, field, 5) != 5 || !tsv_number(field[0]) || !tsv_number(field[1])) return 0;
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
    if (d.name_cut || rule_name_blank(e->name)) return 0;  // only the start of a longer name, or blanks alone
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

void tsv_lines_start(tsv_lines* l, const char* data, size_t n) {
    *l = tsv_lines{data, n, n >= 3 && memcmp(data, BOM, 3) == 0 ? (size_t)3 : 0, 0, 0};
}

int tsv_line(tsv_lines* l, char* buf, size_t size) {
    if (l->i > l->n) return 0;
    size_t k = 0;
    l->overlong = 0;
    for (; l->i <= l->n; l->i++) {
        char c = l->i < l->n ? l->data[l->i] : '\n';
        if (c != '\n' && c != '\r') {
            if (k + 1 < size) buf[k++] = c;
            else l->overlong = 1;
            continue;
        }
        if (c == '\r' && l->i + 1 < l->n && l->data[l->i + 1] == '\n') l->i++;
        break;
    }
    l->i++;
    buf[k] = 0;
    l->lineno++;
    return 1;
}

int tsv_skipped(const char* line) {
    if (line[0] == '#') return 1;
    for (; *line; line++)
        if (*line != ' ' && *line != '\t') return 0;
    return 1;
}

int tsv_split(char* line, char** field, int max) {
    int n = 0;
    field[n++] = line;
    for (char* p = line; *p; p++) {
        if (*p != '\t') continue;
        if (n == max) return max + 1;
        *p = 0;
        field[n++] = p + 1;
    }
    return n;
}

int tsv_number(const char* s) {
    if (*s == '-') s++;
    if (!*s) return 0;
    for (; *s; s++)
        if (*s < '0' || *s > '9') return 0;
    return 1;
}
