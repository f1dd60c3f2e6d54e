// UTF-8/UTF-16, lower-casing, comparisons and the bounded formatter.
#include "base/text.h"

namespace {

// Decodes one code point from UTF-16 at w; sets *used to the units consumed.
uint32_t dec16(const char16_t* w, int* used) {
    uint32_t c = w[0];
    *used = 1;
    if (c >= 0xD800 && c <= 0xDBFF) {
        uint32_t d = w[1];
        if (d >= 0xDC00 && d <= 0xDFFF) {
            *used = 2;
            return 0x10000 + ((c - 0xD800) << 10) + (d - 0xDC00);
        }
        return 0xFFFD;
    }
    if (c >= 0xDC00 && c <= 0xDFFF) return 0xFFFD;
    return c;
}

int enc8(uint32_t c, char* o) {
    if (c < 0x80) { o[0] = (char)c; return 1; }
    if (c < 0x800) {
        o[0] = (char)(0xC0 | (c >> 6));
        o[1] = (char)(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        o[0] = (char)(0xE0 | (c >> 12));
        o[1] = (char)(0x80 | ((c >> 6) & 0x3F));
        o[2] = (char)(0x80 | (c & 0x3F));
        return 3;
    }
    o[0] = (char)(0xF0 | (c >> 18));
    o[1] = (char)(0x80 | ((c >> 12) & 0x3F));
    o[2] = (char)(0x80 | ((c >> 6) & 0x3F));
    o[3] = (char)(0x80 | (c & 0x3F));
    return 4;
}

// Decodes one UTF-8 character from s (at most n bytes); *used gets its length.
// Malformed input yields U+FFFD and consumes one byte.
uint32_t dec8(const unsigned char* s, size_t n, int* used) {
    unsigned char b = s[0];
    *used = 1;
    if (b < 0x80) return b;
    int len;
    uint32_t c, min;
    if (b >= 0xC2 && b <= 0xDF) { len = 2; c = b & 0x1F; min = 0x80; }
    else if (b >= 0xE0 && b <= 0xEF) { len = 3; c = b & 0x0F; min = 0x800; }
    else if (b >= 0xF0 && b <= 0xF4) { len = 4; c = b & 0x07; min = 0x10000; }
    else return 0xFFFD;
    if ((size_t)len > n) return 0xFFFD;
    for (int i = 1; i < len; i++) {
        if ((s[i] & 0xC0) != 0x80) return 0xFFFD;
        c = (c << 6) | (s[i] & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0xFFFD;
    *used = len;
    return c;
}

}  // namespace

uint32_t utf8_decode(const char* s, size_t n, int* used) { return dec8((const unsigned char*)s, n, used); }

size_t utf8(const char16_t* w, char* out, size_t size) {
    if (size == 0) return 0;
    size_t o = 0;
    while (*w) {
        int used;
        uint32_t c = dec16(w, &used);
        char tmp[4];
        int k = enc8(c, tmp);
        if (o + (size_t)k > size - 1) break;
        for (int i = 0; i < k; i++) out[o++] = tmp[i];
        w += used;
    }
    out[o] = 0;
    return o;
}

size_t utf16n(const char* s, size_t n, char16_t* out, size_t units) {
    if (units == 0) return 0;
    const unsigned char* p = (const unsigned char*)s;
    size_t i = 0, o = 0;
    while (i < n) {
        int used;
        uint32_t c = dec8(p + i, n - i, &used);
        if (c >= 0x10000) {
            if (o + 2 > units - 1) break;
            c -= 0x10000;
            out[o++] = (char16_t)(0xD800 + (c >> 10));
            out[o++] = (char16_t)(0xDC00 + (c & 0x3FF));
        } else {
            if (o + 1 > units - 1) break;
            out[o++] = (char16_t)c;
        }
        i += (size_t)used;
    }
    out[o] = 0;
    return o;
}

size_t utf16(const char* s, char16_t* out, size_t units) {
    size_t n = 0;
    while (s[n]) n++;
    return utf16n(s, n, out, units);
}

int utf8_chars(const char* s) {
    int n = 0;
    for (; *s; s++) n += ((unsigned char)*s & 0xC0) != 0x80;
    return n;
}

size_t utf8_whole(const char* s, size_t n) {
    // Walk back over continuation bytes to the lead byte of the last character.
    size_t i = n;
    int cont = 0;
    while (i > 0 && cont < 4 && ((unsigned char)s[i - 1] & 0xC0) == 0x80) { i--; cont++; }
    if (i == 0) return n;
    unsigned char b = (unsigned char)s[i - 1];
    int need = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    if (b < 0x80) return n;              // ASCII: nothing torn
    if (need == 1) return n;             // stray continuation bytes: leave them
    return (cont + 1 >= need) ? n : i - 1;
}

void lowerw(char16_t* w) {
    for (; *w; w++)
        if (*w >= u'A' && *w <= u'Z') *w = (char16_t)(*w + 32);
}

void lower_ascii(char* s) {
    for (; *s; s++)
        if (*s >= 'A' && *s <= 'Z') *s = (char)(*s + 32);
}

namespace {

int reshapes(uint32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x200E || c == 0x200F || c == 0x2028 || c == 0x2029 ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

void blank_controls(char* s) {
    size_t n = 0;
    while (s[n]) n++;
    const unsigned char* p = (const unsigned char*)s;
    size_t i = 0, o = 0;
    while (i < n) {
        int used;
        uint32_t c = dec8(p + i, n - i, &used);
        // A byte that starts no valid character is kept as it is, unless a
        // terminal could take it for a C1 control.
        if (c == 0xFFFD && used == 1) c = p[i];
        if (reshapes(c)) {
            s[o++] = ' ';
        } else {
            for (int k = 0; k < used; k++) s[o++] = s[i + k];
        }
        i += (size_t)used;
    }
    s[o] = 0;
}

size_t wlen(const char16_t* w) {
    size_t n = 0;
    while (w[n]) n++;
    return n;
}

int wstarts(const char16_t* s, const char16_t* prefix) {
    for (; *prefix; s++, prefix++)
        if (*s != *prefix) return 0;
    return 1;
}

int wistarts(const char16_t* s, const char16_t* prefix) {
    for (; *prefix; s++, prefix++) {
        char16_t x = *s, y = *prefix;
        if (x >= u'A' && x <= u'Z') x = (char16_t)(x + 32);
        if (y >= u'A' && y <= u'Z') y = (char16_t)(y + 32);
        if (x != y) return 0;
    }
    return 1;
}

int wcontains(const char16_t* hay, const char16_t* needle) {
    if (!*needle) return 1;
    for (; *hay; hay++)
        if (*hay == *needle && wstarts(hay, needle)) return 1;
    return 0;
}

void wcopy_zero(char16_t* dst, const char16_t* src, size_t max) {
    size_t i = 0;
    for (; i < max && src[i]; i++) dst[i] = src[i];
    for (; i < max; i++) dst[i] = 0;
}

size_t wcopy(char16_t* dst, size_t size, const char16_t* src) {
    if (size == 0) return 0;
    size_t n = 0;
    for (; n + 1 < size && src[n]; n++) dst[n] = src[n];
    dst[n] = 0;
    return n;
}

int wicmp(const char16_t* a, const char16_t* b) {
    for (;; a++, b++) {
        char16_t x = *a, y = *b;
        if (x >= u'A' && x <= u'Z') x = (char16_t)(x + 32);
        if (y >= u'A' && y <= u'Z') y = (char16_t)(y + 32);
        if (x != y) return x < y ? -1 : 1;
        if (!x) return 0;
    }
}

void wcat(char16_t* dst, size_t cap, const char16_t* src) {
    if (cap == 0) return;
    size_t n = wlen(dst);
    while (*src && n + 1 < cap) dst[n++] = *src++;
    // Never leave half a surrogate pair at the cut.
    if (*src && n > 0 && dst[n - 1] >= 0xD800 && dst[n - 1] <= 0xDBFF) n--;
    dst[n] = 0;
}

void wcat8(char16_t* dst, size_t cap, const char* ascii) {
    if (cap == 0) return;
    size_t n = wlen(dst);
    while (*ascii && n + 1 < cap) dst[n++] = (char16_t)(unsigned char)*ascii++;
    dst[n] = 0;
}

int ieq_ascii(const char* a, const char* b) {
    for (;; a++, b++) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z') x = (char)(x + 32);
        if (y >= 'A' && y <= 'Z') y = (char)(y + 32);
        if (x != y) return 0;
        if (!x) return 1;
    }
}

void scopy(char* dst, size_t size, const char* src) {
    if (size == 0) return;
    size_t i = 0;
    for (; i + 1 < size && src[i]; i++) dst[i] = src[i];
    dst[i] = 0;
}

int64_t parse_int(const char* s, int64_t lo, int64_t hi) {
    while (*s == ' ' || (*s >= '\t' && *s <= '\r')) s++;
    int neg = 0;
    if (*s == '+' || *s == '-') neg = (*s++ == '-');
    // Accumulate as a negative number so INT64_MIN is reachable; saturate.
    int64_t v = 0;
    int big = 0;
    for (; *s >= '0' && *s <= '9'; s++) {
        int d = *s - '0';
        if (big) continue;
        if (v < (INT64_MIN + d) / 10) { big = 1; continue; }
        v = v * 10 - d;
    }
    if (big) return neg ? lo : hi;
    if (!neg) {
        if (v == INT64_MIN) return hi;  // 9223372036854775808 does not fit positive
        v = -v;
    }
    if (v < lo) return lo;
    if (v > hi) return hi;
    return v;
}

int64_t add_sat(int64_t a, int64_t b) {
    if (b > 0 && a > INT64_MAX - b) return INT64_MAX;
    if (b < 0 && a < INT64_MIN - b) return INT64_MIN;
    return a + b;
}

namespace {

struct Out {
    char* p;
    size_t size;
    size_t n;
    int full;
};

void put(Out* o, const char* s, size_t k) {
    if (o->full) return;
    if (o->n + k > o->size - 1) {
        size_t room = o->size - 1 - o->n;
        size_t keep = utf8_whole(s, room);
        // utf8_whole only trims a character torn at the end of the piece.
        for (size_t i = 0; i < keep; i++) o->p[o->n++] = s[i];
        o->full = 1;
        return;
    }
    for (size_t i = 0; i < k; i++) o->p[o->n++] = s[i];
}

void pad(Out* o, size_t k, char c) {
    for (size_t i = 0; i < k; i++) put(o, &c, 1);
}

}  // namespace

size_t vfmt(char* out, size_t size, const char* f, va_list ap) {
    int n;
    return vfmt_spans(out, size, f, ap, nullptr, 0, &n);
}

size_t vfmt_spans(char* out, size_t size, const char* f, va_list ap, fmt_span* spans, int max, int* nspans) {
    *nspans = 0;
    if (size == 0) return 0;
    Out o{out, size, 0, 0};
    while (*f) {
        if (*f != '%') {
            const char* start = f;
            while (*f && *f != '%') f++;
            put(&o, start, (size_t)(f - start));
            continue;
        }
        f++;
        int left = 0, zero = 0;
        for (;; f++) {
            if (*f == '-') left = 1;
            else if (*f == '0') zero = 1;
            else break;
        }
        size_t width = 0;
        while (*f >= '0' && *f <= '9') width = width * 10 + (size_t)(*f++ - '0');
        int lng = 0;
        while (*f == 'l') { lng++; f++; }
        char conv = *f ? *f++ : 0;
        char num[32];
        const char* text = num;
        size_t tlen = 0;
        size_t at = o.n;
        // Anything else (%zu, %ls, %x, a precision...) would read its
        // argument as the wrong type: stop here rather than guess.
        int known = ((conv == 's' || conv == 'c' || conv == '%') && lng == 0) ||
                    ((conv == 'd' || conv == 'u') && lng <= 2);
        if (!known) break;
        if (conv == 's') {
            text = va_arg(ap, const char*);
            if (!text) text = "(null)";
            while (text[tlen]) tlen++;
        } else if (conv == 'c') {
            num[0] = (char)va_arg(ap, int);
            tlen = 1;
        } else if (conv == 'd' || conv == 'u') {
            int neg = 0;
            uint64_t u;
            if (conv == 'd') {
                int64_t v = lng >= 2 ? va_arg(ap, long long) : lng == 1 ? va_arg(ap, long) : va_arg(ap, int);
                neg = v < 0;
                u = neg ? (uint64_t)0 - (uint64_t)v : (uint64_t)v;
            } else {
                u = lng >= 2 ? va_arg(ap, unsigned long long) : lng == 1 ? va_arg(ap, unsigned long) : va_arg(ap, unsigned);
            }
            char rev[24];
            int k = 0;
            do { rev[k++] = (char)('0' + u % 10); u /= 10; } while (u);
            if (neg) num[tlen++] = '-';
            while (k) num[tlen++] = rev[--k];
            if (zero && !left && width > tlen) {
                // Zeros go between the sign and the digits.
                if (neg) put(&o, "-", 1);
                pad(&o, width - tlen, '0');
                put(&o, num + neg, tlen - (size_t)neg);
                if (spans && *nspans < max) spans[(*nspans)++] = fmt_span{at, o.n - at};
                continue;
            }
        } else {
            put(&o, "%", 1);
            continue;
        }
        if (!left && width > tlen) pad(&o, width - tlen, ' ');
        at = o.n;
        put(&o, text, tlen);
        if (spans && *nspans < max) spans[(*nspans)++] = fmt_span{at, o.n - at};
        if (left && width > tlen) pad(&o, width - tlen, ' ');
    }
    out[o.n] = 0;
    return o.n;
}

size_t fmt(char* out, size_t size, const char* f, ...) {
    va_list ap;
    va_start(ap, f);
    size_t n = vfmt(out, size, f, ap);
    va_end(ap);
    return n;
}

uint64_t fnv_text(uint64_t h, const char* s) {
    for (; *s; s++) h = fnv_step(h, (unsigned char)*s);
    return h;
}

uint64_t fnv_bytes(uint64_t h, const void* p, size_t n) {
    const unsigned char* b = static_cast<const unsigned char*>(p);
    for (size_t i = 0; i < n; i++) h = fnv_step(h, b[i]);
    return h;
}

uint64_t fnv_folded(uint64_t h, const char* s) {
    for (; *s; s++) h = fnv_step(h, *s >= 'A' && *s <= 'Z' ? *s + 32 : (unsigned char)*s);
    return h;
}

uint64_t fnv_folded16(uint64_t h, const char16_t* s) {
    for (; *s; s++) h = fnv_step(h, *s >= u'A' && *s <= u'Z' ? *s + 32 : *s);
    return h;
}
