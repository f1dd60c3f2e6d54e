// Fuzzes the blacklist reader: any bytes in blacklist.tsv must load into a
// bounded, well-formed table, and what was loaded must read back the same
// after being written out in the file's own format.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "local/tsv.h"
#include "rules/match.h"
#include "rules/rules.h"

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        fprintf(stderr, "invariant broken: %s\n", what);
        abort();
    }
}

bool terminated(const char* s, size_t size) { return memchr(s, 0, size) != nullptr; }

bool has_any(const char* s, const char* bytes) { return strpbrk(s, bytes) != nullptr; }

void lower(const char* s, char* out, size_t size) {
    size_t i = 0;
    for (; s[i] && i + 1 < size; i++) out[i] = (s[i] >= 'A' && s[i] <= 'Z') ? (char)(s[i] + 32) : s[i];
    out[i] = 0;
}

// How an entry reaches a device, by the rules' own tests of an id and a name.
bl_hit bl_match(const BlacklistEntry& e, const char* inst, const char* name, int builtin) {
    if (match_id(e.inst, inst)) return BL_BY_ID;
    if (e.byname && match_name(e.name, name, builtin)) return BL_BY_NAME;
    return BL_NO_HIT;
}

BlacklistEntry g_bl[BL_MAX], first[BL_MAX];
int g_bn;
char input[1 << 20];
char file[BL_MAX * 2100];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > sizeof input) return 0;
    memcpy(input, data, size);
    g_bn = bl_parse(input, size, g_bl);

    // Where the file's pieces end must not change what is read.
    static bl_reader r;
    static BlacklistEntry pieces[BL_MAX];
    size_t cut = data[0] % size;
    bl_read_start(&r, pieces);
    bl_read_bytes(&r, input, cut);
    bl_read_bytes(&r, input + cut, size - cut);
    bl_read_end(&r);
    check(r.n == g_bn, "same count whatever the pieces");
    check(r.total >= r.n && (r.total == r.n || r.n == BL_MAX), "every entry counted, the first 64 kept");
    for (int i = 0; i < r.n; i++)
        check(pieces[i].until == g_bl[i].until && strcmp(pieces[i].inst, g_bl[i].inst) == 0, "same entries in pieces");

    check(g_bn >= 0 && g_bn <= BL_MAX, "count within the table");
    for (int i = 0; i < g_bn; i++) {
        const BlacklistEntry& e = g_bl[i];
        check(terminated(e.name, sizeof e.name), "name terminated");
        check(terminated(e.inst, sizeof e.inst), "inst terminated");
        check(terminated(e.cls, sizeof e.cls), "cls terminated");
        check(!has_any(e.name, "ABCDEFGHIJKLMNOPQRSTUVWXYZ"), "name lower-cased");
        check(!has_any(e.name, "\t\n") && !has_any(e.inst, "\t\n"), "no separator in name or inst");
        check(!has_any(e.name, "\r") && !has_any(e.inst, "\r") && !has_any(e.cls, "\r\n"), "no line break in a field");

        char low[1200];
        lower(e.inst, low, sizeof low);
        check((bl_match(e, low, "", 0) == BL_BY_ID) == (e.inst[0] != 0), "an entry matches its own (non-empty) instance id");
        check(bl_match(e, "", "", 0) == BL_NO_HIT, "an empty id or name never matches");
        if (e.byname && e.name[0]) check(bl_match(e, "\x01", e.name, 0) != BL_NO_HIT, "an entry matches its own name");
        if (e.byname && e.name[0] && strcmp(e.inst, "\x01") != 0)
            check(bl_match(e, "\x01", e.name, 1) == BL_NO_HIT, "a built-in device is never reached by name");
        if (!e.byname) check((bl_match(e, "\x01", e.name, 0) != BL_NO_HIT) == (strcmp(e.inst, "\x01") == 0), "byname 0: id only");
    }

    // Write the table in the file format and read it again: nothing may move.
    int n = g_bn;
    memcpy(first, g_bl, sizeof first);
    size_t len = bl_format(first, n, file, sizeof file);
    check(len > 0, "the table fits its file");
    g_bn = bl_parse(file, len, g_bl);
    check(g_bn == n, "same count after a round trip");
    for (int i = 0; i < n; i++) {
        check(g_bl[i].until == first[i].until, "until round trip");
        check(g_bl[i].byname == first[i].byname, "byname round trip");
        check(strcmp(g_bl[i].name, first[i].name) == 0, "name round trip");
        check(strcmp(g_bl[i].inst, first[i].inst) == 0, "inst round trip");
        // A save writes the tabs that may follow the fourth as blanks.
        char cls[sizeof first[i].cls];
        memcpy(cls, first[i].cls, sizeof cls);
        for (char* c = cls; *c; c++)
            if (*c == '\t') *c = ' ';
        check(strcmp(g_bl[i].cls, cls) == 0, "cls round trip");
    }
    return 0;
}
