// Console output and bounded line input for the screens, through the seam.
#include "app/console.h"

#include <cstdarg>

#include "base/text.h"
#include "sys/sys.h"

namespace {

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

int read_line(char* buf, int size) {
    buf[0] = 0;
    if (g_eof) return 0;
    if (!sys_read_line(buf, (uint32_t)size)) {
        buf[0] = 0;
        g_eof = 1;
        return 0;
    }
    // The rest of an over-long line is dropped: typed for this prompt, it
    // must never answer the next one.
    size_t n = strlen(buf);
    if (n + 1 == (size_t)size && buf[n - 1] != '\n') {
        char rest[256];
        size_t k;
        do {
            if (!sys_read_line(rest, sizeof rest)) {
                g_eof = 1;
                break;
            }
            k = strlen(rest);
        } while (k > 0 && rest[k - 1] != '\n');
    }
    return 1;
}

int is_yes(const char* line) { return (line[0] & ~0x20) == 'Y'; }
