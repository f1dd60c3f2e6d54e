// The record of which copy the task runs, and this process's answer to
// whether it runs this one.
#include "task/owner.h"

#include "base/text.h"
#include "files/exepath.h"
#include "sys/sys.h"
#include "task/task.h"

const char16_t PRODUCT_KEY[] = u"SOFTWARE\\Quillfen";

namespace {

const char16_t TASK_COMMAND[] = u"TaskCommand";
// No program path looks like it.
const char16_t REMOVING[] = u"-";

// Asked once per process, and kept from step to step.
task_runs g_runs = RUNS_UNASKED;

}  // namespace

task_owner task_owner_get(void) {
    char16_t exe[PATH_UNITS], cmd[PATH_UNITS];
    if (!exe_path(exe, countof(exe))) return OWNER_UNKNOWN;
    sys_reg r = sys_reg_text(PRODUCT_KEY, TASK_COMMAND, cmd, countof(cmd));
    if (r == SYS_REG_MISSING) return OWNER_NONE;
    if (r != SYS_REG_OK) return OWNER_UNKNOWN;
    if (wicmp(cmd, REMOVING) == 0) return OWNER_REMOVING;
    return wicmp(cmd, exe) == 0 ? OWNER_THIS_COPY : OWNER_OTHER;
}

int task_owner_set(void) {
    char16_t exe[PATH_UNITS];
    return exe_path(exe, countof(exe)) && sys_reg_set_text(PRODUCT_KEY, TASK_COMMAND, exe, SYS_REG_SZ);
}

int task_owner_clear(void) { return sys_reg_delete_value(PRODUCT_KEY, TASK_COMMAND); }

int task_owner_removing(void) { return sys_reg_set_text(PRODUCT_KEY, TASK_COMMAND, REMOVING, SYS_REG_SZ); }

int task_owner_save(char16_t* saved, size_t units) {
    sys_reg r = sys_reg_text(PRODUCT_KEY, TASK_COMMAND, saved, (uint32_t)units);
    if (r == SYS_REG_MISSING) saved[0] = 0;
    return r != SYS_REG_FAILED;
}

int task_owner_restore(const char16_t* saved) {
    if (!saved[0]) return task_owner_clear();
    return sys_reg_set_text(PRODUCT_KEY, TASK_COMMAND, saved, SYS_REG_SZ);
}

task_runs task_runs_this_copy(int unattended) {
    if (g_runs >= 0) return g_runs;
    g_runs = RUNS_NO;
    char16_t exe[PATH_UNITS];
    task_state task = exe_path(exe, countof(exe)) ? task_query() : TASK_ABSENT;
    if (task != TASK_PRESENT) {
        if (task == TASK_QUERY_FAILED) g_runs = RUNS_UNTOLD;
        return g_runs;
    }
    task_owner owner = task_owner_get();
    if (owner == OWNER_NONE) g_runs = unattended && sys_is_system() ? RUNS_YES : RUNS_NO;
    else g_runs = owner == OWNER_UNKNOWN ? RUNS_UNTOLD : owner == OWNER_THIS_COPY ? RUNS_YES : RUNS_NO;
    return g_runs;
}

task_runs task_runs_known(void) { return g_runs; }

void task_runs_settle(task_runs runs) { g_runs = runs; }

task_owner task_owner_now(int unattended, task_runs runs) {
    task_owner owner = task_owner_get();
    if (owner != OWNER_NONE || !unattended || runs != RUNS_YES || !sys_is_system()) return owner;
    if (task_query() != TASK_PRESENT || !task_owner_set()) return OWNER_UNKNOWN;
    return OWNER_THIS_COPY;
}
