#include "device/syscmd.h"

#include "common/shared.h"
#include "common/text.h"
#include "device/devset.h"
#include "sys/sys.h"

namespace {

// pnputil's "removed, a restart finishes the job".
constexpr int PNPUTIL_REBOOT = 3010;

// 1 when the id may be put between double quotes on a cmd.exe line.
int id_safe_for_shell(const char16_t* id) {
    // Between double quotes cmd.exe still ends the quoting at '"' and expands
    // %variables%; control characters have no business in an id. A device
    // picks its own serial number, so the id is untrusted input.
    for (; *id; id++)
        if (*id == u'"' || *id == u'%' || *id < 0x20) return 0;
    return 1;
}

}  // namespace

int run_silent(const char16_t* command) {
    char16_t line[2047] = {0};
    wcat8(line, 2047, "cmd.exe /c ");
    wcat(line, 2047, command);
    return sys_run_hidden(line, 30000);
}

int task_install(void) {
    char16_t exe[260] = {0};
    uint32_t n = sys_exe_path_w(exe, 260);
    if (n == 0 || n >= 260) return 0;  // no path, no task that could run us
    exe[259] = 0;
    char16_t cmd[1599] = {0};
    wcat8(cmd, 1599, "schtasks /Create /TN \"");
    wcat(cmd, 1599, TASK_NAME);
    wcat8(cmd, 1599, "\" /TR \"\\\"");
    wcat(cmd, 1599, exe);
    wcat8(cmd, 1599, "\\\" --enforce\" /SC MINUTE /MO 5 /RL HIGHEST /RU SYSTEM /F");
    return run_silent(cmd) == 0 ? 1 : 0;
}

int task_remove(void) {
    char16_t cmd[511] = {0};
    wcat8(cmd, 511, "schtasks /Delete /TN \"");
    wcat(cmd, 511, TASK_NAME);
    wcat8(cmd, 511, "\" /F");
    return run_silent(cmd) == 0 ? 1 : 0;
}

int remove_dev(const char16_t* instance_id) {
    // An empty id would pick the first device whose id cannot be read.
    if (!instance_id[0]) return 0;
    {
        uint32_t err = 0;
        DevSetGuard set{sys_dev_open(1, &err)};
        if (set.s) {
            for (uint32_t idx = 0; sys_dev_next(set.s, idx); idx++) {
                char16_t id[512] = {0};
                sys_dev_id(set.s, id, 512);
                id[511] = 0;
                if (wicmp(id, instance_id) != 0) continue;
                if (sys_dev_remove(set.s)) return 1;
                break;  // only the first member with the id is tried
            }
        }
    }
    if (!id_safe_for_shell(instance_id)) return 0;
    char16_t cmd[607] = {0};
    wcat8(cmd, 607, "pnputil /remove-device \"");
    wcat(cmd, 607, instance_id);
    if (wlen(cmd) + 2 > 606) return 0;  // a cut id would name another device
    wcat8(cmd, 607, "\"");
    int rc = run_silent(cmd);
    return (rc == 0 || rc == PNPUTIL_REBOOT) ? 1 : 0;
}
