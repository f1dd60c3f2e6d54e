/* Stands in for the command prompt that starts Quillfen: sets the console's
 * code pages to 936, runs PROGRAM [ARG] on the same console, and writes the
 * code pages the console has after it ended ("<input> <output>"):
 *   codepages.exe RESULT_FILE PROGRAM [ARG]
 * A handler of its own (not the ignore flag, which PROGRAM would inherit)
 * lets it outlive a program that Ctrl+C ends. */
#include "standin.h"

#include <shellapi.h>

static BOOL WINAPI outlive(DWORD type) { return type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT; }

int main(void) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 3) return 2;
    static WCHAR line[4096];
    wsprintfW(line, L"\"%s\" %s", argv[2], argc > 3 ? argv[3] : L"");
    SetConsoleCtrlHandler(outlive, TRUE);
    SetConsoleOutputCP(936);
    SetConsoleCP(936);
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi;
    if (!CreateProcessW(argv[2], line, NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) return 2;
    WaitForSingleObject(pi.hProcess, INFINITE);
    FILE* f = _wfopen(argv[1], L"wb");
    if (f) fprintf(f, "%u %u\n", GetConsoleCP(), GetConsoleOutputCP()), fclose(f);
    return 0;
}
