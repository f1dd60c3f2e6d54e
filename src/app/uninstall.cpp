// Taking the unattended pass off the machine, for --remove-task and the
// blacklist menu.
#include "app/uninstall.h"
#include "blacklist/store.h"
#include "log/log.h"
#include "task/eventsource.h"
#include "task/task.h"

int uninstall_task(void) {
    // The blocks go before the task: once it is gone nothing would lift them,
    // so one that stays keeps the task, and its next pass takes the blocks
    // up again. Should the deletion fail, the same happens.
    bl_blocks_give_up();
    if (block_left()) return 0;
    int ok = task_remove();
    if (ok) logline(EV_TASK_REMOVED, "已卸载后台任务");
    // The source goes after the task, so that a task still running keeps
    // the texts of its events. Also when schtasks failed: it fails as well
    // for a task that is already gone, and without administrator rights the
    // key cannot be deleted either. The result is the task's alone.
    (void)event_source_remove();
    return ok;
}
