// A small data file read and written whole.
#include "files/wholefile.h"

sys_read whole_file_read(const char16_t* path, char* buf, size_t size, size_t* n) {
    *n = 0;
    sys_read r;
    sys_file* f = sys_file_open(path, &r);
    if (!f) return r == SYS_READ_MISSING ? SYS_READ_MISSING : SYS_READ_FAILED;
    uint32_t got = 0;
    int ok;
    while ((ok = sys_file_next(f, buf + *n, (uint32_t)(size - *n), &got)) && got > 0) {
        *n += got;
        if (*n == size) ok = 0;  // full, and maybe more to come
        if (!ok) break;
    }
    sys_file_close(f);
    return ok ? SYS_READ_OK : SYS_READ_FAILED;
}

int whole_file_write(const char16_t* path, const char16_t* tmp, const char* bytes, size_t n) {
    (void)sys_file_delete(tmp);
    int ok = n && sys_file_create(tmp, bytes, (uint32_t)n);
    if (ok && sys_file_replace(tmp, path)) return 1;
    if (ok) (void)sys_file_delete(tmp);
    return 0;
}
