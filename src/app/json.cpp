// The JSON writer: escaping, commas, and a buffer that goes out in pieces.
#include "app/json.h"

#include "base/text.h"
#include "sys/sys.h"

namespace {

constexpr int MAX_DEPTH = 8;

struct Writer {
    char* buf;
    size_t size;  // room for the bytes and a terminator
    size_t n;
    int to_stdout;
    int depth;
    int first[MAX_DEPTH];  // no value yet at this depth
    int after_key;
};

char g_out[8192];

// A UTF-16 text on its way out: static, as device texts reach 1.5 KB.
char g_text[4 * 1024];
Writer g_w{g_out, sizeof g_out, 0, 1, 0, {1}, 0};

// Writes out what is buffered (standard output only).
void flush(void) {
    if (!g_w.to_stdout) return;
    sys_out(g_w.buf, (uint32_t)g_w.n);
    g_w.n = 0;
}

void put(const char* s, size_t k) {
    for (size_t i = 0; i < k; i++) {
        if (g_w.n + 1 >= g_w.size) {
            if (!g_w.to_stdout) return;  // a test's buffer: the rest is cut
            flush();
        }
        g_w.buf[g_w.n++] = s[i];
    }
    g_w.buf[g_w.n] = 0;
}

void puts_(const char* s) { put(s, strlen(s)); }

// The comma before a value, unless it follows its key.
void value_start(void) {
    if (g_w.after_key) {
        g_w.after_key = 0;
        return;
    }
    if (!g_w.first[g_w.depth]) put(",", 1);
    g_w.first[g_w.depth] = 0;
}

void open_(char c) {
    value_start();
    put(&c, 1);
    if (g_w.depth + 1 < MAX_DEPTH) g_w.depth++;
    g_w.first[g_w.depth] = 1;
}

void close_(char c) {
    if (g_w.depth > 0) g_w.depth--;
    put(&c, 1);
}

// Decodes one UTF-8 character; 0 for bytes that are not one (then *used = 1).
uint32_t dec(const unsigned char* s, size_t n, int* used) {
    unsigned char b = s[0];
    *used = 1;
    if (b < 0x80) return b;
    int len = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    if (len == 0 || (size_t)len > n) return 0;
    uint32_t c = b & (len == 2 ? 0x1F : len == 3 ? 0x0F : 0x07);
    for (int i = 1; i < len; i++) {
        if ((s[i] & 0xC0) != 0x80) return 0;
        c = (c << 6) | (s[i] & 0x3F);
    }
    uint32_t min = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    *used = len;
    return c;
}

}  // namespace

void json_begin_document(void) {
    g_w = Writer{g_out, sizeof g_out, 0, 1, 0, {1}, 0};
    json_open();
    json_key("version");
    json_int(1);
}

void json_end_document(void) {
    json_close();
    put("\n", 1);
    flush();
}

void json_to_buffer(char* buf, size_t size) {
    g_w = Writer{buf, size, 0, 0, 0, {1}, 0};
    if (size) buf[0] = 0;
}



void json_open(void) { open_('{'); }
void json_close(void) { close_('}'); }
void json_open_array(void) { open_('['); }
void json_close_array(void) { close_(']'); }

void json_key(const char* key) {
    value_start();
    put("\"", 1);
    puts_(key);
    put("\":", 2);
    g_w.after_key = 1;
}

void json_text(const char* s) {
    if (!s) {
        json_null();
        return;
    }
    value_start();
    put("\"", 1);
    const unsigned char* p = (const unsigned char*)s;
    size_t n = strlen(s);
    for (size_t i = 0; i < n;) {
        int used;
        uint32_t c = dec(p + i, n - i, &used);
        if (c == 0 && p[i] != 0) {
            put("\xEF\xBF\xBD", 3);  // U+FFFD
        } else if (c == '"' || c == '\\') {
            char e[2] = {'\\', (char)c};
            put(e, 2);
        } else if (c < 0x20) {
            char e[8];
            fmt(e, sizeof e, "\\u%c%c%c%c", '0', '0', "0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]);
            put(e, 6);
        } else {
            put(s + i, (size_t)used);
        }
        i += (size_t)used;
    }
    put("\"", 1);
}

void json_text16(const char16_t* s) {
    utf8(s, g_text, sizeof g_text);
    json_text(g_text);
}

void json_int(int64_t v) {
    value_start();
    char num[24];
    put(num, fmt(num, sizeof num, "%lld", (long long)v));
}

void json_bool(int v) {
    value_start();
    puts_(v ? "true" : "false");
}

void json_null(void) {
    value_start();
    puts_("null");
}

void json_utc(int64_t t, char* out) {
    // 0000-01-01 and 9999-12-31 23:59:59, in seconds since 1970.
    const int64_t lo = -62167219200LL, hi = 253402300799LL;
    if (t < lo) t = lo;
    if (t > hi) t = hi;
    int64_t days = t >= 0 ? t / 86400 : -((-t + 86399) / 86400);
    int64_t secs = t - days * 86400;
    // Days since 1970 to a civil date (proleptic Gregorian), by eras of 400
    // years.
    int64_t z = days + 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = yoe + era * 400;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int64_t d = doy - (153 * mp + 2) / 5 + 1;
    int64_t m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) y++;
    fmt(out, 32, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", (long long)y, (long long)m, (long long)d,
        (long long)(secs / 3600), (long long)(secs % 3600 / 60), (long long)(secs % 60));
}
