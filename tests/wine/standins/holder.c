/* Stands in for a virus scanner: a process of its own, outside the job in
 * which Quillfen runs schtasks, that opens a file as soon as it appears and
 * holds it open, without sharing its deletion unless told to, until <ms>
 * milliseconds after schtasks has first finished (C:\standin\schtasks.done).
 * Usage:
 *   holder.exe <file> <ms> [share-delete]
 * Writes C:\standin\holder.log: "opened" once it holds the file, "released"
 * when it lets go. Gives up after 60 s of waiting for either. */
#include "standin.h"

#include <shellapi.h>

static void note(const char* what) {
    FILE* f = fopen("C:\\standin\\holder.log", "ab");
    if (!f) return;
    fprintf(f, "%s\n", what);
    fclose(f);
}

int main(void) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 3 || argc > 4) return 2;
    int hold_ms = _wtoi(argv[2]);
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    if (argc == 4 && lstrcmpW(argv[3], L"share-delete") == 0) share |= FILE_SHARE_DELETE;
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int t = 0; t < 60000 && h == INVALID_HANDLE_VALUE; t += 5) {
        h = CreateFileW(argv[1], GENERIC_READ, share, NULL, OPEN_EXISTING, 0, NULL);
        if (h == INVALID_HANDLE_VALUE) Sleep(5);
    }
    if (h == INVALID_HANDLE_VALUE) return 1;
    note("opened");
    for (int t = 0; t < 60000 && GetFileAttributesW(L"C:\\standin\\schtasks.done") == INVALID_FILE_ATTRIBUTES; t += 5)
        Sleep(5);
    Sleep((DWORD)hold_ms);
    CloseHandle(h);
    note("released");
    LocalFree(argv);
    return 0;
}
