// One log line per event, appended under the log's lock.
#include "log/log.h"

#include <cstdarg>

#include "base/text.h"
#include "files/datafile.h"
#include "sys/sys.h"

namespace {

// The log must never stall the unattended pass: past this wait the line is
// written without the lock.
constexpr uint32_t LOCK_WAIT_MS = 2000;
// At most 1023 bytes of message, and its terminator.
constexpr size_t MESSAGE_BYTES = 1024;

void vlog(int64_t now, const char* f, va_list ap) {
    static char16_t path[PATH_UNITS], lock_path[PATH_UNITS];
    if (!data_path(path, countof(path), "device_cleanup_log.txt") ||
        !data_path(lock_path, countof(lock_path), "device_cleanup_log.txt.lock"))
        return;  // a log we cannot place must not disturb the action
    int t[6];
    sys_local_time(now, t);
    char stamp[32], line[sizeof stamp + MESSAGE_BYTES + 2];
    size_t n = fmt(stamp, sizeof stamp, "[%04d-%02d-%02d %02d:%02d:%02d] ", t[0], t[1], t[2], t[3], t[4], t[5]);
    memcpy(line, stamp, n);
    // The message is cut at a character boundary. Device texts in it may
    // hold line breaks: one line of ours stays one line.
    n += vfmt(line + n, MESSAGE_BYTES, f, ap);
    blank_controls(line);
    line[n++] = '\r';
    line[n++] = '\n';
    // Appending handles alone do not keep concurrent writers apart; the lock
    // does.
    sys_lock* lock = sys_lock_take(lock_path, LOCK_WAIT_MS);
    (void)sys_file_append(path, line, (uint32_t)n);  // the log never reports its own failures
    if (lock) sys_lock_drop(lock);
}

}  // namespace

void logline(const char* f, ...) {
    va_list ap;
    va_start(ap, f);
    vlog(sys_now(), f, ap);
    va_end(ap);
}
