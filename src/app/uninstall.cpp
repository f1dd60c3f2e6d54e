// Taking the unattended pass off the machine, for --remove-task and the
// blacklist menu.
#include "app/ui.h"
#include "log/log.h"
#include "task/eventsource.h"
#include "task/task.h"

int uninstall_task(void) {
    // CALL POINT: lift the recorded installation blocks here, before the
    // task goes; a pass running in between would write them again.
    int ok = task_remove();
    if (ok) logline(EV_TASK_REMOVED, "已卸载后台任务");
    // The source goes after the task, so that a task still running keeps
    // the texts of its events. Also when schtasks failed: it fails as well
    // for a task that is already gone, and without administrator rights the
    // key cannot be deleted either. The result is the task's alone.
    (void)event_source_remove();
    return ok;
}
