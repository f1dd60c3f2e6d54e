#include "log/log.h"

#include <cstdarg>
#include <cstdio>

#include "common/shared.h"
#include "common/text.h"
#include "sys/sys.h"

namespace {

void vlog(int64_t now, const char* f, va_list ap) {
    char path[292];
    data_path(path, sizeof path, "device_cleanup_log.txt");
    FILE* fp = fopen(path, "ab");
    if (!fp) return;  // a log we cannot write must not disturb the action
    int t[6];
    sys_local_time(now, t);
    char line[1100];
    size_t n = fmt(line, 64, "[%04d-%02d-%02d %02d:%02d:%02d] ", t[0], t[1], t[2], t[3], t[4], t[5]);
    // At most 1023 bytes of message, cut at a character boundary.
    n += vfmt(line + n, 1024, f, ap);
    line[n++] = '\r';
    line[n++] = '\n';
    fwrite(line, 1, n, fp);
    fclose(fp);
}

}  // namespace

void logline(const char* f, ...) {
    va_list ap;
    va_start(ap, f);
    vlog(sys_now(), f, ap);
    va_end(ap);
}
