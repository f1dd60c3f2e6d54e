// The command line and the choice of the one mode a run performs.
#include "app/app.h"

#include "app/console.h"
#include "app/exitcode.h"
#include "app/args.h"
#include "app/blacklist_mode.h"
#include "app/blmenu.h"
#include "app/check.h"
#include "app/documents.h"
#include "app/install.h"
#include "app/interactive.h"
#include "app/remove_mode.h"
#include "app/rule_mode.h"
#include "app/uninstall.h"
#include "pass/enforce.h"
#include "rules/rules.h"
#include "device/scan.h"
#include "sys/sys.h"
#include "task/task.h"
#include "version.h"

namespace {

void usage(void) {
    out("用法：quillfen [选项]\n\n");
    out("不带选项：交互模式（扫描设备、列表、按序号删除、拉黑名单管理）。\n\n");
    out("选项：\n");
    out("  -s, --scan            只扫描并列出一次，然后退出\n");
    out("  -k, --key <关键词>    用这个关键词代替默认关键词匹配设备名\n");
    out("  --present-only        只列出当前在场的设备\n");
    out("  --force               删除内置/系统设备前不再额外询问\n");
    out("  --blist               列出拉黑名单后退出\n");
    out("  --check               检查本机是否合规（给检测脚本用），不做任何修改\n");
    out("  --json                与 -s、--blist、--check 及下面给脚本用的五个模式一起用：输出 JSON；单独使用等于 -s --json\n");
    out("  --enforce             删除拉黑名单中重新出现的设备（后台任务以 SYSTEM 运行它）\n");
    out("  --install-task        安装后台任务 Quillfen-Enforce\n");
    out("  --remove-task         卸载后台任务\n");
    out("  --allow-unsafe-dir    程序所在目录可被普通用户修改时也安装后台任务\n");
    out("  -h, --help, /?, -?    显示本说明\n");
    out("  --version             显示版本号\n\n");
    out("给脚本用（不提问、不提权，需以管理员身份运行）：\n");
    out("  --remove              删除 -s 会列出的设备（同样的 -k、--present-only）；内置设备跳过\n");
    out("  --blacklist           加一条拉黑，设备不在也可以（--name 和/或 --id，或 --model，配 --hours）\n");
    out("  --unblacklist         解除拉黑（--id、--name、--model 或 --all）\n");
    out("  --approve             放行一个型号或设备：名称、型号规则都不再删除它（--model 或 --id，配 --hours）\n");
    out("  --unapprove           解除放行（--model、--id 或 --all）\n");
    out("  --id <实例ID>         只处理这个设备（--remove 可给多个）；内置设备要再加 --force\n");
    out("  --model <硬件ID>      按型号：拉黑、删除或放行有这个硬件 ID 的设备（整串相同，如 USB\\VID_046D&PID_0825）\n");
    out("  --hours <小时数>      拉黑多久：%lld ~ %lld 小时（--remove 删除后即拉黑）\n", (long long)HOURS_MIN,
        (long long)HOURS_MAX);
    out("  --name <名称>         拉黑或解除的名称\n");
    out("  --by-name             同时按名称拉黑\n");
    out("  --all                 与 --unblacklist、--unapprove 一起用：全部解除（策略规则除外）\n");
    out("  --what-if             只列出会做的事，不做任何修改\n\n");
    out("同时给出多个模式时，只运行第一个：--enforce、--install-task、--remove-task、--check、--blist、-s、交互模式；\n");
    out("--remove、--blacklist、--unblacklist、--approve、--unapprove 只能单独使用。\n\n");
    out("数据文件（在 quillfen.exe 所在目录）：\n");
    out("  blacklist.tsv            拉黑名单\n");
    out("  blacklist-rules.tsv      按型号拉黑和放行的规则\n");
    out("  device_cleanup_log.txt   操作日志\n\n");
    // Rules set centrally decide before the PC's own, so the screen that
    // lists the PC's options says where the others come from.
    out("策略（组策略/Intune 写在 HKLM\\SOFTWARE\\Policies\\Quillfen，本程序只读不改）：\n");
    out("  按实例 ID、型号、名称拉黑和放行的规则，先于本机规则决定；--blist 列出它们，标为 [策略]\n");
    out("  Mode = Audit 为审核模式：后台任务只记录本应删除的设备，不删除，也不写系统安装禁止\n\n");
    // The numbers come from the one table of exit codes.
    out("退出码：\n");
    out("  交互模式、-s、--help、--version   %d\n", EXIT_OK);
    out("  -s --json                         %d；设备列表或拉黑名单读不了时 %d\n", EXIT_OK, EXIT_FAILED);
    out("  --blist（含 --json）              %d；拉黑名单、型号或规则文件读不了或有无法识别的行、策略读不全时 %d\n", EXIT_OK,
        EXIT_FAILED);
    out("  --check                           %d 合规，%d 不合规，%d 无法判断\n", EXIT_OK, EXIT_FAILED, EXIT_CANNOT_TELL);
    out("  --enforce                         %d 全部成功，%d 有失败，%d 成功但需重启\n", EXIT_OK, EXIT_FAILED, EXIT_RESTART);
    out("  --install-task、--remove-task     %d 成功，%d 失败或拒绝安装\n", EXIT_OK, EXIT_FAILED);
    out("  --remove、--blacklist、--unblacklist、--approve、--unapprove\n");
    out("                                    %d 全部做完（无事可做也算），%d 有失败或被拒绝，%d 成功但需重启\n",
        EXIT_OK, EXIT_FAILED, EXIT_RESTART);
    out("  命令行有误（未知参数、缺少值）    %d，什么都不做\n", EXIT_USAGE);
}

// The mode the command line asks for: its exit code.
int run(int argc, char** argv) {
    // Without it a system DLL's own dependencies would still be searched for
    // in the program's folder, which may be anyone's.
    if (!sys_restrict_dll_search()) {
        err("[错误] 这个系统缺少安全加载系统组件的更新（KB2533623），请先更新 Windows。\n");
        return EXIT_FAILED;
    }
    Args a;
    if (!parse_args(argc, argv, &a)) return EXIT_USAGE;
    if (a.info == ARGS_HELP) {
        usage();
        return EXIT_OK;
    }
    if (a.info == ARGS_VERSION) {
        out("Quillfen %s\n", QF_VERSION);
        return EXIT_OK;
    }
    // --json has a document only for the listing and the driven modes.
    if (a.json && (a.enforce || a.install_task || a.remove_task)) err("[提示] 忽略未知参数：%s\n", "--json");
    if (a.enforce) {
        enforce_result r = enforce_pass();
        return r == ENFORCE_FAILED ? EXIT_FAILED : r == ENFORCE_RESTART ? EXIT_RESTART : EXIT_OK;
    }
    if (a.install_task) return install_task_mode(a.allow_unsafe);
    if (a.remove_task) {
        // Nothing on standard output, as for --install-task; a failure on
        // standard error, for the deployment tool's log.
        uninstall_result r = uninstall_task();
        if (r == UNINSTALL_REMOVED || r == UNINSTALL_WAS_ABSENT || r == UNINSTALL_RECORD_LEFT) return EXIT_OK;
        err("%s\n", uninstall_text(r));
        return EXIT_FAILED;
    }
    if (a.drive == DRIVE_REMOVE) return remove_mode(a);
    if (a.drive == DRIVE_BLACKLIST) return a.model ? model_rule_mode(a) : blacklist_mode(a);
    if (a.drive == DRIVE_UNBLACKLIST) return a.model ? lift_rules_mode(a, RULE_MODEL, 0) : unblacklist_mode(a);
    if (a.drive == DRIVE_APPROVE) return approve_mode(a);
    if (a.drive == DRIVE_UNAPPROVE) return lift_rules_mode(a, a.model ? RULE_APPROVE_MODEL : a.all ? RULE_APPROVE_MODEL
                                                                                            : RULE_APPROVE_ID, a.all);
    if (a.check) return check_mode(a.json);
    if (a.blist) return a.json ? blist_json() : blist_mode();
    if (a.json) return scan_json(a);
    return interactive(a);
}

}  // namespace

int app_main(int argc, char** argv) {
    sys_console_init();
    int rc = run(argc, argv);
    // The console is the one of the command prompt that started us: it gets
    // its code pages back, whichever way the mode ended.
    sys_console_restore();
    return rc;
}
