#include "common/shared.h"

#include "common/text.h"
#include "sys/sys.h"

DeviceEntry g_dev[DEV_MAX];
int g_n;
BlacklistEntry g_bl[BL_MAX];
int g_bn;
char16_t g_key[KEY_UNITS];
int g_force;

const char16_t TASK_NAME[] = u"Quillfen-Enforce";

void exe_dir(char* out, unsigned size) {
    char path[260];
    path[0] = 0;
    uint32_t n = sys_exe_path_a(path, sizeof path);
    if (n >= sizeof path) n = sizeof path - 1;
    path[n] = 0;
    // Windows paths use backslashes; the simulated machine may hand us a
    // Linux path, so a slash counts as a separator too.
    int cut = -1;
    for (int i = 0; path[i]; i++)
        if (path[i] == '\\' || path[i] == '/') cut = i;
    path[cut + 1] = 0;
    scopy(out, size, path);
}

void data_path(char* out, unsigned size, const char* file) {
    exe_dir(out, size);
    size_t n = 0;
    while (out[n]) n++;
    scopy(out + n, size - n, file);
}
