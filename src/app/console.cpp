// Console output and bounded line input for the screens, through the seam.
#include "app/console.h"

#include <cstdarg>

#include "base/text.h"
#include "sys/sys.h"

namespace {
int g_eof;
}

void out(const char* f, ...) {
    char buf[4096];
    va_list ap;
    va_start(ap, f);
    size_t n = vfmt(buf, sizeof buf, f, ap);
    va_end(ap);
    sys_out(buf, (uint32_t)n);
}

void err(const char* f, ...) {
    char buf[4096];
    va_list ap;
    va_start(ap, f);
    size_t n = vfmt(buf, sizeof buf, f, ap);
    va_end(ap);
    sys_err(buf, (uint32_t)n);
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
