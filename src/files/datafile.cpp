// The data files' names and paths, beside the executable.
#include "files/datafile.h"

#include "files/exepath.h"

namespace {

// In the order of enum data_file.
const char* const NAMES[] = {
    "blacklist.tsv", "blacklist.tsv.tmp", "blacklist.tsv.lock", "device_cleanup_log.txt", "device_cleanup_log.txt.lock",
    "Quillfen-Enforce.xml", "blacklist-models.tsv", "blacklist-models.tsv.tmp", "blacklist-rules.tsv",
    "blacklist-rules.tsv.tmp", "policy-snapshot.tsv", "policy-snapshot.tsv.tmp",
};
static_assert(countof(NAMES) == DATA_POLICY_TMP + 1, "one name for each data file");

int path_of(char16_t* out, size_t units, const char* file) {
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

}  // namespace

const char* data_file_name(data_file f) { return NAMES[f]; }

int data_path(char16_t* out, size_t units, data_file f) { return path_of(out, units, NAMES[f]); }

int data_dir(char16_t* out, size_t units) { return path_of(out, units, ""); }
