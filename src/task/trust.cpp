// The trust rule for permission lists, and the walk up the program's path.
#include "task/trust.h"

#include "base/text.h"
#include "files/datafile.h"
#include "files/exepath.h"

namespace {

// Access rights, as the permission lists hold them.
constexpr uint32_t WRITE_DATA = 0x0002;    // on a folder: create files
constexpr uint32_t APPEND_DATA = 0x0004;   // on a folder: create folders
constexpr uint32_t DELETE_CHILD = 0x0040;  // folders only
constexpr uint32_t DELETE_IT = 0x00010000;
constexpr uint32_t WRITE_DAC = 0x00040000;
constexpr uint32_t WRITE_OWNER = 0x00080000;
constexpr uint32_t GENERIC_ALL = 0x10000000;
constexpr uint32_t GENERIC_WRITE = 0x40000000;

constexpr uint32_t CHANGES_ABOVE = DELETE_CHILD | DELETE_IT | WRITE_DAC | WRITE_OWNER | GENERIC_ALL | GENERIC_WRITE;
constexpr uint32_t CHANGES_FILE = WRITE_DATA | APPEND_DATA | DELETE_IT | WRITE_DAC | WRITE_OWNER | GENERIC_ALL |
                                  GENERIC_WRITE;
constexpr uint32_t CHANGES_FOLDER = CHANGES_FILE | DELETE_CHILD;

int trusted(principal w) { return w == PRINCIPAL_SYSTEM || w == PRINCIPAL_ADMINS || w == PRINCIPAL_INSTALLER; }

// What an entry lets others do to a file created in the folder later.
int gives_files(const sys_ace& a) {
    return a.files_inherit && a.who != PRINCIPAL_CREATOR_OWNER && !trusted(a.who) && (a.mask & CHANGES_FILE);
}

int is_sep(char16_t c) { return c == u'\\' || c == u'/'; }

// Length of the part of a path that names its root: "C:\", "\\server\share\",
// "\\?\C:\", "/" (the simulated machine's paths).
size_t root_len(const char16_t* p) {
    size_t i = 0;
    int unc = 0;
    if (wstarts(p, u"\\\\?\\UNC\\")) {
        i = 8;
        unc = 1;
    } else if (wstarts(p, u"\\\\?\\")) {
        i = 4;
    } else if (is_sep(p[0]) && is_sep(p[1])) {
        i = 2;
        unc = 1;
    }
    if (unc) {
        for (int part = 0; part < 2 && p[i]; part++) {
            while (p[i] && !is_sep(p[i])) i++;
            if (p[i]) i++;
        }
        return i;
    }
    if (p[i] && p[i + 1] == u':' && is_sep(p[i + 2])) return i + 3;
    return is_sep(p[i]) ? i + 1 : 0;
}

// Cuts path to its folder: without its trailing separator, but the root
// with it. 0 when there is none above.
int up(char16_t* path, size_t root) {
    size_t n = wlen(path);
    if (n <= root) return 0;
    size_t cut = n;
    while (cut > 0 && !is_sep(path[cut - 1])) cut--;
    if (cut == 0) return 0;  // a bare file name
    path[cut - 1 < root ? root : cut - 1] = 0;
    return 1;
}

// The entries of the object being checked: static, as 64 of them are 1 KB.
sys_ace g_aces[SYS_MAX_ACES];

int check(const char16_t* path, trust_role role) {
    principal owner = PRINCIPAL_OTHER;
    int n = 0;
    // What cannot be read cannot be shown to be safe.
    return sys_file_access(path, &owner, g_aces, &n) && trust_safe(owner, g_aces, n, role);
}

}  // namespace

int trust_safe(principal owner, const sys_ace* aces, int n, trust_role role) {
    // An owner can always change the permissions.
    if (!trusted(owner)) return 0;
    uint32_t changes = role == TRUST_FILE ? CHANGES_FILE : role == TRUST_OWN_FOLDER ? CHANGES_FOLDER : CHANGES_ABOVE;
    for (int i = 0; i < n; i++) {
        if (!aces[i].inherit_only && !trusted(aces[i].who) && (aces[i].mask & changes)) return 0;
        if (role == TRUST_OWN_FOLDER && gives_files(aces[i])) return 0;
    }
    return 1;
}

int trust_folder(const char16_t* dir, const char16_t* file) {
    if (sys_file_exists(file) && !check(file, TRUST_FILE)) return 0;
    char16_t path[PATH_UNITS];
    path[0] = 0;
    wcat(path, countof(path), dir);
    size_t root = root_len(path);
    size_t n = wlen(path);
    if (n > root && is_sep(path[n - 1])) path[n - 1] = 0;
    for (trust_role role = TRUST_OWN_FOLDER;; role = TRUST_ABOVE) {
        if (!check(path, role)) return 0;
        if (!up(path, root)) return 1;
    }
}

trust_verdict trust_check(char16_t* where, size_t units) {
    where[0] = 0;
    char16_t path[PATH_UNITS];
    exe_found how;
    if (!exe_path(path, countof(path), &how)) return TRUST_OK;  // the install itself then fails
    // First, whichever path was had: a path this long is refused whatever
    // else is wrong with it, and a system may give no final path for it at
    // all. A final path this long keeps its "\\?\" prefix, which the task's
    // Command would hold too.
    const char16_t* plain = wstarts(path, u"\\\\?\\") ? path + 4 : path;
    if (wlen(plain) > TASK_PATH_MAX) {
        wcat(where, units, plain);
        return TRUST_TOO_LONG;
    }
    if (how != EXE_FINAL) {
        wcat(where, units, path);
        return TRUST_NOT_LOCAL;
    }
    if (wcontains(path, u"%")) return TRUST_PERCENT;
    size_t root = root_len(path);
    // Removable and network volumes can be swapped or changed from elsewhere.
    wcat(where, units, path);
    up(where, root);
    if (sys_volume_type(where) != SYS_VOLUME_FIXED) return TRUST_NOT_LOCAL;
    where[0] = 0;
    for (trust_role role = TRUST_FILE;; role = role == TRUST_FILE ? TRUST_OWN_FOLDER : TRUST_ABOVE) {
        if (!check(path, role)) {
            wcat(where, units, path);
            return TRUST_UNSAFE;
        }
        if (!up(path, root)) break;  // the root was the last one
    }
    if (data_path(path, countof(path), DATA_BLACKLIST) && sys_file_exists(path) && !check(path, TRUST_FILE)) {
        wcat(where, units, path);
        return TRUST_UNSAFE;
    }
    return TRUST_OK;
}
