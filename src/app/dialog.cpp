// The removal dialogue: confirm, remove, blacklist, offer the task.
#include <cstring>

#include "local/tsv.h"
#include "pass/reach.h"
#include "rules/rules.h"
#include "rules/standing.h"
#include "device/scan.h"
#include "device/walk.h"
#include "app/console.h"
#include "app/args.h"
#include "app/dialog.h"
#include "app/install.h"
#include "app/model_note.h"
#include "app/show.h"
#include "store/store.h"
#include "base/text.h"
#include "device/remove.h"
#include "log/log.h"
#include "sys/sys.h"

namespace {

const int64_t CHOICE_HOURS[8] = {1, 6, 24, 168, 720, 2160, 4320, HOURS_MAX};

// Reads one yes/no answer. -1 at the end of input, 1 yes, 0 no.
int ask(void) {
    char ans[32];
    if (!read_line(ans, sizeof ans)) return -1;
    return is_yes(ans);
}

// A consent or confirmation: 1 to go on. A refusal says so; the end of input
// skips silently.
int go_on(int* skipped) {
    int a = ask();
    if (a == 1) return 1;
    if (a == 0) out("  已跳过。\n");
    (*skipped)++;
    return 0;
}

// The entry being made, and the hardware ids of the device just removed,
// read before it went: static, as they are 35 KB.
BlacklistEntry g_new;
HardwareIds g_hw;

// Whether the entry may match by name (the rules' verdict): where its name
// or its model reaches other devices, the administrator says. *c is the
// model's check.
int by_name_consent(const RuleBook& b, const DeviceEntry& d, const BlacklistEntry& e, int exact, ModelCheck* c,
                    int* others) {
    c->verdict = MODEL_NONE;
    Admission a{e.name[0] && exact, -1, 0, 0, ON_REACH_ASK, ON_UNKNOWN_ID};
    if (a.storable) {
        a.others = bl_name_reach(b, e.name, d.inst);
        if (a.others >= 0) model_check_for(b, d, g_hw, e, c);
        a.alike = c->verdict == MODEL_OK ? c->others : 0;
    }
    AdmitResult r = bl_admit(a);
    *others = a.others;
    if (r.reason == ADMIT_REACH_UNKNOWN) out("  [提示] 读不到设备列表，无法说明这个名称涉及哪些设备，只拉黑这一个设备。\n");
    if (r.verdict != ADMIT_ASK) return r.verdict == ADMIT_BY_NAME;
    char name[sizeof e.name];
    if (a.others)
        out("  注意：另有 %d 个设备的名称包含「%s」，按名称拉黑会把它们也一起删除。\n", a.others,
            shown_text8(e.name, name, sizeof name));
    if (a.alike)
        out("  注意：另有 %d 个设备与它同型号（%s），按名称拉黑会同时按型号禁止安装，它们也装不上。\n", a.alike, c->text);
    if (a.alike && c->parent[0])
        out("  注意：它是复合设备 %s 的一个功能，按型号禁止安装时整个设备都装不上，同一设备上的麦克风等其他功能也一样。\n",
            c->parent);
    // An approved unit of the model may leave no way to block it.
    BlacklistModel m;
    if (c->verdict == MODEL_OK && bl_model_record(e, *c, &m)) {
        RuleBook with = b;
        with.coming = &e;
        with.coming_model = &m;
        Standing s = model_standing(with, c->text, MODEL_OK);
        if (s.state == WHY_GIVEN_UP)
            out("  注意：型号 %s 不会被禁止安装（%s），按名称拉黑只在它们出现时删除。\n", c->text,
                given_up_text(s.given_up));
    }
    out("  仍按名称拉黑？输入 y = 按名称，其他 = 只拉黑这一个设备 > ");
    return ask() == 1;
}

void offer_blacklist(const Args& args, const DeviceEntry& d, const char* name) {
    out("  要不要把它拉黑（防止它自己回来）？(y/N) > ");
    if (ask() != 1) return;
    out("\n  拉黑多久？（期间它一出现就被自动删掉）\n");
    out("    1 = 1小时   2 = 6小时   3 = 1天    4 = 7天\n");
    out("    5 = 30天    6 = 90天    7 = 180天  8 = 365天\n");
    out("    也可以直接输入小时数（%lld ~ %lld），回车 = 不拉黑 > ", (long long)HOURS_MIN, (long long)HOURS_MAX);
    char line[128];
    int64_t hours = read_line(line, sizeof line) ? duration_hours(line) : 0;
    if (hours == 0) {
        out("  好的，不拉黑。\n");
        return;
    }
    out("  ✔ 已选择：%lld 小时（约 %lld 天）\n", (long long)hours, (long long)(hours / 24));
    int64_t secs = hours * 3600;
    int64_t now = sys_now();
    // Whether the list is full is the store's to say: it reads the file
    // afresh, and another window may have made room meanwhile.
    BlacklistEntry& e = g_new;
    int exact = bl_entry_of(d, add_sat(now, secs), &e);
    ModelCheck c;
    int others = 0;
    e.byname = by_name_consent(bl_book(), d, e, exact, &c, &others);
    if (!e.byname) c.verdict = MODEL_NONE;
    BlacklistModel m;
    const BlacklistModel* model = e.byname && bl_model_record(e, c, &m) ? &m : nullptr;
    BlockResult b;
    bl_status st = bl_add(e, model, &b);
    const RuleBook& book = bl_book();
    if (st == BL_OK) {
        char left[LEFT_BYTES];
        fmt_left(add_sat(sys_now(), secs), left);
        out("  ✔ 已拉黑：%s（%s）\n", name, left);
        block_lines(book, b, c, name);
        logline(EV_BLACKLISTED, "拉黑 | %s | %lld秒", name, (long long)secs);
        if (e.byname) model_note(c, name, 0, 1);
        int removed = 0, failed = 0;
        if (reaches_further(e, others, c)) sweep_after(book, e, 0, 0, &removed, &failed);
    } else if (st == BL_FULL) {
        out("  拉黑名单已满（%d 条），请先解除一些。\n", BL_MAX);
    } else {
        refused_line(book, st);
        out("  ✘ 拉黑失败：%s（拉黑名单写入失败）\n", name);
        logline(EV_BLACKLIST_FAILED, "拉黑失败 | %s", name);
    }
    out("  小提示：装个后台任务才能「它一回来就自动删」。\n");
    out("  现在安装吗？(y/N) > ");
    if (ask() == 1) {
        task_result r = install_task_ui(args.allow_unsafe);
        if (r == TASK_INSTALLED || r == TASK_NO_POLICY) {
            out("  ✔ 后台任务已安装（设备一出现就检查，另每5分钟检查一次，重启有效）\n");
            if (r == TASK_NO_POLICY) no_policy_hint();
        } else if (r == TASK_TIMER_ONLY) {
            out("  ✔ 后台任务已安装（每5分钟检查一次，重启有效）\n");
            timer_only_hint();
        }
    } else {
        out("  好的，随时可在菜单 b 里安装。\n");
    }
}

}  // namespace

int64_t duration_hours(const char* line) {
    int64_t v = parse_int(line, INT64_MIN, INT64_MAX);
    if (v >= 1 && v <= 8) return CHOICE_HOURS[v - 1];
    if (line[0] == 0 || line[0] == '\n') return 0;
    if (v < HOURS_MIN) return HOURS_MIN;
    if (v > HOURS_MAX) return HOURS_MAX;
    return v;
}

void removal_dialog(const Args& a, const int* sel, int n) {
    int ok = 0, failed = 0, skipped = 0;
    for (int k = 0; k < n; k++) {
        const DeviceEntry& d = g_dev[sel[k]];
        char name[512], cls[128], inst[512];
        shown_text(d.name, name, sizeof name);
        shown_text(d.cls, cls, sizeof cls);
        shown_text(d.inst, inst, sizeof inst);
        out("\n  ------------------------------------------------------------\n");
        out("  即将删除这个设备：\n");
        out("    名称：%s\n", name);
        out("    类别：%s\n", cls);
        out("    状态：%s\n", d.present ? "在场" : "离场（遗留记录）");
        out("    实例：%s\n", inst);
        if (rule_builtin(d.builtin, 1, a.force, 1) == BUILTIN_ASK) {
            out("\n  [!! 这是内置 / 系统类设备 !!]\n");
            out("     删除后一般要【重启】才会被 Windows 重新识别装回；\n");
            out("     若是磁盘 / 芯片组一类的关键设备，可能影响开机。\n");
            out("  是否愿意承担这个风险继续？输入 y = 愿意，其他 = 跳过 > ");
            if (!go_on(&skipped)) continue;
        } else {
            out("\n  删除后需要重新插拔 / 重新配对才能再出现（硬件不会损坏）。\n");
        }
        out("  最后确认：确定删除吗？输入 y，直接回车 = 跳过 > ");
        if (!go_on(&skipped)) continue;
        out("  正在删除 ...\n");
        sys_removal r = model_remove(d, &g_hw);
        if (r == SYS_REMOVE_FAILED) {
            out("  ✘ 删除失败：%s  （多半是权限不足，或设备正在被使用）\n", name);
            logline(EV_REMOVE_FAILED, "删除失败 | %s | %s", name, inst);
            failed++;
            continue;
        }
        if (r == SYS_REMOVED_RESTART) {
            out("  ✔ 已删除：%s（重启电脑后完成）\n", name);
            logline(EV_REMOVED_RESTART, "已删除（需重启） | %s | %s", name, inst);
        } else {
            out("  ✔ 已删除：%s\n", name);
            logline(EV_REMOVED, "已删除 | %s | %s", name, inst);
        }
        ok++;
        offer_blacklist(a, d, name);
    }
    out("\n  本轮结果：成功 %d，失败 %d，跳过 %d\n\n", ok, failed, skipped);
    out("  按回车继续...");
    char line[256];
    read_line(line, sizeof line);
}
