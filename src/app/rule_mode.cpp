// Rules without an instance id from the command line: --blacklist --model
// keeps a model off before any unit arrives, --unblacklist --model lifts
// it; --approve and --unapprove spare a model or a unit that no rule by
// name (or by model) may reach.
#include "app/rule_mode.h"

#include <cstring>

#include "app/console.h"
#include "app/blmenu.h"
#include "app/documents.h"
#include "app/policy_note.h"
#include "app/driven.h"
#include "app/exitcode.h"
#include "app/json.h"
#include "app/model_note.h"
#include "app/show.h"
#include "local/models.h"
#include "local/tsv.h"
#include "rules/rules.h"
#include "device/model.h"
#include "device/walk.h"
#include "rules/standing.h"
#include "rules/wanted.h"
#include "store/store.h"
#include "log/log.h"
#include "sys/sys.h"

namespace {

// The rule being put, and the rules lifted: static, as they are 50 KB.
Rule g_rule, g_gone[RULES_MAX];


const char* shown_rule(const Rule& r, char* buf, size_t size) { return shown_text8(r.name[0] ? r.name : r.id, buf, size); }

// Fills g_rule from the command line; 0 after a refusal (its exit code in *code).
int rule_from(const Args& a, rule_kind kind, int64_t hours, int* code) {
    memset(&g_rule, 0, sizeof g_rule);
    g_rule.kind = kind;
    const char* id = kind == RULE_APPROVE_ID ? a.ids[0] : a.model;
    int ok = kind == RULE_APPROVE_ID ? rule_instance_ok(id) : rule_model_ok(id);
    if (!ok) {
        *code = kind == RULE_APPROVE_ID ? drive_refuse(a, "bad_id", "[错误] --id 不是可用的实例 ID：%s\n", id) : refuse_model(a);
        return 0;
    }
    if (a.name && (!a.name[0] || !bl_storable(a.name, sizeof g_rule.name))) {
        *code = drive_refuse(a, "bad_name", "[错误] --name 必须是不含控制字符、不超过 599 字节的名称：%s\n", a.name);
        return 0;
    }
    scopy(g_rule.id, sizeof g_rule.id, id);
    if (a.name) scopy(g_rule.name, sizeof g_rule.name, a.name);
    lower_ascii(g_rule.name);
    g_rule.until = add_sat(sys_now(), hours * 3600);
    g_rule.verdict = MODEL_NONE;
    return 1;
}

void refused(bl_status st) {
    const RuleBook& b = bl_book();
    if (st == BL_RULES_REFUSED) rules_trouble_line(b);
    else if (st == BL_FULL) out("  规则已满（%d 条），请先解除一些。\n", RULES_MAX);
    else refused_line(b, st);
}

// What the put did to the install block.
BlockResult g_block;

// Puts g_rule, as the store puts an entry; says what it did. 1 when put,
// and then run->rule_after is the rule as it stands.
int put_rule(DriveRun* run, const Args& a, int64_t secs, const char* verb, const char* verb_ahead) {
    int what = 0;
    g_block = BlockResult{BLOCK_NONE, BLOCK_NONE, 0};
    Rule& after = run->rule_after;
    bl_status st = a.what_if ? bl_rule_put_in_memory(g_rule, &what, &after) : bl_rule_put(g_rule, &what, &after, &g_block);
    char shown[600];
    shown_rule(g_rule, shown, sizeof shown);
    if (st != BL_OK) {
        drive_rule_refused(run, st);
        if (!a.json) refused(st);
        if (!a.json && st != BL_FULL && st != BL_RULES_REFUSED) out("  ✘ 拉黑失败：%s（规则文件写入失败）\n", shown);
        if (st != BL_RULES_REFUSED) logline(EV_BLACKLIST_FAILED, "拉黑失败 | %s", g_rule.id);
        return 0;
    }
    if (!a.what_if && what && g_rule.kind == RULE_MODEL) logline(EV_MODEL_RULE, "按型号拉黑 | %s | %lld秒", g_rule.id, (long long)secs);
    else if (!a.what_if && what) logline(EV_APPROVED, "放行 | %s | %lld秒", g_rule.id, (long long)secs);
    if (a.json) return 1;
    char left[LEFT_BYTES], name[600];
    fmt_left(after.until, left);
    shown_text8(after.name, name, sizeof name);
    const char* gap = name[0] ? "  " : "";
    if (what == 0) out("  已在规则中，到期时间不变：%s%s%s（%s）\n", after.id, gap, name, left);
    else out("  %s%s：%s%s%s（%s）\n", a.what_if ? "" : "✔ ", a.what_if ? verb_ahead : what == 1 ? "已延长" : verb, after.id,
             gap, name, left);
    return 1;
}

// The document of a rule put: the rule as it stands.
void rule_document(const DriveRun& run, const Args& a, const char* key, int ok) {
    drive_begin(a);
    json_key(key);
    if (!ok) json_null();
    else if (run.rule_after.kind == RULE_MODEL) drive_rule_json(run);
    else rule_json(run.rule_after);
    (void)drive_end(run);
}

// What an approval does to the blocks of its model: the blocks given up for
// it, and whether its unit goes on Windows' allow list so that they stand.
// Ids of the unit's: its hardware ids, or the device id its instance id
// starts with. Static, as they are 32 KB.
HardwareIds g_unit_ids;

// Whether the given up id belongs to the approval r.
int concerns(const Rule& r, const char16_t* id) {
    char16_t own[INST_UNITS], parent[INST_UNITS];
    if (r.kind == RULE_APPROVE_MODEL) {
        utf16(r.id, own, countof(own));
        return wicmp(own, id) == 0 || (model_parent_id(own, parent, countof(parent)) && wicmp(parent, id) == 0);
    }
    for (const char16_t* p = g_unit_ids.ids; *p; p += wlen(p) + 1)
        if (wicmp(p, id) == 0 || (model_parent_id(p, parent, countof(parent)) && wicmp(parent, id) == 0)) return 1;
    return 0;
}

// Whether Windows refuses the approved unit now: one of its ids is in this
// copy's model list and the unit is not on the allow list.
int refused_now(const char16_t* unit) {
    char id[DEV_TEXT_BYTES], inst[DEV_TEXT_BYTES];
    utf8(unit, inst, sizeof inst);
    if (bl_id_blocked_in(BLOCK_ALLOW_IDS, inst)) return 0;
    for (const char16_t* p = g_unit_ids.ids; *p; p += wlen(p) + 1) {
        utf8(p, id, sizeof id);
        if (bl_id_blocked_in(BLOCK_DEVICE_IDS, id)) return 1;
    }
    return 0;
}

void approval_effects(const RuleBook& b, const Rule& r, block_outcome allowed, int what_if, int json) {
    char16_t unit[INST_UNITS];
    utf16(r.id, unit, countof(unit));
    g_unit_ids.ids[0] = g_unit_ids.ids[1] = 0;
    if (r.kind == RULE_APPROVE_ID) (void)dev_unit_ids(unit, &g_unit_ids, 1);
    const GivenUpList& g = book_given_up(b);
    const BlockIds& allow = book_wanted(b).list[BLOCK_ALLOW_IDS];
    int wanted = 0;
    for (int i = 0; i < allow.n && r.kind == RULE_APPROVE_ID; i++) wanted |= wicmp(allow.id[i], unit) == 0;
    // What was written, or with --what-if what would be.
    int listed = what_if ? wanted : allowed == BLOCK_WRITTEN;
    if (json) {
        json_key("allow_listed");
        json_bool(listed);
        json_key("given_up");
        json_open_array();
    } else if (listed) {
        out("  %s加入系统的允许安装列表（分层评估）：它的型号仍禁止安装，Windows 照常安装这一个。\n", what_if ? "将" : "✔ 已");
    } else if (!what_if && r.kind == RULE_APPROVE_ID && refused_now(unit)) {
        out("  [提示] 未能写入系统的允许安装列表：它的型号仍禁止安装，Windows 暂时装不上它，后台任务下次运行时再写入。\n");
    }
    for (int i = 0; i < g.n; i++) {
        if (g.t[i].list != BLOCK_DEVICE_IDS || !concerns(r, g.t[i].id)) continue;
        char id[DEV_TEXT_BYTES];
        utf8(g.t[i].id, id, sizeof id);
        if (!json) {
            out("  [提示] 型号 %s 的安装禁止因此撤下（%s），后台任务仍会删除它的其他设备。\n", id, given_up_text(g.t[i].why));
            continue;
        }
        json_open();
        json_key("model_id");
        json_text(id);
        json_key("reason");
        json_text(standing_key(Standing{WHY_GIVEN_UP, g.t[i].why}));
        json_close();
    }
    if (json) json_close_array();
}

}  // namespace

int refuse_model(const Args& a) {
    model_refusal why = rule_model_refusal(a.model);
    if (a.json) {
        json_begin_document();
        json_key("error");
        json_text("bad_model");
        json_key("reason");
        json_text(model_refusal_key(why));
        json_end_document();
        return EXIT_FAILED;
    }
    char id[600];
    out("[错误] --model 不是可用的硬件 ID（要写明厂商和产品，如 USB\\VID_046D&PID_0825；"
        "不能是类别 ID、兼容 ID，不能有控制字符或首尾空格，最多 200 个字符）：%s\n",
        shown_text8(a.model, id, sizeof id));
    out("  原因：%s\n", rule_model_refusal_text(why));
    return EXIT_FAILED;
}

int model_rule_mode(const Args& a) {
    int64_t hours = rule_hours(a.hours);
    if (!hours) return refuse_hours(a);
    int code;
    if (!rule_from(a, RULE_MODEL, hours, &code)) return code;
    if ((code = drive_start(a, 1))) return code;
    static DriveRun run;  // static, as it is 130 KB
    drive_run_start(&run);
    int ok = model_rule_put(&run, a, hours);
    run.added |= ok;
    drive_task_hint(run, a);
    if (a.json) rule_document(run, a, "added", ok);
    return ok && !run.absent_failed && !run.undecided ? EXIT_OK : EXIT_FAILED;
}

int model_rule_put(DriveRun* run, const Args& a, int64_t hours) {
    int code;
    if (!rule_from(a, RULE_MODEL, hours, &code)) return 0;
    // Which devices have it, and whether its install block may be written.
    ModelCheck c;
    char16_t id[INST_UNITS];
    utf16(g_rule.id, id, countof(id));
    bl_model_rule_check(id, a.force, &c);
    g_rule.verdict = c.verdict;
    // A list that could not be read may hold more units: the count is a floor.
    run->undecided |= c.verdict == MODEL_UNKNOWN;
    if (!a.json && c.verdict == MODEL_UNKNOWN)
        out("  型号「%s」现在至少有 %d 个设备（有设备的 ID 列表读不到）\n", g_rule.id, c.others);
    else if (!a.json) out("  型号「%s」现在有 %d 个设备\n", g_rule.id, c.others);
    if (a.what_if && !a.json) out("（演习：只列出会做的事，不做任何修改）\n");
    int ok = put_rule(run, a, hours * 3600, "已按型号拉黑", "将按型号拉黑");
    run->rule_note = drive_note_key(c, g_block);
    if (ok) {
        const RuleBook& b = bl_book();
        char shown[600];
        shown_rule(g_rule, shown, sizeof shown);
        block_lines(b, g_block, c, shown, a.json);
        model_note(c, shown, a.json, !a.what_if);
        int index = -1;
        for (int i = 0; i < b.nrules && index < 0; i++)
            if (b.rules[i].kind == RULE_MODEL && ieq_ascii(b.rules[i].id, g_rule.id)) index = i;
        if (index >= 0) sweep_after_rule(b, index, a.what_if, a.json, &run->absent_removed, &run->absent_failed);
    }
    return ok;
}

int lift_rules(const Args& a, rule_kind kind, int all_kinds, const char* id, bl_status* st, const Rule** gone) {
    int n = 0, m = 0;
    *st = BL_OK;
    *gone = g_gone;
    // All approvals are both kinds; otherwise one kind with its id.
    int64_t now = sys_now();
    if (a.what_if) {
        const RuleBook& b = bl_book();
        for (int i = 0; i < b.nrules; i++)
            if ((b.rules[i].kind == kind || (all_kinds && b.rules[i].kind == RULE_APPROVE_ID)) &&
                (!id || ieq_ascii(b.rules[i].id, id)) && rule_in_force(b.rules[i].until, now))
                g_gone[n++] = b.rules[i];
    } else {
        *st = bl_rule_remove(kind, id, g_gone, &n);
        if (*st == BL_OK && all_kinds) *st = bl_rule_remove(RULE_APPROVE_ID, nullptr, g_gone + n, &m);
        n += m;
    }
    if (*st != BL_OK && !a.json) refused(*st);
    if (*st != BL_OK) return 0;
    if (a.what_if && !a.json && n) out("（演习：只列出会做的事，不做任何修改）\n");
    for (int i = 0; i < n; i++) {
        char shown[600];
        if (!a.json)
            out("  %s：%s  %s\n", a.what_if ? "将解除" : "✔ 已解除", shown_rule(g_gone[i], shown, sizeof shown), g_gone[i].id);
        if (!a.what_if && kind != RULE_MODEL) logline(EV_UNAPPROVED, "解除放行 | %s", g_gone[i].id);
        else if (!a.what_if) logline(EV_MODEL_RULE_LIFTED, "解除按型号拉黑 | %s", g_gone[i].id);
    }
    return n;
}

int lift_rules_mode(const Args& a, rule_kind kind, int all_kinds) {
    const char* id = kind == RULE_APPROVE_ID && a.nids ? a.ids[0] : a.model;
    if (id && !id[0]) return drive_refuse(a, "bad_id", "[错误] --id 不是可用的实例 ID：%s\n", id);
    if (int code = drive_start(a, 1)) return code;
    bl_status st;
    const Rule* gone;
    int n = lift_rules(a, kind, all_kinds, id, &st, &gone);
    // Policy's rules asked for are left: only the policy lifts them.
    unsigned kinds = all_kinds ? POLICY_ANY_KIND : kind == RULE_APPROVE_ID ? 1u << POLICY_INSTANCE_ID : 1u << POLICY_MODEL;
    int kept = policy_asked(bl_book(), kind != RULE_MODEL, kinds, id);
    if (!a.json && n == 0 && st == BL_OK && !kept) out("没有要解除的规则。\n");
    if (!a.json) policy_left_lines();
    int left = !a.what_if && n > 0 && block_left();
    if (left && !a.json) block_left_line();
    if (a.json) {
        drive_begin(a);
        json_key("lifted");
        json_open_array();
        for (int i = 0; i < n; i++) rule_json(gone[i]);
        json_close_array();
        policy_left_json();
        json_key("blacklist_error");
        json_text(st == BL_OK ? nullptr : st == BL_RULES_REFUSED ? "rules_unreadable" : "blacklist_write_failed");
        json_key("block_error");
        json_text(left ? "block_not_lifted" : nullptr);
        json_end_document();
    }
    return st == BL_OK && !left ? EXIT_OK : EXIT_FAILED;
}

int approve_mode(const Args& a) {
    int64_t hours = rule_hours(a.hours);
    if (!hours) return refuse_hours(a);
    rule_kind kind = a.model ? RULE_APPROVE_MODEL : RULE_APPROVE_ID;
    int code;
    if (!rule_from(a, kind, hours, &code)) return code;
    if ((code = drive_start(a, 1))) return code;
    if (a.what_if && !a.json) out("（演习：只列出会做的事，不做任何修改）\n");
    static DriveRun run;  // static, as it is 130 KB
    drive_run_start(&run);
    int ok = put_rule(&run, a, hours * 3600, "已放行", "将放行");
    if (ok && !a.json) {
        const RuleBook& b = bl_book();
        approval_effects(b, run.rule_after, g_block.instance, a.what_if, 0);
        // A USB port's instance id names whatever is plugged in there.
        const char* last = strrchr(g_rule.id, '\\');
        if (kind == RULE_APPROVE_ID && last && strchr(last, '&'))
            out("  [提示] %s 的最后一段没有序列号，它是 USB 端口的实例 ID，放行的是插在这个端口上的任何同型号设备。\n",
                g_rule.id);
        // Within one layer a block holds.
        int64_t now = sys_now();
        int blocked = 0;
        for (int i = 0; i < b.nrules; i++)
            blocked |= kind == RULE_APPROVE_MODEL && b.rules[i].kind == RULE_MODEL && rule_in_force(b.rules[i].until, now) &&
                       ieq_ascii(b.rules[i].id, g_rule.id);
        for (int i = 0; i < b.nentries; i++)
            blocked |= kind == RULE_APPROVE_ID && rule_in_force(b.entries[i].until, now) && ieq_ascii(b.entries[i].inst, g_rule.id);
        if (blocked) out("  [提示] 同一个 ID 另有拉黑规则在用，拉黑优先：放行对它不起作用，直到拉黑解除。\n");
        // Policy decides before the PC, whatever the layer.
        if (policy_asked(b, 0, kind == RULE_APPROVE_ID ? 1u << POLICY_INSTANCE_ID : 1u << POLICY_MODEL, g_rule.id))
            out("  [提示] 策略拉黑了同一个 ID：策略优先于本机规则，这条放行对它不起作用。\n");
    }
    if (a.json) {
        drive_begin(a);
        json_key("approved");
        if (ok) rule_json(run.rule_after);
        else json_null();
        if (ok) approval_effects(bl_book(), run.rule_after, g_block.instance, a.what_if, 1);
        (void)drive_end(run);
    }
    return ok ? EXIT_OK : EXIT_FAILED;
}
