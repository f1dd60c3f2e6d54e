// Windows entry: take the arguments as UTF-16 (independent of the active code
// page) and hand them to the program as UTF-8; to the self-test when built
// with QF_SELFTEST.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstddef>

#include "base/text.h"
#ifdef QF_SELFTEST
#include "selftest/selftest.h"
#define PROGRAM_MAIN selftest_main
#else
#include "app/app.h"
#define PROGRAM_MAIN app_main
#endif

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");

namespace {

// A command line holds at most 32767 UTF-16 units. Each unit becomes at most
// three UTF-8 bytes (a surrogate pair: four bytes for two units), and each
// argument takes at least one unit of the line plus its terminator here.
constexpr size_t LINE_UNITS = 32767;
constexpr size_t MAX_ARGS = LINE_UNITS / 2 + 2;
char g_store[LINE_UNITS * 3 + MAX_ARGS];
char* g_argv[MAX_ARGS + 1];

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 0) argc = 0;
    if ((size_t)argc > MAX_ARGS) argc = (int)MAX_ARGS;
    size_t used = 0;
    for (int i = 0; i < argc; i++) {
        // The store is sized for the longest command line, so room never
        // runs out; utf8 would still cut and terminate if it did.
        const char16_t* w = argv[i] ? reinterpret_cast<const char16_t*>(argv[i]) : u"";
        g_argv[i] = g_store + used;
        used += utf8(w, g_argv[i], sizeof g_store - used) + 1;
        if (used >= sizeof g_store) used = sizeof g_store - 1;
    }
    g_argv[argc] = nullptr;
    return PROGRAM_MAIN(argc, g_argv);
}
