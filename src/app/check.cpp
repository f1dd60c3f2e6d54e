// The compliance check: read the blacklist as it is, reach the present
// devices, ask for the task; change nothing and log nothing.
#include "app/check.h"

#include "app/console.h"
#include "block/layering.h"
#include "app/exitcode.h"
#include "app/json.h"
#include "app/documents.h"
#include "pass/reach.h"
#include "rules/judge.h"
#include "store/store.h"
#include "log/log.h"
#include "sys/sys.h"
#include "task/owner.h"

CheckAnswer check_rule(const CheckFacts& f) {
    if (!f.blacklist_read) return {CHECK_CANNOT_TELL, CHECK_BLACKLIST_UNREADABLE};
    if (f.bad_lines) return {CHECK_CANNOT_TELL, CHECK_BLACKLIST_BAD_LINES};
    // Which devices a by-name entry reaches by its model is then unknown.
    if (f.models) return {CHECK_CANNOT_TELL, f.models == 1 ? CHECK_MODELS_UNREADABLE : CHECK_MODELS_BAD_LINES};
    // So is what a rule nobody could read would reach.
    if (f.rules) return {CHECK_CANNOT_TELL, f.rules == 1 ? CHECK_RULES_UNREADABLE : CHECK_RULES_BAD_LINES};
    if (f.policy) return {CHECK_CANNOT_TELL, CHECK_POLICY_UNREADABLE};
    // Rules past the first 64 are not enforced: what they would reach is unknown.
    if (f.overfull) return {CHECK_CANNOT_TELL, f.overfull == 1 ? CHECK_BLACKLIST_OVERFULL : CHECK_RULES_OVERFULL};
    int counts = f.entries_in_force > 0;
    if (counts && !f.devices_read) return {CHECK_CANNOT_TELL, CHECK_DEVICES_UNAVAILABLE};
    if (counts && f.task == TASK_QUERY_FAILED) return {CHECK_CANNOT_TELL, CHECK_TASK_QUERY_FAILED};
    if (f.unread) return {CHECK_CANNOT_TELL, CHECK_DEVICE_IDS_UNREADABLE};
    if (f.present > 0 || (counts && f.task != TASK_PRESENT)) return {CHECK_NOT_COMPLIANT, CHECK_NO_PROBLEM};
    return {CHECK_COMPLIANT, CHECK_NO_PROBLEM};
}

namespace {

// Why it cannot tell, by check_problem: on the screen, and in the document.
const char* const WHY_TEXT[] = {"", "拉黑名单读不了", "设备列表读不了", "后台任务查询失败", "拉黑名单有无法识别的行",
                                "型号文件读不了", "型号文件有无法识别的行", "规则文件读不了", "规则文件有无法识别的行",
                                "策略读不全",     "设备的 ID 列表读不到",   "拉黑名单超过 64 条",     "规则文件超过 64 条"};
const char* const WHY_JSON[] = {"", "blacklist_unreadable", "device_list_unavailable", "task_query_failed",
                                "blacklist_unreadable_lines", "models_unreadable", "models_unreadable_lines",
                                "rules_unreadable", "rules_unreadable_lines", "policy_unreadable",
                                "device_ids_unreadable", "blacklist_overfull", "rules_overfull"};

void print_text(const RuleBook& b, const CheckFacts& f, CheckAnswer a) {
    const char* task = f.task == TASK_PRESENT ? "已安装" : "未安装";
    if (a.verdict == CHECK_CANNOT_TELL) out("无法判断：%s\n", WHY_TEXT[a.problem]);
    else if (a.verdict == CHECK_COMPLIANT) out("合规：拉黑 %d 条在用，在场的拉黑设备 0 个，后台任务%s", f.entries_in_force, task);
    else out("不合规：拉黑 %d 条在用，在场的拉黑设备 %d 个，后台任务%s", f.entries_in_force, f.present, task);
    // Judged as enforcing; on an audit ring the pass removes none of them.
    int audit = b.mode == POLICY_AUDIT;
    if (a.verdict != CHECK_CANNOT_TELL && f.absent)
        out("；离场设备的遗留记录 %d 个%s", f.absent, audit ? "" : "，后台任务会删除");
    if (a.verdict != CHECK_CANNOT_TELL && audit) out("；策略为审核模式，后台任务不删除");
    if (a.verdict != CHECK_CANNOT_TELL) out("\n");
}

void print_json(const RuleBook& b, const CheckFacts& f, const ReachList& present, CheckAnswer a) {
    json_begin_document();
    json_key("compliant");
    if (a.verdict == CHECK_CANNOT_TELL) {
        json_null();
        json_key("error");
        json_text(WHY_JSON[a.problem]);
    } else {
        json_bool(a.verdict == CHECK_COMPLIANT);
        json_key("entries_in_force");
        json_int(f.entries_in_force);
        json_key("present");
        json_open_array();
        for (int i = 0; i < present.n; i++) {
            const Reached& h = present.t[i];
            json_open();
            json_key("name");
            json_text16(h.name);
            json_key("instance_id");
            json_text16(h.inst);
            json_key("blacklisted");
            json_text(h.how == BL_BY_ID ? "id" : h.how == BL_BY_NAME ? "name" : "model");
            json_close();
        }
        json_close_array();
        json_key("task_installed");
        json_bool(f.task == TASK_PRESENT);
        json_key("absent_reached");
        json_int(f.absent);
        // Whether this copy turned Windows' layered evaluation on, to spare
        // an approved unit while its model stays blocked.
        json_key("layering_set");
        json_bool(layering_set_by_us());
    }
    policy_keys(b);
    json_end_document();
}

}  // namespace

int check_mode(int json) {
    log_off();  // a detection script's run is no event, even when a program hangs
    CheckFacts f{};
    reach_reset();
    bl_status st = bl_read();
    const RuleBook& b = bl_book();
    f.blacklist_read = st != BL_UNREADABLE;
    f.bad_lines = st == BL_BAD_LINES;
    source_state m = b.models_file.state;
    f.models = m == SOURCE_UNREADABLE ? 1 : m == SOURCE_BAD_LINES ? 2 : 0;
    source_state r = b.rules_file.state;
    f.rules = r == SOURCE_UNREADABLE ? 1 : r == SOURCE_BAD_LINES ? 2 : 0;
    f.overfull = b.blacklist.overfull ? 1 : r == SOURCE_OVERFULL ? 2 : 0;
    f.policy = b.policy_read == POLICY_UNREADABLE;
    int64_t now = sys_now();
    f.entries_in_force = f.blacklist_read ? book_blocks_in_force(b, now) : 0;
    // Always asked, so that the answer shows it; it counts only with an
    // entry in force.
    f.task = task_query();
    // Another copy's task never enforces this copy's list.
    if (f.task == TASK_PRESENT) {
        task_owner owner = task_owner_get();
        if (owner == OWNER_UNKNOWN) f.task = TASK_QUERY_FAILED;
        else if (owner != OWNER_THIS_COPY) f.task = TASK_ABSENT;
    }
    // Records left on the PC: those a name or a model reaches take a walk of
    // every record, before the present devices' list that is printed; those
    // of entries by id the lookups for the present ones find.
    int by_name = judge_needs_walk(judge_prepare(b, now));
    if (f.blacklist_read && by_name) {
        ReachList absent = reach_collect(b, now, REACH_ABSENT);
        if (absent.ok) f.absent = absent.n;
    }
    reach_reset();
    ReachList present{0, 0, nullptr, 0, nullptr, 0, nullptr, 0};
    if (f.blacklist_read) present = reach_collect(b, now);
    f.devices_read = present.ok;
    Reached* left;
    if (!by_name) f.absent = reach_left(&left);
    f.present = present.ok ? present.n : 0;
    f.unread = present.ok ? present.nunread : 0;
    CheckAnswer a = check_rule(f);
    if (json) print_json(b, f, present, a);
    else print_text(b, f, a);
    return a.verdict == CHECK_COMPLIANT ? EXIT_OK : a.verdict == CHECK_NOT_COMPLIANT ? EXIT_FAILED : EXIT_CANNOT_TELL;
}
