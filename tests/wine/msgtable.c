/* Reads the message table of an executable as Event Viewer does: the file
 * loaded as data, each text fetched with FormatMessageW.
 *
 *   msgtable EXE LANGID               every message id of that language, one
 *                                     "id<TAB>text" line each, inserts as %n
 *   msgtable EXE LANGID ID STRING...  message ID with the strings inserted
 *
 * UTF-8 on standard output, line ends LF; exit 1 when nothing was found. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <wchar.h>

static wchar_t text[32768];

/* The text without the line end the message compiler puts after it. */
static void put(const wchar_t* w, DWORD n) {
    static char buf[3 * 32768];
    while (n && (w[n - 1] == L'\n' || w[n - 1] == L'\r')) n--;
    int k = WideCharToMultiByte(CP_UTF8, 0, w, (int)n, buf, (int)sizeof buf, NULL, NULL);
    fwrite(buf, 1, k > 0 ? (size_t)k : 0, stdout);
    fputc('\n', stdout);
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    _setmode(_fileno(stdout), _O_BINARY);
    HMODULE m = LoadLibraryExW(argv[1], NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (!m) return 1;
    DWORD lang = wcstoul(argv[2], NULL, 0);
    DWORD from = FORMAT_MESSAGE_FROM_HMODULE;
    if (argc == 3) {
        int found = 0;
        for (DWORD id = 0; id <= 0xFFFF; id++) {
            DWORD n = FormatMessageW(from | FORMAT_MESSAGE_IGNORE_INSERTS, m, id, lang, text, 32768, NULL);
            if (!n) continue;
            printf("%lu\t", (unsigned long)id);
            put(text, n);
            found++;
        }
        return found ? 0 : 1;
    }
    DWORD_PTR args[99] = {0};
    for (int i = 4; i < argc && i - 4 < 99; i++) args[i - 4] = (DWORD_PTR)argv[i];
    DWORD n = FormatMessageW(from | FORMAT_MESSAGE_ARGUMENT_ARRAY, m, wcstoul(argv[3], NULL, 0), lang, text, 32768,
                             (va_list*)args);
    if (!n) return 1;
    put(text, n);
    return 0;
}
