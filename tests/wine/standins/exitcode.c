/* Runs a program and writes its whole exit code to a file: the exit status
 * Linux sees for a Wine process keeps only 8 bits, so 3010 would read 194.
 *   exitcode.exe RESULT_FILE PROGRAM [ARGS...]
 * Standard handles are inherited, so the program's output goes where ours
 * goes. Arguments are quoted as they are; none here holds a quote. */
#include "standin.h"

#include <shellapi.h>

int main(void) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 3) return 2;
    static WCHAR line[32768];
    int n = 0;
    for (int i = 2; i < argc && n < 32000; i++)
        n += wsprintfW(line + n, L"%s\"%s\"", i > 2 ? L" " : L"", argv[i]);
    STARTUPINFOW si;
    PROCESS_INFORMATION pi;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    if (!CreateProcessW(argv[2], line, NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) return 2;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    FILE* f = _wfopen(argv[1], L"wb");
    if (f) {
        fprintf(f, "%lu\n", (unsigned long)code);
        fclose(f);
    }
    return 0;
}
