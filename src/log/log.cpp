// One log line per event, appended under the log's lock, and its event.
#include "log/log.h"

#include <cstdarg>

#include "base/text.h"
#include "files/datafile.h"
#include "sys/sys.h"

const char16_t EVENT_SOURCE[] = u"Quillfen";

namespace {

// The log must never stall the unattended pass: past this wait the line is
// written without the lock.
constexpr uint32_t LOCK_WAIT_MS = 2000;
// At most 1023 bytes of message, and its terminator.
constexpr size_t MESSAGE_BYTES = 1024;
constexpr int MAX_STRINGS = 8;

// --check's runs write no line at all.
int g_off;

// Once a wait has timed out, whoever holds the lock is stuck: later lines
// only take it when it is free at once.
int g_lock_stuck;

// Static: the line, its arguments, their UTF-16 forms and the paths are too
// large for the stack of a deep caller, and nothing may come from the heap.
char g_line[32 + MESSAGE_BYTES + 2];
char16_t g_path[PATH_UNITS], g_lock_path[PATH_UNITS];
char g_arg[MESSAGE_BYTES];
char16_t g_strings[MAX_STRINGS][MESSAGE_BYTES];

void report(log_event ev, const char* message, const fmt_span* spans, int n) {
    const char16_t* strings[MAX_STRINGS];
    for (int i = 0; i < n; i++) {
        size_t len = spans[i].len < sizeof g_arg ? spans[i].len : sizeof g_arg - 1;
        for (size_t k = 0; k < len; k++) g_arg[k] = message[spans[i].at + k];
        g_arg[len] = 0;
        blank_controls(g_arg);
        utf16(g_arg, g_strings[i], countof(g_strings[i]));
        strings[i] = g_strings[i];
    }
    sys_event_type type = ev >= 3000 ? SYS_EVENT_ERROR : ev >= 2000 ? SYS_EVENT_WARNING : SYS_EVENT_INFO;
    sys_event(EVENT_SOURCE, ev, type, strings, n);  // like the file, the event log never reports its failures
}

void vlog(int64_t now, log_event ev, const char* f, va_list ap) QF_PRINTF(3, 0);
void vlog(int64_t now, log_event ev, const char* f, va_list ap) {
    int t[6];
    sys_local_time(now, t);
    size_t n = fmt(g_line, 32, "[%04d-%02d-%02d %02d:%02d:%02d] ", t[0], t[1], t[2], t[3], t[4], t[5]);
    size_t stamp = n;
    // The message is cut at a character boundary. Device texts in it may
    // hold line breaks: one line of ours stays one line.
    fmt_span spans[MAX_STRINGS];
    int nspans = 0;
    n += vfmt_spans(g_line + n, MESSAGE_BYTES, f, ap, spans, MAX_STRINGS, &nspans);
    if (ev != LOG_FILE_ONLY) report(ev, g_line + stamp, spans, nspans);
    blank_controls(g_line);
    n = strlen(g_line);
    g_line[n++] = '\r';
    g_line[n++] = '\n';
    if (!data_path(g_path, countof(g_path), DATA_LOG) || !data_path(g_lock_path, countof(g_lock_path), DATA_LOG_LOCK))
        return;  // a log we cannot place must not disturb the action
    // Appending handles alone do not keep concurrent writers apart; the lock
    // does.
    sys_lock* lock = sys_lock_take(g_lock_path, g_lock_stuck ? 0 : LOCK_WAIT_MS);
    if (!lock) g_lock_stuck = 1;
    (void)sys_file_append(g_path, g_line, (uint32_t)n);  // the log never reports its own failures
    if (lock) sys_lock_drop(lock);
}

}  // namespace

void log_off(void) { g_off = 1; }

void logline(log_event ev, const char* f, ...) {
    if (g_off) return;
    va_list ap;
    va_start(ap, f);
    vlog(sys_now(), ev, f, ap);
    va_end(ap);
}
