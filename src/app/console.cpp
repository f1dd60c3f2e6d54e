// Console output and bounded line input for the screens, through the seam.
#include "app/console.h"

#include <cstdarg>
#include <cstring>

#include "base/text.h"
#include "sys/sys.h"

namespace {

// Standard input ended: every later prompt reads nothing, as a console would.
int g_eof;

void print(int to_err, const char* f, va_list ap) QF_PRINTF(2, 0);
void print(int to_err, const char* f, va_list ap) {
    char buf[4096];
    size_t n = vfmt(buf, sizeof buf, f, ap);
    if (to_err) sys_err(buf, (uint32_t)n);
    else sys_out(buf, (uint32_t)n);
}

}  // namespace

void out(const char* f, ...) {
    va_list ap;
    va_start(ap, f);
    print(0, f, ap);
    va_end(ap);
}

void err(const char* f, ...) {
    va_list ap;
    va_start(ap, f);
    print(1, f, ap);
    va_end(ap);
}

void verr(const char* f, va_list ap) { print(1, f, ap); }

namespace {

// Whether a read ended its line. The buffer was zeroed before the read, so a
// line feed anywhere in it was read now, even past a NUL byte typed into the
// line, which would stop strlen.
int ended_line(const char* buf, size_t size) { return memchr(buf, '\n', size - 1) != nullptr; }

// Where the rest of an over-long line is read to be dropped (static: the
// caller's buffer is busy holding the answer).
char g_rest[256];

}  // namespace

int read_line(char* buf, int size) {
    buf[0] = 0;
    if (g_eof) return 0;
    memset(buf, 0, (size_t)size);
    if (!sys_read_line(buf, (uint32_t)size)) {
        buf[0] = 0;
        g_eof = 1;
        return 0;
    }
    // The rest of an over-long line is dropped: typed for this prompt, it
    // must never answer the next one. A last line without its line feed
    // meets the end of input here.
    for (int done = ended_line(buf, (size_t)size); !done; done = ended_line(g_rest, sizeof g_rest)) {
        memset(g_rest, 0, sizeof g_rest);
        if (!sys_read_line(g_rest, sizeof g_rest)) {
            g_eof = 1;
            break;
        }
    }
    return 1;
}

int is_yes(const char* line) { return (line[0] & ~0x20) == 'Y'; }
