/* Stands in for the command prompt that starts Quillfen: sets the console's
 * code pages to 936, runs a program on the same console and writes the code
 * pages the console has after it ended ("<input> <output>"):
 *   codepages.exe RESULT_FILE PROGRAM [ARGS...]
 * It survives Ctrl+C and Ctrl+Break itself, so it outlives a program they end. */
#include "standin.h"

#include <shellapi.h>

/* A handler of our own, not the ignore flag, which the program would inherit. */
static BOOL WINAPI outlive(DWORD type) {
    (void)type;
    return TRUE;
}

int main(void) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 3) return 2;
    static WCHAR line[32768];
    int n = 0;
    for (int i = 2; i < argc && n < 32000; i++)
        n += wsprintfW(line + n, L"%s\"%s\"", i > 2 ? L" " : L"", argv[i]);
    SetConsoleCtrlHandler(outlive, TRUE);
    SetConsoleOutputCP(936);
    SetConsoleCP(936);
    STARTUPINFOW si;
    PROCESS_INFORMATION pi;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    if (!CreateProcessW(argv[2], line, NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) return 2;
    WaitForSingleObject(pi.hProcess, INFINITE);
    FILE* f = _wfopen(argv[1], L"wb");
    if (f) {
        fprintf(f, "%u %u\n", GetConsoleCP(), GetConsoleOutputCP());
        fclose(f);
    }
    return 0;
}
