// --blacklist: an entry by id or by name for a device that need not be here,
// so that a PC can be prepared before the camera ever arrives. --unblacklist:
// lifting entries by id, by name or all, through the same locked steps as
// the blacklist menu's d<n> and c.
#include "app/blacklist_mode.h"

#include <cstring>

#include "app/console.h"
#include "app/documents.h"
#include "app/policy_note.h"
#include "app/rule_mode.h"
#include "app/driven.h"
#include "app/exitcode.h"
#include "app/json.h"
#include "app/blmenu.h"
#include "app/model_note.h"
#include "app/show.h"
#include "local/tsv.h"
#include "pass/reach.h"
#include "rules/rules.h"
#include "device/walk.h"
#include "log/log.h"
#include "sys/sys.h"

namespace {

// What one run of --blacklist or --unblacklist works with: the entry being
// made, a device the system knows and its hardware ids, and the entries to
// lift. Each mode keeps one in static storage, as it is some 200 KB.
struct BlacklistRun {
    DriveRun drive;
    BlacklistEntry entry;
    WalkedDevice known;
    HardwareIds hw;
    BlacklistEntry lift[BL_MAX];
    Judged still[BL_MAX];  // the rule that still keeps each lifted one's device off
};

int refuse_name(const Args& a) {
    return drive_refuse(a, "bad_name", "[错误] --name 必须是不含控制字符、不超过 599 字节、不只有空白的名称：%s\n", a.name);
}

}  // namespace

int blacklist_mode(const Args& a) {
    static BlacklistRun run;
    drive_run_start(&run.drive);
    int64_t hours = rule_hours(a.hours);
    if (!hours) return refuse_hours(a);
    const char* id = a.nids ? a.ids[0] : nullptr;
    if (a.name && (rule_name_blank(a.name) || !bl_storable(a.name, sizeof run.entry.name))) return refuse_name(a);
    if (id && (!id[0] || !bl_storable(id, sizeof run.entry.inst)))
        return drive_refuse(a, "bad_id", "[错误] --id 不是可用的实例 ID：%s\n", id);
    int64_t secs = hours * 3600;
    BlacklistEntry& e = run.entry;
    memset(&e, 0, sizeof e);
    e.until = add_sat(sys_now(), secs);
    char16_t id16[INST_UNITS] = {0};
    int builtin = 0, known = 0;
    if (id) {
        utf16(id, id16, countof(id16));
        // A device the system knows, present or not, gives its own id, class
        // and name; one it does not know is judged by its id alone.
        if ((known = dev_lookup(id16, &run.known))) {
            (void)bl_entry_of(run.known.d, e.until, &e);
            builtin = run.known.d.builtin;
        } else {
            scopy(e.inst, sizeof e.inst, id);
            builtin = is_builtin(u"", id16);
        }
        if (rule_builtin(builtin, 1, a.force, 0) == BUILTIN_REFUSED)
            return drive_refuse(a, "builtin", "[错误] %s 是内置/系统设备；确要拉黑它请加 --force。\n", id);
    }
    if (a.name) {
        scopy(e.name, sizeof e.name, a.name);
        lower_ascii(e.name);
    }
    e.byname = !id || a.by_name;
    char shown[600];
    if (e.byname && !rule_long_enough(e.name, a.force))
        return drive_refuse(a, "name_too_short", "[错误] 名称「%s」太短（至少 %d 个字）；确要按它拉黑请加 --force。\n",
                            shown_text8(e.name, shown, sizeof shown), MIN_CHARS);
    if (int code = drive_start(a, 1)) return code;
    ModelCheck c;
    c.verdict = MODEL_NONE;
    if (e.byname) {
        int others = bl_name_reach(bl_book(), e.name, id16);
        // The name was asked for: its reach is said, and must be known.
        Admission ad{1, others, 0, a.force, ON_REACH_NAME, ON_UNKNOWN_REFUSE};
        if (bl_admit(ad).verdict == ADMIT_REFUSE)
            return drive_refuse(a, "device_list_unavailable", "[错误] 读不到设备列表，无法说明这个名称涉及哪些设备。\n");
        if (!a.json) out("  名称「%s」现在涉及 %d 个设备（不算内置设备）\n", shown_text8(e.name, shown, sizeof shown), others);
        if (!a.what_if) logline(EV_BY_NAME_REACH, "按名称拉黑 | %s | 另涉及 %d 个设备", e.name, others);
        // A device the system knows gives its model too.
        if (id && known) {
            model_read_ids(run.known.d, &run.hw);
            model_check_for(bl_book(), run.known.d, run.hw, e, &c);
            if (!a.json && c.verdict == MODEL_OK) out("  型号「%s」现在另有 %d 个设备在用\n", c.text, c.others);
        }
    }
    if (a.what_if && !a.json) out("（演习：只列出会做的事，不做任何修改）\n");
    int ok = drive_put(&run.drive, a, e, e.name[0] ? e.name : e.inst, secs, id && known ? &c : nullptr, 1);
    drive_task_hint(run.drive, a);
    if (a.json) {
        drive_begin(a);
        drive_put_list(run.drive, "added");
        (void)drive_end(run.drive);
    }
    return ok && !run.drive.absent_failed && !run.drive.undecided ? EXIT_OK : EXIT_FAILED;
}

int unblacklist_mode(const Args& a) {
    static BlacklistRun run;
    const char* id = a.nids ? a.ids[0] : nullptr;
    if (a.name && (!a.name[0] || !bl_storable(a.name, sizeof run.entry.name))) return refuse_name(a);
    if (id && !id[0]) return drive_refuse(a, "bad_id", "[错误] --id 不是可用的实例 ID：%s\n", id);
    if (int code = drive_start(a, 1)) return code;
    char name[sizeof run.entry.name] = {0};
    if (a.name) {
        scopy(name, sizeof name, a.name);
        lower_ascii(name);  // as the store keeps names
    }
    // The entries in force that are asked for; the expired ones go anyway.
    const RuleBook& b = bl_book();
    int64_t now = sys_now();
    int n = 0;
    for (int i = 0; i < b.nentries; i++) {
        const BlacklistEntry& e = b.entries[i];
        if (!rule_in_force(e.until, now)) continue;
        if (a.all || (id && e.inst[0] && ieq_ascii(e.inst, id)) || (a.name && strcmp(e.name, name) == 0))
            run.lift[n++] = e;
    }
    // Policy's blocks asked for are left: only the policy lifts them.
    int kept = policy_asked(b, 0, a.all ? POLICY_ANY_KIND : a.name ? 1u << POLICY_NAME : 1u << POLICY_INSTANCE_ID,
                            a.all ? nullptr : a.name ? name : id);
    // All means the model rules too; approvals are --unapprove's.
    int rules_asked = 0;
    for (int i = 0; i < b.nrules && a.all; i++)
        rules_asked += b.rules[i].kind == RULE_MODEL && rule_in_force(b.rules[i].until, now);
    bl_status st = BL_OK;
    if (n == 0) {
        if (!a.json && !kept && !rules_asked) out("没有要解除的拉黑条目。\n");
    } else if (a.what_if) {
        if (!a.json && !rules_asked) out("（演习：只列出会做的事，不做任何修改）\n");
    } else {
        st = a.all ? bl_remove_each(b.entries, b.nentries) : bl_remove_each(run.lift, n);
    }
    if (st != BL_OK) {
        if (!a.json) refused_line(b, st);
        n = 0;
    }
    bl_status rules_st = BL_OK;
    const Rule* rules_gone = nullptr;
    int nr = rules_asked && st == BL_OK ? lift_rules(a, RULE_MODEL, 0, nullptr, &rules_st, &rules_gone) : 0;
    for (int i = 0; i < n && !a.json; i++) {
        char shown[600];
        const BlacklistEntry& e = run.lift[i];
        out("  %s：%s  %s\n", a.what_if ? "将解除" : "✔ 已解除", e.name[0] ? shown_text8(e.name, shown, sizeof shown) : "(无名)",
            e.inst);
    }
    if (!a.json) policy_left_lines();
    // The entries are lifted; a block that could not be is the next pass's,
    // and until then the run has not done all it was asked.
    int left = !a.what_if && n + nr > 0 && block_left();
    if (left && !a.json) block_left_line();
    if (!a.what_if && n > 0) {
        if (a.all) logline(EV_CLEARED, "清空拉黑名单");
        else
            for (int i = 0; i < n; i++) logline(EV_LIFTED, "解除拉黑 | %s", run.lift[i].name);
    }
    // An entry still in force may reach a lifted device all the same.
    for (int i = 0; i < n; i++) run.still[i] = a.what_if ? Judged{} : lift_still_reached(b, run.lift[i], a.json);
    if (a.json) {
        drive_begin(a);
        json_key("lifted");
        json_open_array();
        for (int i = 0; i < n; i++) {
            json_open();
            entry_keys(b, run.lift[i]);
            json_key("still_reached_by");
            still_reached_json(b, run.still[i]);
            json_close();
        }
        for (int i = 0; i < nr; i++) rule_json(rules_gone[i]);
        json_close_array();
        policy_left_json();
        json_key("blacklist_error");
        json_text(st != BL_OK ? "blacklist_write_failed" : rules_st != BL_OK ? "rules_unreadable" : nullptr);
        json_key("block_error");
        json_text(left ? "block_not_lifted" : nullptr);
        json_end_document();
    }
    return st == BL_OK && rules_st == BL_OK && !left ? EXIT_OK : EXIT_FAILED;
}
