// Reading the command line into the flags and the mode.
#include "app/args.h"

#include <cstdarg>
#include <cstring>

#include "app/console.h"
#include "device/scan.h"

const char ARG_ELEVATED[] = "--elevated";

int g_force;
int g_allow_unsafe;

namespace {

int is(const char* s, const char* option) { return strcmp(s, option) == 0; }

// One line naming what is wrong, and where to read how it is right.
int usage_error(const char* f, ...) QF_PRINTF(1, 2);
int usage_error(const char* f, ...) {
    va_list ap;
    va_start(ap, f);
    verr(f, ap);
    va_end(ap);
    err("用法见 quillfen --help\n");
    return 0;
}

}  // namespace

int parse_args(int argc, char** argv, Args* a) {
    for (int i = 1; i < argc; i++) {
        const char* s = argv[i];
        if (is(s, "-s") || is(s, "--scan")) a->scan_only = 1;
        else if (is(s, "--force")) g_force = 1;
        else if (is(s, "--present-only")) a->scan_all = 0;
        else if (is(s, "--enforce")) a->enforce = 1;
        else if (is(s, "--install-task")) a->install_task = 1;
        else if (is(s, "--remove-task")) a->remove_task = 1;
        else if (is(s, "--blist")) a->blist = 1;
        else if (is(s, "--check")) a->check = 1;
        else if (is(s, "--json")) a->json = 1;
        else if (is(s, "--allow-unsafe-dir")) g_allow_unsafe = 1;
        else if (is(s, "-h") || is(s, "--help") || is(s, "/?") || is(s, "-?")) a->info = a->info ? a->info : ARGS_HELP;
        else if (is(s, "--version")) a->info = a->info ? a->info : ARGS_VERSION;
        else if (is(s, "-k") || is(s, "--key")) {
            if (i + 1 >= argc) return usage_error("[错误] %s 后缺少关键词\n", s);
            set_key(argv[++i]);
        } else if (!is(s, ARG_ELEVATED)) {
            return usage_error("[错误] 未知参数：%s\n", s);
        }
    }
    return 1;
}
