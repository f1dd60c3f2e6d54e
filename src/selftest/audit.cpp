// The audit setting through auditpol: "auditpol /backup" writes the
// policy as CSV, whose Setting Value column is 1 success, 2 failure, 3 both
// and 0 or 4 none ([MS-GPAC] 2.2.1.3.1).
#include "selftest/audit.h"

#include "files/wholefile.h"
#include "proc/run.h"
#include "sys/sys.h"

namespace {

const char PNP_GUID[] = "{0CCE9248-69AE-11D9-BED3-505054503030}";
const char BACKUP_FILE[] = "quillfen-selftest-audit.csv";

// The Setting Value of the row naming the subcategory; -1 when none does.
// NUL bytes are dropped, so that a UTF-16 file reads as its ASCII.
int setting_in(const char16_t* path) {
    static char text[1 << 19];
    size_t got, n = 0;
    (void)whole_file_read(path, text, sizeof text - 1, &got);  // none read: no row, -1
    for (size_t i = 0; i < got; i++)
        if (text[i]) text[n++] = text[i];
    text[n] = 0;
    lower_ascii(text);
    char guid[sizeof PNP_GUID];
    scopy(guid, sizeof guid, PNP_GUID);
    lower_ascii(guid);
    const char* row = strstr(text, guid);
    if (!row) return -1;
    const char* end = row;
    while (*end && *end != '\r' && *end != '\n') end++;
    const char* last = end;
    while (last > row && last[-1] != ',') last--;
    if (last == end || *last < '0' || *last > '4') return -1;
    return *last == '4' ? 0 : *last - '0';
}

}  // namespace

int audit_pnp_read(const Tested& t) {
    char16_t path[PATH_UNITS], args[RUN_LINE_UNITS];
    if (!tested_file(t, BACKUP_FILE, path, countof(path)) || !sys_file_delete(path)) return -1;
    // /file:"<path>" is one argument however auditpol splits its command
    // line; a Windows path holds no quote.
    args[0] = 0;
    wcat8(args, countof(args), "/backup /file:\"");
    wcat(args, countof(args), path);
    wcat8(args, countof(args), "\"");
    int code = -1;
    int setting = run_silent("auditpol.exe", args, &code) && code == 0 ? setting_in(path) : -1;
    (void)sys_file_delete(path);
    return setting;
}

int audit_pnp_set(int setting) {
    char a[160];
    fmt(a, sizeof a, "/set /subcategory:%s /success:%s /failure:%s", PNP_GUID, setting & 1 ? "enable" : "disable",
        setting & 2 ? "enable" : "disable");
    char16_t args[160];
    utf16(a, args, countof(args));
    int code = -1;
    return run_silent("auditpol.exe", args, &code) && code == 0;
}
