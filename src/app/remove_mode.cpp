// --remove: the devices a scan with the same keyword and --present-only
// lists, narrowed by --id, each removed as the dialogue removes it and, with
// --hours, blacklisted as the dialogue blacklists it. Built-in devices are
// never removed unless --force is given and their own id is named.
#include "app/remove_mode.h"

#include "app/console.h"
#include "app/driven.h"
#include "app/exitcode.h"
#include "app/json.h"
#include "app/model_note.h"
#include "app/rule_mode.h"
#include "app/documents.h"
#include "app/show.h"
#include "local/tsv.h"
#include "pass/reach.h"
#include "rules/rules.h"
#include "device/remove.h"
#include "device/scan.h"
#include "log/log.h"
#include "sys/sys.h"

namespace {

enum fate { FATE_REMOVE, FATE_BUILTIN, FATE_NO_ID };

// What became of each device, in table order, for the document.
struct Outcome {
    int dev;             // index into g_dev, or -1 for an --id that named none
    const char* id;      // that --id
    const char* reason;  // why it was skipped
};
Outcome g_removed[DEV_MAX], g_failed[DEV_MAX], g_skipped[DEV_MAX + ARGS_MAX_IDS];
int g_nremoved, g_nfailed, g_nskipped;
int g_named[ARGS_MAX_IDS];  // an --id matched a device of the table

// The table's devices that --id names (all of them without --id); 1 when
// device i was named by its own id.
int named(const Args& a, int i, int* by_id) {
    *by_id = 0;
    if (a.nids == 0) return 1;
    char16_t id[INST_UNITS];
    for (int k = 0; k < a.nids; k++) {
        utf16(a.ids[k], id, countof(id));
        if (wicmp(g_dev[i].inst, id) != 0) continue;
        g_named[k] = 1;
        *by_id = 1;
    }
    return *by_id;
}

fate fate_of(const Args& a, const DeviceEntry& d, int by_id) {
    if (!d.inst[0]) return FATE_NO_ID;
    if (rule_builtin(d.builtin, by_id, a.force, 0) != BUILTIN_ALLOWED) return FATE_BUILTIN;
    return FATE_REMOVE;
}

void skip(const Args& a, int dev, const char* id, const char* reason, const char* why) {
    g_skipped[g_nskipped++] = Outcome{dev, id, reason};
    if (a.json) return;
    char name[512], inst[512];
    if (dev >= 0) {
        shown_text(g_dev[dev].name, name, sizeof name);
        shown_text(g_dev[dev].inst, inst, sizeof inst);
        out("  跳过：%s  %s（%s）\n", name, inst, why);
    } else {
        out("  跳过：%s（%s）\n", shown_text8(id, inst, sizeof inst), why);
    }
}

// The entry for a removed device: by name as well with --by-name, where the
// rules admit it (unless --force, neither the name nor the model may reach
// another device).
void blacklist(DriveRun* run, const Args& a, const DeviceEntry& d, const HardwareIds& hw, const char* name,
               int64_t hours) {
    int64_t secs = hours * 3600;
    BlacklistEntry e;
    ModelCheck c;
    c.verdict = MODEL_NONE;
    int exact = bl_entry_of(d, add_sat(sys_now(), secs), &e);
    int others = 0;
    if (a.by_name) {
        Admission ad{exact && e.name[0], -1, 0, a.force, ON_REACH_ID_UNLESS_FORCE, ON_UNKNOWN_ID};
        if (ad.storable) {
            const RuleBook& b = bl_book();
            ad.others = bl_name_reach(b, e.name, d.inst);
            if (ad.others >= 0) model_check_for(b, d, hw, e, &c);
            ad.alike = c.verdict == MODEL_OK ? c.others : 0;
        }
        AdmitResult r = bl_admit(ad);
        e.byname = r.verdict == ADMIT_BY_NAME;
        const char* how = e.byname ? "，按名称拉黑" : "：不加 --force 就只按实例 ID 拉黑";
        char shown[600];
        if (a.json) {
            // the document says what the entry is
        } else if (r.reason == ADMIT_NOT_STORABLE) {
            out("  [提示] %s 的名称含控制字符、为空或太长，只按实例 ID 拉黑。\n", name);
        } else if (r.reason == ADMIT_REACH_UNKNOWN) {
            out("  [提示] 读不到设备列表，%s 只按实例 ID 拉黑。\n", name);
        } else {
            out("  另有 %d 个设备的名称包含「%s」%s\n", ad.others, shown_text8(e.name, shown, sizeof shown), how);
            if (ad.alike) out("  另有 %d 个设备与它同型号（%s）%s\n", ad.alike, c.text, how);
        }
        if (!a.what_if && ad.others >= 0) logline(EV_BY_NAME_REACH, "按名称拉黑 | %s | 另涉及 %d 个设备", e.name, ad.others);
        others = ad.others;
    }
    // The device itself is gone: only a name or a model reaches further.
    (void)drive_put(run, a, e, name, secs, &c, reaches_further(e, others, c));
}

void outcome_list(const char* key, const Outcome* list, int n) {
    json_key(key);
    json_open_array();
    for (int i = 0; i < n; i++) {
        json_open();
        json_key("name");
        if (list[i].dev >= 0) json_text16(g_dev[list[i].dev].name);
        else json_null();
        json_key("instance_id");
        if (list[i].dev >= 0) json_text16(g_dev[list[i].dev].inst);
        else json_text(list[i].id);
        if (list[i].reason) {
            json_key("reason");
            json_text(list[i].reason);
        }
        json_close();
    }
    json_close_array();
}

}  // namespace

int remove_mode(const Args& a) {
    int64_t hours = a.hours ? rule_hours(a.hours) : 0;
    if (a.hours && !hours) return refuse_hours(a);
    char key[256];
    utf8(g_key, key, sizeof key);
    // A short word reaches more devices than anyone meant.
    if (g_key[0] && !rule_long_enough(key, a.force))
        return drive_refuse(a, "keyword_too_short", "[错误] 关键词「%s」太短（至少 3 个字）；确要用它删除请加 --force。\n",
                            shown_text8(key, key, sizeof key));
    for (int k = 0; k < a.nids; k++)
        if (!a.ids[k][0] || !bl_storable(a.ids[k], sizeof(BlacklistEntry::inst)))
            return drive_refuse(a, "bad_id", "[错误] --id 不是可用的实例 ID：%s\n", a.ids[k]);
    if (a.model && !rule_model_ok(a.model))
        return refuse_model(a);
    if (int code = drive_start(a, hours > 0)) return code;

    // By keyword, or, with --model, every present device of the model.
    uint32_t err;
    char16_t model[INST_UNITS];
    if (a.model) utf16(a.model, model, countof(model));
    if (!(a.model ? scan_model(model, &err) : scan(a.scan_all ? SCAN_ALL : SCAN_PRESENT, &err)))
        return drive_refuse(a, "device_list_unavailable", "[错误] 枚举设备失败 (code %lu)\n", (unsigned long)err);
    int reach = 0;
    for (int i = 0; i < g_n; i++) {
        int by_id;
        if (named(a, i, &by_id) && fate_of(a, g_dev[i], by_id) == FATE_REMOVE) reach++;
    }
    const char* shown_key = a.model ? a.model : g_key[0] ? key : "默认关键词";
    if (!a.json) {
        if (a.what_if) out("（演习：只列出会做的事，不做任何修改）\n");
        out("命令行删除（%s：%s）：要删除 %d 个设备。\n", a.model ? "型号" : "关键词", shown_key, reach);
        if (g_matched > g_n) out("  [提示] 匹配的设备共 %d 个，这次只处理前 %d 个。\n", g_matched, g_n);
    }
    if (!a.what_if) logline(EV_DRIVEN_REMOVAL, "命令行删除 | %s | %d 个设备", shown_key, reach);

    // The run, and the hardware ids of the device being removed, read before
    // it goes: static, as they are 165 KB.
    static DriveRun run;
    static HardwareIds hw;
    drive_run_start(&run);
    int restart = 0, failed = 0;
    for (int i = 0; i < g_n; i++) {
        const DeviceEntry& d = g_dev[i];
        int by_id;
        if (!named(a, i, &by_id)) continue;
        fate f = fate_of(a, d, by_id);
        if (f == FATE_BUILTIN) {
            skip(a, i, nullptr, "builtin", "内置/系统设备；要删除它须加 --force 并用 --id 指名");
            continue;
        }
        if (f == FATE_NO_ID) {
            skip(a, i, nullptr, "no_instance_id", "读不到实例 ID，无法删除");
            continue;
        }
        char name[512], inst[512];
        shown_text(d.name, name, sizeof name);
        shown_text(d.inst, inst, sizeof inst);
        sys_removal r = SYS_REMOVED;
        if (a.what_if) {
            if (!a.json) out("  将删除：%s  %s\n", name, inst);
            if (hours && a.by_name) model_read_ids(d, &hw);  // the model check reads what a removal would
        } else {
            r = model_remove(d, &hw);
            if (r == SYS_REMOVE_FAILED) {
                if (!a.json) out("  ✘ 删除失败：%s  （多半是权限不足，或设备正在被使用）\n", name);
                logline(EV_REMOVE_FAILED, "删除失败 | %s | %s", name, inst);
                g_failed[g_nfailed++] = Outcome{i, nullptr, nullptr};
                failed = 1;
                continue;
            }
            if (!a.json) out("  ✔ 已删除：%s%s\n", name, r == SYS_REMOVED_RESTART ? "（重启电脑后完成）" : "");
            if (r == SYS_REMOVED_RESTART) logline(EV_REMOVED_RESTART, "已删除（需重启） | %s | %s", name, inst);
            else logline(EV_REMOVED, "已删除 | %s | %s", name, inst);
            restart |= r == SYS_REMOVED_RESTART;
        }
        g_removed[g_nremoved++] = Outcome{i, nullptr, nullptr};
        if (hours && !a.model) blacklist(&run, a, d, hw, name, hours);
    }
    // A model is one rule, however many of its units went.
    int ruled = hours && a.model ? model_rule_put(&run, a, hours) : 0;
    if (hours && a.model && !ruled) drive_rule_failed(&run);
    // An id that names nothing may be gone already: said, not a failure.
    for (int k = 0; k < a.nids; k++)
        if (!g_named[k]) skip(a, -1, a.ids[k], "not_found", "没有这个设备，可能已经删除");
    drive_task_hint(run, a);
    const char* bl_error = nullptr;
    if (a.json) {
        drive_begin(a);
        outcome_list("removed", g_removed, g_nremoved);
        outcome_list("failed", g_failed, g_nfailed);
        outcome_list("skipped", g_skipped, g_nskipped);
        json_key("restart_required");
        json_bool(restart);
        if (a.model) {
            json_key("blacklisted");
            json_open_array();
            if (ruled) drive_rule_json(run);
            json_close_array();
        } else {
            drive_put_list(run, "blacklisted");
        }
        bl_error = drive_end(run);
    } else {
        bl_error = run.bl_error;
        out("结果：%s %d，失败 %d，跳过 %d\n", a.what_if ? "将删除" : "删除", g_nremoved, g_nfailed, g_nskipped);
    }
    if (failed || bl_error || run.absent_failed || run.undecided) return EXIT_FAILED;
    return restart ? EXIT_RESTART : EXIT_OK;
}
