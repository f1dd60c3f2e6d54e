// System programs by full path, and device removal with its fallback.
#include "device/syscmd.h"

#include "base/text.h"
#include "device/devset.h"
#include "files/datafile.h"
#include "log/log.h"

namespace {

// pnputil's "removed, a restart finishes the job".
constexpr int PNPUTIL_REBOOT = 3010;
constexpr uint32_t RUN_TIMEOUT_MS = 30000;
// Room for a command line: the program's path, and at most one path or
// instance id as an argument.
constexpr size_t LINE_UNITS = 2 * PATH_UNITS + 512;

// 1 when the id can stand as one argument. A device picks its own serial
// number, so the id is untrusted input: a quote would end the argument
// early, and control characters have no business in an id.
int id_safe(const char16_t* id) {
    for (; *id; id++)
        if (*id == u'"' || *id < 0x20) return 0;
    return 1;
}

// 1 when the device with this id is still attached.
int still_there(const char16_t* id) {
    DevSetGuard set{sys_dev_open_id(id)};
    return set.s && sys_dev_presence(set.s) != SYS_ABSENT;
}

sys_removal class_installer_remove(const char16_t* id) {
    DevSetGuard set{sys_dev_open_id(id)};
    return set.s ? sys_dev_remove(set.s) : SYS_REMOVE_FAILED;
}

sys_removal pnputil_remove(const char16_t* id) {
    if (!id_safe(id)) return SYS_REMOVE_FAILED;
    char16_t args[LINE_UNITS] = {0};
    wcat8(args, countof(args), "/remove-device ");
    if (!add_arg(args, countof(args), id)) return SYS_REMOVE_FAILED;  // a cut id would name another device
    int rc;
    if (!run_silent("pnputil.exe", args, &rc)) return SYS_REMOVE_FAILED;
    if (rc == PNPUTIL_REBOOT) return SYS_REMOVED_RESTART;
    return rc == 0 ? SYS_REMOVED : SYS_REMOVE_FAILED;
}

}  // namespace

int add_arg(char16_t* line, size_t cap, const char16_t* arg) {
    size_t n = wlen(line);
    auto put = [&](char16_t c) {
        if (n + 1 < cap) line[n] = c;
        n++;
    };
    put(u'"');
    for (const char16_t* p = arg;; p++) {
        size_t bs = 0;
        while (*p == u'\\') bs++, p++;
        // Backslashes count double only before a quote, the closing one included.
        if (*p == 0 || *p == u'"') bs *= 2;
        for (size_t i = 0; i < bs; i++) put(u'\\');
        if (*p == 0) break;
        if (*p == u'"') put(u'\\');
        put(*p);
    }
    put(u'"');
    if (n + 1 > cap) {
        line[cap - 1] = 0;
        return 0;
    }
    line[n] = 0;
    return 1;
}

int run_silent(const char* program, const char16_t* args, int* code) {
    // By full path from the system directory, which is also the working
    // directory: no search path, no current directory, no command
    // interpreter and its AutoRun.
    char16_t dir[PATH_UNITS], path[PATH_UNITS], line[LINE_UNITS];
    if (!sys_system_dir(dir, countof(dir))) return 0;
    path[0] = 0;
    wcat(path, countof(path), dir);
    wcat8(path, countof(path), "\\");
    wcat8(path, countof(path), program);
    line[0] = 0;
    if (wlen(path) + 1 >= countof(path) || !add_arg(line, countof(line), path)) return 0;
    wcat8(line, countof(line), " ");
    size_t room = countof(line) - wlen(line);
    if (wlen(args) + 1 > room) return 0;
    wcat(line, countof(line), args);
    sys_run_result r = sys_run(path, line, dir, RUN_TIMEOUT_MS, code);
    if (r == SYS_RUN_TIMEOUT) logline(EV_PROGRAM_TIMEOUT, "系统程序超时 | %s", program);
    return r == SYS_RUN_EXITED;
}

sys_removal remove_dev(const char16_t* instance_id) {
    // An empty id would pick the first device whose id cannot be read.
    if (!instance_id[0]) return SYS_REMOVE_FAILED;
    sys_removal r = class_installer_remove(instance_id);
    if (r == SYS_REMOVE_FAILED) r = pnputil_remove(instance_id);
    // "Removed" without a pending restart must mean gone.
    if (r == SYS_REMOVED && still_there(instance_id)) r = SYS_REMOVE_FAILED;
    return r;
}
