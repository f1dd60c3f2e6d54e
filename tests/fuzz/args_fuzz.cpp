// Fuzzes the command line: any arguments (the input cut at NUL bytes) must
// be read without a crash, and leave a keyword that is terminated and
// lower-cased and flags that are flags.
#include <cstdint>
#include <initializer_list>

#include "app/args.h"
#include "device/scan.h"
#include "fuzz.h"

namespace {

char g_args[4096];
char* g_argv[66];

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    quiet();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size >= sizeof g_args) return 0;
    memcpy(g_args, data, size);
    g_args[size] = 0;
    int argc = 0;
    g_argv[argc++] = const_cast<char*>("quillfen.exe");
    for (char* p = g_args; argc < 65 && p <= g_args + size; p += strlen(p) + 1) g_argv[argc++] = p;
    g_argv[argc] = nullptr;
    set_key("");
    Args a;
    parse_args(argc, g_argv, &a);
    check(memchr(g_key, 0, sizeof g_key) != nullptr, "the keyword is terminated");
    for (const char16_t* k = g_key; *k; k++) check(*k < u'A' || *k > u'Z', "the keyword is lower-cased");
    for (int flag : {a.scan_all, a.scan_only, a.enforce, a.install_task, a.remove_task, a.check, a.blist, a.json,
                     a.force, a.allow_unsafe})
        check(flag == 0 || flag == 1, "a flag is 0 or 1");
    check(a.info == 0 || a.info == ARGS_HELP || a.info == ARGS_VERSION, "help or version, or neither");
    return 0;
}
