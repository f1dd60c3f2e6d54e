// The data files' paths, beside the executable.
#include "files/datafile.h"

#include "base/text.h"
#include "files/exepath.h"

int data_path(char16_t* out, size_t units, const char* file) {
    if (units == 0) return 0;
    out[0] = 0;
    char16_t exe[PATH_UNITS];
    if (!exe_path(exe, countof(exe))) return 0;
    // Windows paths use backslashes; the simulated machine may hand us a
    // Linux path, so a slash counts as a separator too.
    size_t cut = 0;
    for (size_t i = 0; exe[i]; i++)
        if (exe[i] == u'\\' || exe[i] == u'/') cut = i + 1;
    size_t need = cut;
    for (const char* p = file; *p; p++) need++;
    if (need + 1 > units) return 0;
    for (size_t i = 0; i < cut; i++) out[i] = exe[i];
    out[cut] = 0;
    wcat8(out, units, file);
    return 1;
}
