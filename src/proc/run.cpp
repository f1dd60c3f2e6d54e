// The system programs' runner and the quoting of their arguments.
#include "proc/run.h"

#include "base/text.h"
#include "log/log.h"
#include "sys/sys.h"

namespace {

constexpr uint32_t RUN_TIMEOUT_MS = 30000;

// Whether a program of this process was stopped at its time limit, for the
// exit code of the mode that ran it.
int g_timed_out;

}  // namespace

int add_arg(char16_t* line, size_t cap, const char16_t* arg) {
    size_t n = wlen(line);
    auto put = [&](char16_t c) {
        if (n + 1 < cap) line[n] = c;
        n++;
    };
    put(u'"');
    for (const char16_t* p = arg;; p++) {
        size_t bs = 0;
        while (*p == u'\\') bs++, p++;
        // Backslashes count double only before a quote, the closing one included.
        if (*p == 0 || *p == u'"') bs *= 2;
        for (size_t i = 0; i < bs; i++) put(u'\\');
        if (*p == 0) break;
        if (*p == u'"') put(u'\\');
        put(*p);
    }
    put(u'"');
    if (n + 1 > cap) {
        line[cap - 1] = 0;
        return 0;
    }
    line[n] = 0;
    return 1;
}

int run_silent(const char* program, const char16_t* args, int* code) {
    // By full path from the system directory, which is also the working
    // directory: no search path, no current directory, no command
    // interpreter and its AutoRun.
    char16_t dir[PATH_UNITS], path[PATH_UNITS], line[RUN_LINE_UNITS];
    if (!sys_system_dir(dir, countof(dir))) return 0;
    path[0] = 0;
    wcat(path, countof(path), dir);
    wcat8(path, countof(path), "\\");
    wcat8(path, countof(path), program);
    line[0] = 0;
    if (wlen(path) + 1 >= countof(path) || !add_arg(line, countof(line), path)) return 0;
    wcat8(line, countof(line), " ");
    size_t room = countof(line) - wlen(line);
    if (wlen(args) + 1 > room) return 0;
    wcat(line, countof(line), args);
    sys_run_result r = sys_run(path, line, dir, RUN_TIMEOUT_MS, code);
    if (r == SYS_RUN_TIMEOUT) {
        logline(EV_PROGRAM_TIMEOUT, "系统程序超时 | %s", program);
        g_timed_out = 1;
    }
    return r == SYS_RUN_EXITED;
}

int run_timed_out(void) { return g_timed_out; }
