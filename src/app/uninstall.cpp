// Taking the unattended pass off the machine, for --remove-task and the
// blacklist menu.
#include "app/uninstall.h"

#include "policy/allows.h"
#include "pass/audit.h"
#include "policy/policyread.h"
#include "store/store.h"
#include "pass/sweep.h"
#include "block/block.h"
#include "log/log.h"
#include "task/eventsource.h"
#include "task/task.h"

uninstall_result uninstall_task(void) {
    // The blocks go before the task: once it is gone nothing would lift them.
    // Meanwhile TaskCommand says the task is being removed, so that a pass it
    // starts in between writes none again. One that stays keeps the task, as
    // it was, so that its passes go on.
    if (!bl_blocks_give_up()) {
        block_give_up_end(0);
        return UNINSTALL_BLOCK_REMAINS;
    }
    int deleted = task_remove();
    // schtasks fails for a task that is already gone as well: asked, as
    // --check asks; no answer counts as "it remains".
    int gone = deleted || task_query() == TASK_ABSENT;
    // What the pass kept of its own goes with the task.
    if (gone) {
        (void)sweep_forget();
        (void)policy_forget();
        (void)allows_forget();
        (void)audit_forget();
    }
    int settled = block_give_up_end(gone);
    if (deleted) logline(EV_TASK_REMOVED, "已卸载后台任务");
    if (!gone) {
        logline(EV_TASK_REMAINS, "卸载后台任务失败，任务仍在");
        return UNINSTALL_TASK_REMAINS;
    }
    // The source goes after the task, so that a task still running keeps
    // the texts of its events.
    (void)event_source_remove();
    if (!settled) {
        logline(EV_TASK_RECORD_LEFT, "后台任务已卸载，但未能清除 TaskCommand");
        return UNINSTALL_RECORD_LEFT;
    }
    return deleted ? UNINSTALL_REMOVED : UNINSTALL_WAS_ABSENT;
}

const char* uninstall_text(uninstall_result r) {
    switch (r) {
    case UNINSTALL_REMOVED: return "✔ 后台任务已卸载";
    case UNINSTALL_WAS_ABSENT: return "✔ 后台任务本来就没有安装，系统安装禁止已全部解除";
    case UNINSTALL_TASK_REMAINS: return "✘ 卸载失败：后台任务还在";
    case UNINSTALL_RECORD_LEFT: return "✔ 后台任务已卸载（注册表中的 TaskCommand 未能清除）";
    default: return "✘ 卸载失败：有系统安装禁止未能解除，后台任务保留";
    }
}
