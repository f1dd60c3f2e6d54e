/* Shared by the stand-in system programs that the Wine checks install in
 * place of schtasks and pnputil: each records the command line it was given
 * and exits with a code that the test put in a file beforehand. */
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

/* Appends the raw command line, as UTF-8, as one line to C:\standin\<name>.log. */
static inline void standin_record(const char* name) {
    static char path[MAX_PATH];
    static char line[32768 * 3 + 2];
    snprintf(path, sizeof path, "C:\\standin\\%s.log", name);
    int n = WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, line, (int)sizeof line - 1, NULL, NULL);
    if (n <= 0) n = 1;
    line[n - 1] = '\n';
    FILE* f = fopen(path, "ab");
    if (!f) return;
    fwrite(line, 1, (size_t)n, f);
    fclose(f);
}

/* The number a test put in a file; 0 when there is none. */
static inline int standin_number(const char* path) {
    char buf[32];
    FILE* f = fopen(path, "rb");
    if (!f) return 0;
    size_t n = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    buf[n] = 0;
    return atoi(buf);
}

/* The exit code the test chose in C:\standin\<name>.exit; 0 when there is none. */
static inline int standin_exit_code(const char* name) {
    char path[MAX_PATH];
    snprintf(path, sizeof path, "C:\\standin\\%s.exit", name);
    return standin_number(path);
}
