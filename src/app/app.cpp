#include "app/app.h"

#include <cstdio>
#include <cstring>

#include "app/ui.h"
#include "blacklist/enforce.h"
#include "common/shared.h"
#include "device/scan.h"
#include "task/task.h"
#include "sys/sys.h"

void parse_args(int argc, char** argv, Args* a) {
    for (int i = 1; i < argc; i++) {
        const char* s = argv[i];
        if (!strcmp(s, "-s") || !strcmp(s, "--scan")) a->scan_only = 1;
        else if (!strcmp(s, "--force")) g_force = 1;
        else if (!strcmp(s, "--present-only")) a->scan_all = 0;
        else if (!strcmp(s, "--enforce")) a->enforce = 1;
        else if (!strcmp(s, "--install-task")) a->install_task = 1;
        else if (!strcmp(s, "--remove-task")) a->remove_task = 1;
        else if (!strcmp(s, "--blist")) a->blist = 1;
        else if (!strcmp(s, "--allow-unsafe-dir")) g_allow_unsafe = 1;
        else if (!strcmp(s, "-k") || !strcmp(s, "--key")) {
            if (i + 1 >= argc) break;
            set_key(argv[++i]);
        }
    }
}

int app_main(int argc, char** argv) {
    sys_console_utf8();
    setvbuf(stdout, nullptr, _IONBF, 0);
    Args a;
    parse_args(argc, argv, &a);
    if (a.enforce) return enforce_pass();
    if (a.install_task) return install_task_mode();
    if (a.remove_task) return task_remove() ? 0 : 1;
    if (a.blist) return blist_mode();
    return interactive(a);
}
