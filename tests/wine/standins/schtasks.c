/* Stand-in for schtasks: records its command line, keeps a copy of a task
 * definition handed over with /XML (C:\standin\task.<n>.xml for the n-th one)
 * and exits with the chosen code. When C:\standin\schtasks.noevents exists it
 * refuses, with 1, a definition that holds a device-event trigger, as a
 * system without that event log does. Its last act is to create
 * C:\standin\schtasks.done, which holder.exe waits for. */
#include "standin.h"

#include <shellapi.h>

int main(void) {
    standin_record("schtasks");
    int argc = 0, refuse = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; argv && i + 1 < argc; i++) {
        if (lstrcmpiW(argv[i], L"/XML") != 0) continue;
        static int n;
        static WCHAR copy[MAX_PATH];
        do wsprintfW(copy, L"C:\\standin\\task.%d.xml", ++n);
        while (GetFileAttributesW(copy) != INVALID_FILE_ATTRIBUTES);
        CopyFileW(argv[i + 1], copy, TRUE);
        FILE* f = _wfopen(argv[i + 1], L"rb");
        static char raw[1 << 16];
        size_t len = f ? fread(raw, 1, sizeof raw, f) : 0;
        if (f) fclose(f);
        static const WCHAR event[] = L"<EventTrigger>";
        for (size_t k = 0; k + sizeof event - 2 <= len; k += 2)
            if (memcmp(raw + k, event, sizeof event - 2) == 0) refuse = 1;
    }
    if (argv) LocalFree(argv);
    int code = standin_exit_code("schtasks");
    if (refuse && GetFileAttributesW(L"C:\\standin\\schtasks.noevents") != INVALID_FILE_ATTRIBUTES) code = 1;
    FILE* done = fopen("C:\\standin\\schtasks.done", "wb");
    if (done) fclose(done);
    return code;
}
