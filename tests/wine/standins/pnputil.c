/* Stand-in for pnputil: records its command line and, for
 * "pnputil /remove-device <id>", deletes the device's key under
 * HKLM\System\CurrentControlSet\Enum, which is where the Wine prefix keeps
 * the test devices. Writes the outcome of the deletion (the registry's error
 * number, 0 for success) to C:\standin\pnputil.result and exits with the
 * chosen code whatever happened. When C:\standin\pnputil.sleep holds a
 * number of milliseconds it first runs that long, adding a byte to
 * C:\standin\pnputil.beat every 100 ms, so that a check can tell whether it
 * was stopped. */
#include "standin.h"

#include <shellapi.h>

int main(void) {
    standin_record("pnputil");
    int sleep_ms = standin_number("C:\\standin\\pnputil.sleep");
    for (int t = 0; t < sleep_ms; t += 100) {
        FILE* beat = fopen("C:\\standin\\pnputil.beat", "ab");
        if (beat) {
            fputc('.', beat);
            fclose(beat);
        }
        Sleep(100);
    }
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv && argc >= 3 && lstrcmpiW(argv[1], L"/remove-device") == 0) {
        static WCHAR key[2048];
        lstrcpynW(key, L"System\\CurrentControlSet\\Enum\\", 2048);
        int k = lstrlenW(key);
        lstrcpynW(key + k, argv[2], 2048 - k);
        LONG rc = RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
        FILE* f = fopen("C:\\standin\\pnputil.result", "ab");
        if (f) {
            fprintf(f, "%ld\n", (long)rc);
            fclose(f);
        }
    }
    if (argv) LocalFree(argv);
    return standin_exit_code("pnputil");
}
