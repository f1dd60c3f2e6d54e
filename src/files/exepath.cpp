// The executable's final path, or the path it was loaded by.
#include "files/exepath.h"

#include "base/text.h"
#include "sys/sys.h"

namespace {

// Below this length a path works without the "\\?\" prefix (MAX_PATH).
constexpr size_t PLAIN_PATH_UNITS = 260;

int is_letter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

size_t copy_out(const char16_t* p, char16_t* out, size_t units) {
    size_t n = wlen(p);
    if (n + 1 > units) return 0;  // a cut path would name another file
    for (size_t i = 0; i <= n; i++) out[i] = p[i];
    return n;
}

}  // namespace

size_t exe_from_final(const char16_t* p, char16_t* out, size_t units) {
    if (units) out[0] = 0;
    if (wstarts(p, u"\\\\?\\")) {
        const char16_t* rest = p + 4;
        // Only a drive letter: a share or a volume without a letter is not
        // a place the task can rely on.
        if (!is_letter(rest[0]) || rest[1] != u':' || rest[2] != u'\\') return 0;
        return copy_out(wlen(rest) < PLAIN_PATH_UNITS ? rest : p, out, units);
    }
    if ((p[0] == u'\\' || p[0] == u'/') && (p[1] == u'\\' || p[1] == u'/')) return 0;
    return copy_out(p, out, units);
}

size_t exe_path(char16_t* out, size_t units, exe_found* how) {
    if (units) out[0] = 0;
    if (how) *how = EXE_AS_LOADED;
    // GetModuleFileNameW gives the path as loaded, through any junction or
    // link; the task's SYSTEM run would follow them to the real folder.
    char16_t final_path[PATH_UNITS + 8];  // room for the "\\?\UNC\" prefix
    if (sys_exe_final_path(final_path, countof(final_path))) {
        size_t n = exe_from_final(final_path, out, units);
        if (n) {
            if (how) *how = EXE_FINAL;
            return n;
        }
    }
    return sys_exe_loaded_path(out, (uint32_t)units);
}
