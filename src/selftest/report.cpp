// The self-test's output: plain English lines on standard output.
#include "selftest/report.h"

#include "sys/sys.h"

namespace {

int g_step;
int g_count[3];

void vline(const char* lead, const char* f, va_list ap) {
    static char line[4096];
    size_t n = fmt(line, sizeof line, "%s", lead);
    n += vfmt(line + n, sizeof line - n, f, ap);
    if (n + 1 < sizeof line) line[n++] = '\n';
    sys_out(line, (uint32_t)n);
}

}  // namespace

void say(const char* f, ...) {
    va_list ap;
    va_start(ap, f);
    vline("   ", f, ap);
    va_end(ap);
}

void step(const char* title) {
    char line[512];
    size_t n = fmt(line, sizeof line, "\n== %d. %s\n", ++g_step, title);
    sys_out(line, (uint32_t)n);
}

void judge(verdict v, const char* f, ...) {
    static const char* const LEAD[] = {"   PASS    ", "   FAIL    ", "   CANNOT  "};
    g_count[v]++;
    va_list ap;
    va_start(ap, f);
    vline(LEAD[v], f, ap);
    va_end(ap);
}

int verdicts(verdict v) { return g_count[v]; }
