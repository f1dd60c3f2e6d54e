// The JSON writer: escaping, commas, and a buffer that goes out in pieces.
#include "app/json.h"

#include "base/calendar.h"
#include "base/text.h"
#include "sys/sys.h"
#include "version.h"

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

// The document's bytes on their way to standard output, in pieces.
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

// One UTF-16 unit as \uXXXX: Windows PowerShell 5.1 reads a program's
// output in the console's code page, so only ASCII arrives intact.
void put_unit(uint32_t u) {
    const char* hex = "0123456789abcdef";
    char e[6] = {'\\', 'u', hex[(u >> 12) & 15], hex[(u >> 8) & 15], hex[(u >> 4) & 15], hex[u & 15]};
    put(e, sizeof e);
}

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

}  // namespace

void json_begin_document(void) {
    g_w = Writer{g_out, sizeof g_out, 0, 1, 0, {1}, 0};
    json_open();
    json_key("version");
    json_int(1);
    // Where and when it came from, for an inventory of many PCs.
    char16_t computer[64];
    json_key("computer");
    if (sys_computer_name(computer, countof(computer))) json_text16(computer);
    else json_null();
    char utc[32];
    json_utc(sys_now(), utc);
    json_key("time_utc");
    json_text(utc);
    json_key("tool_version");
    json_text(QF_VERSION);
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
    size_t n = strlen(s);
    for (size_t i = 0; i < n;) {
        int used;
        // Bytes that are not UTF-8 come out as U+FFFD.
        uint32_t c = utf8_decode(s + i, n - i, &used);
        if (c == '"' || c == '\\') {
            char e[2] = {'\\', (char)c};
            put(e, 2);
        } else if (c >= 0x20 && c <= 0x7E) {
            put(s + i, 1);
        } else if (c < 0x10000) {
            put_unit(c);
        } else {
            // Above U+FFFF: its surrogate pair.
            c -= 0x10000;
            put_unit(0xD800 + (c >> 10));
            put_unit(0xDC00 + (c & 0x3FF));
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
    int c[6];
    utc_calendar(t, c);
    fmt(out, 32, "%04d-%02d-%02dT%02d:%02d:%02dZ", c[0], c[1], c[2], c[3], c[4], c[5]);
}
