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
    return 1;
}
