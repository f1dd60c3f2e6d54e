// Creating the scheduled task from the places that offer it, after making
// sure that what it would run as SYSTEM is out of ordinary users' reach;
// every install is logged, wherever it was asked for.
#include "app/install.h"
#include "app/console.h"
#include "app/exitcode.h"
#include "base/text.h"
#include "store/store.h"
#include "files/exepath.h"
#include "log/log.h"
#include "proc/run.h"
#include "task/eventsource.h"
#include "task/trust.h"

namespace {

const char PERCENT[] = "✘ 未安装：程序路径含有 %%，计划任务会把它当作环境变量展开；请换一个目录。\n";
const char UNSAFE[] = "✘ 未安装：%s 可被普通用户修改，以 SYSTEM 运行会被用来提权。\n";
const char NOT_LOCAL[] = "✘ 未安装：%s 不在本机固定磁盘上，SYSTEM 任务不能可靠地从这里运行。\n";
const char TOO_LONG[] = "✘ 未安装：程序路径有 %d 个字符，计划任务最多只接受 %d 个；请换一个路径短一些的目录。\n";

// The verdict, with the refusal printed (indented on the screen, bare on
// standard error) and logged. 1 when the task may be created; *unsafe_at
// then names what the administrator allowed anyway, or is empty.
int may_install(int to_screen, int allow_unsafe, char* unsafe_at, size_t size) {
    char16_t where[PATH_UNITS];
    trust_verdict v = trust_check(where, countof(where));
    utf8(where, unsafe_at, size);
    if (v == TRUST_OK || (v == TRUST_UNSAFE && allow_unsafe)) return 1;
    char16_t exe[PATH_UNITS];
    if (v == TRUST_PERCENT && exe_path(exe, countof(exe))) utf8(exe, unsafe_at, size);
    int len = (int)wlen(where);
    if (to_screen) {
        out("  ");
        if (v == TRUST_PERCENT) out(PERCENT);
        else if (v == TRUST_NOT_LOCAL) out(NOT_LOCAL, unsafe_at);
        else if (v == TRUST_TOO_LONG) out(TOO_LONG, len, (int)TASK_PATH_MAX);
        else out(UNSAFE, unsafe_at);
        if (v == TRUST_UNSAFE)
            out("  [提示] 请把 quillfen.exe 复制到只有管理员能写入的目录（如 C:\\Program Files\\Quillfen）再安装；"
                "确要安装请加 --allow-unsafe-dir 启动。\n");
    } else if (v == TRUST_PERCENT) {
        err(PERCENT);
    } else if (v == TRUST_NOT_LOCAL) {
        err(NOT_LOCAL, unsafe_at);
    } else if (v == TRUST_TOO_LONG) {
        err(TOO_LONG, len, (int)TASK_PATH_MAX);
    } else {
        err(UNSAFE, unsafe_at);
    }
    if (v == TRUST_TOO_LONG) logline(EV_TASK_PATH_TOO_LONG, "拒绝安装后台任务：程序路径超过 259 个字符 | %s", unsafe_at);
    else logline(EV_TASK_REFUSED, "拒绝安装后台任务 | %s", unsafe_at);
    return 0;
}

// What follows every successful install: the event source (without it the
// events keep their strings, not their texts), the log lines (the unsafe
// location first, if any; a missing policy trigger after the install), and
// the install blocks, for the task now runs this copy. 0 when another copy's
// block may still stand: nothing but another install would lift it.
int installed(const char* unsafe_at, task_result r) {
    (void)event_source_register();
    if (unsafe_at[0]) logline(EV_TASK_UNSAFE, "后台任务装在不安全目录 | %s", unsafe_at);
    char task[32];
    utf8(TASK_NAME, task, sizeof task);
    logline(EV_TASK_INSTALLED, "已安装后台任务 %s", task);
    if (r == TASK_NO_POLICY) logline(EV_TASK_NO_POLICY, "后台任务未加策略刷新触发（系统不接受）");
    return bl_blocks_take_over();  // this copy's own blocks the next pass writes, should this step fail
}

}  // namespace

task_result install_task_ui(int allow_unsafe) {
    char unsafe_at[3 * PATH_UNITS];
    if (!may_install(1, allow_unsafe, unsafe_at, sizeof unsafe_at)) return TASK_FAILED;
    task_result r = task_install();
    if (r == TASK_FAILED) {
        out("  ✘ 安装失败（需要管理员权限）\n");
        return r;
    }
    if (!installed(unsafe_at, r)) out("  [提示] 未能全部解除其他副本的系统安装禁止，请再安装一次后台任务。\n");
    return r;
}

void timer_only_hint(void) { out("  [提示] 本机不支持设备事件触发，改为每5分钟检查一次。\n"); }

void no_policy_hint(void) {
    out("  [提示] 本机不接受策略刷新触发：组策略或 MDM 刷新后，系统安装禁止最多 5 分钟后才重新写入。\n");
}

int install_task_mode(int allow_unsafe) {
    char unsafe_at[3 * PATH_UNITS];
    if (!may_install(0, allow_unsafe, unsafe_at, sizeof unsafe_at)) return EXIT_FAILED;
    int code;
    task_result r = task_install(&code);
    if (r == TASK_FAILED) {
        // A deployment tool shows standard error; the log keeps why. A hang
        // has its own line already.
        char why[32];
        if (code >= 0) fmt(why, sizeof why, "%d", code);
        else scopy(why, sizeof why, "未能运行 schtasks");
        if (run_timed_out()) {
            err("✘ 安装后台任务失败：schtasks 超时未结束\n");
        } else {
            err("✘ 安装后台任务失败：%s%s\n", code >= 0 ? "schtasks 退出码 " : "", why);
            logline(EV_TASK_INSTALL_FAILED, "安装后台任务失败 | %s", why);
        }
        return EXIT_FAILED;
    }
    return installed(unsafe_at, r) ? EXIT_OK : EXIT_FAILED;
}
