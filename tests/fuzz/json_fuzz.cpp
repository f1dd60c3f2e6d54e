// Fuzzes the JSON writer: the input is a program of values, texts and
// nesting; the document the writer puts out on standard output, in pieces
// of its buffer, must be one strict JSON document (RFC 8259) that reads back
// as the same values, UTF-16 texts with lone surrogates as U+FFFD and valid
// UTF-8 texts unchanged.
#include <cstdint>
#include <string>
#include <vector>

#include "app/json.h"
#include "base/text.h"
#include "fuzz.h"

namespace {

// What was written, and what was read back, as one flat list.
struct Item {
    char kind;  // { } [ ] s(tring) i(nt) b(ool) n(ull) k(ey); expected only: * (a text or null)
    std::u32string text;
    int64_t num;
    bool operator==(const Item& o) const { return kind == o.kind && text == o.text && num == o.num; }
};

// ---- the expected code points ------------------------------------------------------

std::u32string from_utf16(const char16_t* s) {
    std::u32string out;
    for (; *s; s++) {
        char32_t c = *s;
        if (c >= 0xD800 && c <= 0xDBFF && s[1] >= 0xDC00 && s[1] <= 0xDFFF) c = 0x10000 + ((c - 0xD800) << 10) + (*++s - 0xDC00);
        else if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
        out += c;
    }
    return out;
}

// Strict UTF-8: false for anything that is not (then only the document's
// validity is checked).
bool from_utf8(const unsigned char* s, size_t n, std::u32string* out) {
    for (size_t i = 0; i < n;) {
        unsigned char b = s[i];
        int len = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
        if (!len || i + len > n) return false;
        char32_t c = len == 1 ? b : b & (0x7F >> len);
        for (int k = 1; k < len; k++) {
            if ((s[i + k] & 0xC0) != 0x80) return false;
            c = (c << 6) | (s[i + k] & 0x3F);
        }
        static const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < least[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        *out += c;
        i += len;
    }
    return true;
}

// ---- a strict reader -------------------------------------------------------------

struct Reader {
    const unsigned char* p;
    const unsigned char* end;
    std::vector<Item>* out;

    void ws() {
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r')) p++;
    }
    bool lit(const char* w) {
        size_t n = strlen(w);
        if ((size_t)(end - p) < n || memcmp(p, w, n) != 0) return false;
        p += n;
        return true;
    }
    bool hex4(char32_t* c) {
        if (end - p < 4) return false;
        *c = 0;
        for (int i = 0; i < 4; i++, p++) {
            int d = *p >= '0' && *p <= '9' ? *p - '0' : *p >= 'a' && *p <= 'f' ? *p - 'a' + 10
                  : *p >= 'A' && *p <= 'F' ? *p - 'A' + 10 : -1;
            if (d < 0) return false;
            *c = *c * 16 + d;
        }
        return true;
    }
    bool string(std::u32string* s) {
        if (p >= end || *p++ != '"') return false;
        while (p < end && *p != '"') {
            if (*p < 0x20) return false;
            if (*p != '\\') {
                const unsigned char* start = p++;
                while (p < end && (*p & 0xC0) == 0x80) p++;
                if (!from_utf8(start, p - start, s)) return false;
                continue;
            }
            if (++p >= end) return false;
            static const char names[] = "\"\\/bfnrt", meant[] = "\"\\/\b\f\n\r\t";
            char e = (char)*p++;
            const char* simple = e ? strchr(names, e) : nullptr;
            if (simple) {
                *s += (char32_t)meant[simple - names];
                continue;
            }
            char32_t c, lo;
            if (e != 'u' || !hex4(&c)) return false;
            if (c >= 0xDC00 && c <= 0xDFFF) return false;  // a lone low surrogate
            if (c >= 0xD800 && c <= 0xDBFF) {
                if (!lit("\\u") || !hex4(&lo) || lo < 0xDC00 || lo > 0xDFFF) return false;
                c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
            }
            *s += c;
        }
        return p < end && *p++ == '"';
    }
    bool value(int depth) {
        ws();
        if (p >= end || depth > 64) return false;
        Item it{(char)*p, {}, 0};
        if (*p == '{' || *p == '[') {
            char close = *p == '{' ? '}' : ']';
            out->push_back(it);
            p++;
            ws();
            for (bool first = true; p < end && *p != close; first = false) {
                if (!first && *p++ != ',') return false;
                if (close == '}') {
                    ws();
                    Item key{'k', {}, 0};
                    if (!string(&key.text)) return false;
                    out->push_back(key);
                    ws();
                    if (p >= end || *p++ != ':') return false;
                }
                if (!value(depth + 1)) return false;
                ws();
            }
            if (p >= end) return false;
            p++;
            out->push_back(Item{close, {}, 0});
            return true;
        }
        if (*p == '"') {
            it.kind = 's';
            if (!string(&it.text)) return false;
        } else if (lit("true") || lit("false")) {
            it = Item{'b', {}, p[-1] == 'e' && p[-2] == 'u'};
        } else if (lit("null")) {
            it = Item{'n', {}, 0};
        } else {
            // An integer, as the writer writes them: -?(0|[1-9][0-9]*).
            bool neg = p < end && *p == '-';
            if (neg) p++;
            if (p >= end || *p < '0' || *p > '9' || (*p == '0' && p + 1 < end && p[1] >= '0' && p[1] <= '9')) return false;
            uint64_t v = 0;
            for (; p < end && *p >= '0' && *p <= '9'; p++) {
                if (v > (UINT64_MAX - 9) / 10) return false;
                v = v * 10 + (*p - '0');
            }
            if (v > (uint64_t)INT64_MAX + neg) return false;
            it = Item{'i', {}, neg ? (int64_t)(0 - v) : (int64_t)v};
        }
        out->push_back(it);
        return true;
    }
};

char16_t g_wide[1024];
char g_narrow[4096];

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    quiet();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536) return 0;
    char* doc = nullptr;
    size_t n = 0;
    FILE* quiet_out = stdout;
    stdout = open_memstream(&doc, &n);
    check(stdout != nullptr, "standard output is caught");
    // The header every document opens with; where and when it was made
    // depend on the machine and the clock.
    std::vector<Item> want{{'{', {}, 0}, {'k', U"version", 0},  {'i', {}, 1},  {'k', U"computer", 0},
                           {'*', {}, 0}, {'k', U"time_utc", 0}, {'*', {}, 0}, {'k', U"tool_version", 0},
                           {'*', {}, 0}};
    std::vector<char> open{'{'};  // '{' or '[' per level
    json_begin_document();
    // Each step: an opcode byte, then its operand. Inside an object every
    // value gets the key "k".
    for (size_t i = 0; i < size;) {
        uint8_t op = data[i++] % 8;
        if (op == 7) {
            if (open.size() > 1) {
                bool obj = open.back() == '{';
                obj ? json_close() : json_close_array();
                want.push_back(Item{obj ? '}' : ']', {}, 0});
                open.pop_back();
            }
            continue;
        }
        if (open.back() == '{') {
            json_key("k");
            want.push_back(Item{'k', U"k", 0});
        }
        size_t len = i < size ? data[i++] : 0;
        if (op == 0) {  // UTF-16 text: len units
            size_t k = 0;
            for (; k < len && k + 1 < countof(g_wide) && i + 1 < size; k++, i += 2) g_wide[k] = (char16_t)(data[i] | data[i + 1] << 8);
            g_wide[k] = 0;
            json_text16(g_wide);
            want.push_back(Item{'s', from_utf16(g_wide), 0});
        } else if (op == 1) {  // UTF-8 text: len bytes, cut at a NUL
            size_t k = 0;
            for (; k < len && k + 1 < sizeof g_narrow && i < size && data[i]; k++) g_narrow[k] = (char)data[i++];
            g_narrow[k] = 0;
            json_text(g_narrow);
            Item it{'s', {}, 0};
            if (!from_utf8((const unsigned char*)g_narrow, k, &it.text)) it.kind = '?';
            want.push_back(it);
        } else if (op == 2) {
            int64_t v = 0;
            for (int b = 0; b < 8 && i < size; b++) v = (int64_t)((uint64_t)v << 8 | data[i++]);
            json_int(v);
            want.push_back(Item{'i', {}, v});
        } else if (op == 3) {
            json_bool(len & 1);
            want.push_back(Item{'b', {}, (int64_t)(len & 1)});
        } else if (op == 4) {
            json_null();
            want.push_back(Item{'n', {}, 0});
        } else if (open.size() < 7) {  // the program nests no deeper
            op == 5 ? json_open() : json_open_array();
            want.push_back(Item{op == 5 ? '{' : '[', {}, 0});
            open.push_back(op == 5 ? '{' : '[');
        } else {
            json_null();
            want.push_back(Item{'n', {}, 0});
        }
    }
    for (; open.size() > 1; open.pop_back()) {
        open.back() == '{' ? json_close() : json_close_array();
        want.push_back(Item{open.back() == '{' ? '}' : ']', {}, 0});
    }
    json_end_document();
    want.push_back(Item{'}', {}, 0});
    fclose(stdout);
    stdout = quiet_out;

    std::vector<Item> got;
    Reader r{(const unsigned char*)doc, (const unsigned char*)doc + n, &got};
    check(n > 0 && doc[n - 1] == '\n', "a line end closes the document");
    check(r.value(0), "the document is strict JSON");
    r.ws();
    check(r.p == r.end, "nothing follows the document");
    check(got.size() == want.size(), "as many values back as written");
    for (size_t k = 0; k < want.size(); k++) {
        if (want[k].kind == '?') {  // bytes that are not UTF-8: a text, and valid
            check(got[k].kind == 's', "a text with bad bytes is still a text");
            continue;
        }
        if (want[k].kind == '*') {
            check(got[k].kind == 's' || got[k].kind == 'n', "the header's texts are texts");
            continue;
        }
        check(got[k] == want[k], "each value reads back as written");
    }
    free(doc);
    return 0;
}
