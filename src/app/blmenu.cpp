// The blacklist menu and the --blist listing.
#include <cstring>

#include "app/console.h"
#include "app/documents.h"
#include "app/exitcode.h"
#include "app/json.h"
#include "app/blmenu.h"
#include "app/install.h"
#include "app/policy_note.h"
#include "app/show.h"
#include "app/uninstall.h"
#include "pass/reach.h"
#include "rules/wanted.h"
#include "store/store.h"
#include "block/block.h"
#include "block/view.h"
#include "base/text.h"
#include "task/task.h"
#include "log/log.h"
#include "sys/sys.h"

namespace {

const char* shown_name(const char* name, char* buf, size_t size) {
    return name[0] ? shown_text8(name, buf, size) : "(无名)";
}

// Only where Windows honours the block, and only of a file we could read;
// read once per drawing. Values left at their entries' end for they may be
// an administrator's are said until they go.
void block_line(const RuleBook& b) {
    if (b.blacklist.state == SOURCE_UNREADABLE || !block_applies()) return;
    block_look();
    int models = block_count(BLOCK_DEVICE_IDS);
    if (models) out("  系统安装禁止：%d 条生效（其中按型号 %d 条）\n", block_count(BLOCK_INSTANCE_IDS) + models, models);
    else out("  系统安装禁止：%d 条生效\n", block_count(BLOCK_INSTANCE_IDS));
    if (int kept = block_kept())
        out("  [提示] 另有 %d 条系统安装禁止无法确认是否为本程序所写（策略刷新后列表变了），到期后已保留，请管理员检查。\n",
            kept);
}

// An entry's model, when it has one, and whether Windows refuses it now.
void model_line(const RuleBook& b, const BlacklistEntry& e, const char* indent) {
    const BlacklistModel* m = book_model_of(b, e);
    if (!m) return;
    const char* state = standing_text(model_standing(b, m->model, m->verdict));
    char id[sizeof m->model], parent[sizeof m->model];
    out("%s型号：%s", indent, shown_text8(m->model, id, sizeof id));
    if (bl_model_parent(m->model, parent, sizeof parent)) out("，连同所在的复合设备 %s", parent);
    out("（%s）\n", state);
}

// Policy's rules, marked 策略: Quillfen lists them and never changes them.
void policy_lines(const RuleBook& b, const char* indent, int64_t now) {
    for (int approves = 0; approves < 2; approves++) {
        int n = 0;
        for (int i = 0; i < b.npolicy; i++) n += b.policy[i].approves == approves && rule_in_force(b.policy[i].until, now);
        if (!n) continue;
        out("%s%s（策略，%d 条）：\n", indent, approves ? "放行" : "拉黑", n);
        for (int i = 0; i < b.npolicy; i++) {
            const PolicyRule& p = b.policy[i];
            if (p.approves != approves || !rule_in_force(p.until, now)) continue;
            char left[LEFT_BYTES], id[sizeof p.id];
            if (p.until == INT64_MAX) scopy(left, sizeof left, "策略生效期间");
            else fmt_left(p.until, left);
            const char* kind = p.kind == POLICY_INSTANCE_ID ? "设备" : p.kind == POLICY_MODEL ? "型号" : "名字";
            const char* state = approves                ? nullptr
                              : p.kind == POLICY_NAME   ? "按名字匹配"
                                                        : standing_text(policy_standing(b, p));
            out("%s  [策略] %s %s  %s", indent, kind, shown_text8(p.id, id, sizeof id), left);
            if (state) out("（%s）", state);
            out("\n");
        }
    }
}

// The rules without an instance id, when there are any: models kept off,
// with whether their block holds, and approvals.
void rules_lines(const RuleBook& b, const char* indent) {
    int64_t now = sys_now();
    for (int pass = 0; pass < 2; pass++) {
        int n = 0;
        for (int i = 0; i < b.nrules; i++)
            n += (b.rules[i].kind == RULE_MODEL) == (pass == 0) && rule_in_force(b.rules[i].until, now);
        if (!n) continue;
        out("%s%s（%d 条）：\n", indent, pass == 0 ? "按型号拉黑" : "放行", n);
        for (int i = 0; i < b.nrules; i++) {
            const Rule& r = b.rules[i];
            if ((r.kind == RULE_MODEL) != (pass == 0) || !rule_in_force(r.until, now)) continue;
            char left[LEFT_BYTES], name[600];
            fmt_left(r.until, left);
            const char* state = r.kind != RULE_MODEL ? (r.kind == RULE_APPROVE_ID ? "设备" : "型号")
                                                     : standing_text(model_standing(b, r.id, r.verdict));
            out("%s  %-30s %s  %s（%s）\n", indent, shown_name(r.name, name, sizeof name), r.id, left, state);
        }
    }
    policy_lines(b, indent, now);
}

void draw(const RuleBook& b) {
    if (b.blacklist.state == SOURCE_UNREADABLE) {
        out("\n");
        unreadable_line();
    } else {
        out("\n  ---------- 拉黑名单（%d 条） ----------\n", book_entries_in_force(b, sys_now()));
        read_trouble_lines(b);
        if (b.nentries == 0) out("   （空）\n");
    }
    for (int i = 0; i < b.nentries; i++) {
        const BlacklistEntry& e = b.entries[i];
        char left[LEFT_BYTES], name[600], cls[128], inst[1200];
        fmt_left(e.until, left);
        out("   %-3d  %-30s [%s]  %s%s\n", i + 1, shown_name(e.name, name, sizeof name),
            e.cls[0] ? shown_text8(e.cls, cls, sizeof cls) : "-", left, e.byname ? "  (按名字匹配)" : "");
        out("        实例：%s\n", shown_text8(e.inst, inst, sizeof inst));
        model_line(b, e, "        ");
    }
    rules_lines(b, "   ");
    block_line(b);
    out("\n  操作： d<序号> = 解除（如 d2）   c = 全部清空\n");
    out("         t = 安装后台任务(即时+每5分钟)  u = 卸载后台任务   q = 返回\n");
    out("  > ");
}

// The model rules a clear lifts: static, as they are 50 KB.
Rule g_rules_gone[RULES_MAX];

void clear_all(const RuleBook& b) {
    if (bl_read_status(b) != BL_OK) {
        refused_line(b, bl_read_status(b));
        return;
    }
    // The model rules go too; approvals stay.
    int64_t now = sys_now();
    int rules = 0;
    for (int i = 0; i < b.nrules; i++) rules += b.rules[i].kind == RULE_MODEL && rule_in_force(b.rules[i].until, now);
    out("  确定清空全部 %d 条拉黑记录？(y/N) > ", b.nentries + rules);
    char line[256];
    if (!read_line(line, sizeof line) || !is_yes(line)) {
        out("  已取消。\n");
        return;
    }
    if (bl_status st = bl_remove_each(b.entries, b.nentries); st != BL_OK) {
        refused_line(b, st);
        return;
    }
    int n = 0;
    if (rules) {
        bl_status st = bl_rule_remove(RULE_MODEL, nullptr, g_rules_gone, &n);
        if (st == BL_RULES_REFUSED) rules_trouble_line(b);
        else if (st != BL_OK) refused_line(b, st);
        if (st != BL_OK) return;
    }
    for (int i = 0; i < n; i++) logline(EV_MODEL_RULE_LIFTED, "解除按型号拉黑 | %s", g_rules_gone[i].id);
    out("  ✔ 已全部解除\n");
    if (int kept = policy_asked(b, 0, POLICY_ANY_KIND, nullptr))
        out("  [提示] 策略规则 %d 条不受影响：只能由组策略/Intune 解除。\n", kept);
    block_left_line();
    logline(EV_CLEARED, "清空拉黑名单");
}

// The entry being lifted, kept for the lines after it is gone: static, as
// an entry is 2 KB.
BlacklistEntry g_lifted;

// index is among the entries the last drawing showed; the entry is found in
// the file by its fields, wherever another window may have moved it.
void remove_one(const RuleBook& b, int index) {
    if (bl_read_status(b) != BL_OK) {
        refused_line(b, bl_read_status(b));
        return;
    }
    if (index < 0) {
        out("  序号不对哦。\n");
        return;
    }
    g_lifted = b.entries[index];
    bl_status st = bl_remove(g_lifted);
    if (st == BL_GONE) {
        out("  [提示] 该条目已被其他窗口改动，未做修改。\n");
        return;
    }
    if (st != BL_OK) {
        refused_line(b, st);
        return;
    }
    char name[600];
    out("  ✔ 已解除：%s\n", shown_name(g_lifted.name, name, sizeof name));
    block_left_line();
    logline(EV_LIFTED, "解除拉黑 | %s", g_lifted.name);
    (void)lift_still_reached(bl_book(), g_lifted, 0);
}

// Refused drops of an unreadable or over-full file are the screens' own
// lines; only a failed write is reported here.
void prune_for_view(void) {
    int dropped;
    if (bl_prune(&dropped) == BL_FAILED) save_failed();
}

}  // namespace

void block_left_line(void) {
    if (block_left()) out("  [提示] 未能全部解除系统安装禁止，后台任务下次运行时再解除。\n");
}

Judged lift_still_reached(const RuleBook& book, const BlacklistEntry& lifted, int quiet) {
    Judged none{};
    if (!lifted.inst[0]) return none;
    char16_t id[INST_UNITS];
    utf16(lifted.inst, id, countof(id));
    Judged by = bl_reaching(book, id, sys_now());
    if (!by.blocked) return none;
    const char* name = lifted.name[0] ? lifted.name : lifted.inst;
    const char* how = by.how == BL_BY_ID ? "实例 ID" : by.how == BL_BY_NAME ? "名称" : "型号";
    // An entry is named by its name, as the list shows it; another rule by
    // what it reaches by.
    const char* other = book_rule_id(book, by.rule, by.how);
    if (by.rule.from == FROM_ENTRY) {
        const BlacklistEntry& e = book.entries[by.rule.index];
        other = e.name[0] ? e.name : e.inst;
    }
    const char* what = by.rule.from == FROM_ENTRY ? "拉黑条目" : by.source == SOURCE_POLICY ? "策略规则" : "型号规则";
    const char* then = book.mode == POLICY_AUDIT ? "审核模式下后台任务只记录它" : "后台任务仍会删除它";
    if (!quiet) {
        char a[600], o[1200];
        out("  [提示] %s 仍被%s「%s」按%s涉及，%s。\n", shown_text8(name, a, sizeof a), what,
            shown_text8(other, o, sizeof o), how, then);
    }
    if (by.rule.from == FROM_ENTRY) logline(EV_LIFT_STILL_REACHED, "解除拉黑后仍被其他条目涉及 | %s | %s", name, other);
    else logline(EV_LIFT_STILL_BY_RULE, "解除拉黑后仍被其他规则涉及 | %s | %s | %s | 按%s", name, what, other, how);
    return by;
}

void still_reached_json(const RuleBook& b, const Judged& by) {
    if (!by.blocked) {
        json_null();
        return;
    }
    json_open();
    rule_ref_keys(b, by.rule);
    json_key("how");
    json_text(hit_key(by.how));
    json_close();
}

bl_command bl_command_of(const char* line, int shown, int* index) {
    *index = -1;
    switch (line[0]) {
    case '\n': case 'q': case 'Q':
        return BLC_LEAVE;
    case 'c': case 'C':
        return BLC_CLEAR;
    case 'd': case 'D': {
        int64_t n = parse_int(line + 1, INT64_MIN, INT64_MAX);
        if (n >= 1 && n <= shown) *index = (int)(n - 1);
        return BLC_LIFT;
    }
    case 't': case 'T':
        return BLC_TASK;
    case 'u': case 'U':
        return BLC_UNTASK;
    default:
        return BLC_NONE;
    }
}

void bl_menu(const Args& a) {
    for (;;) {
        prune_for_view();
        const RuleBook& b = bl_book();
        draw(b);
        char line[256];
        int index;
        if (!read_line(line, sizeof line)) return;
        switch (bl_command_of(line, b.nentries, &index)) {
        case BLC_CLEAR:
            clear_all(b);
            break;
        case BLC_LIFT:
            remove_one(b, index);
            break;
        case BLC_LEAVE:
            return;
        case BLC_TASK:
            if (task_result r = install_task_ui(a.allow_unsafe); r != TASK_FAILED) {
                if (r == TASK_INSTALLED || r == TASK_NO_POLICY) {
                    out("  ✔ 后台任务已安装：设备一出现就自动清理，另每 5 分钟一次（重启有效）\n");
                    if (r == TASK_NO_POLICY) no_policy_hint();
                } else {
                    out("  ✔ 后台任务已安装：每 5 分钟自动清理一次（重启有效）\n");
                    timer_only_hint();
                }
            }
            break;
        case BLC_UNTASK:
            out("  %s\n", uninstall_text(uninstall_task()));
            break;
        case BLC_NONE:
            break;
        }
    }
}

int blist_mode(void) {
    prune_for_view();
    const RuleBook& b = bl_book();
    if (b.blacklist.state == SOURCE_UNREADABLE) {
        unreadable_line();
        return EXIT_FAILED;
    }
    out("拉黑名单共 %d 条：\n", book_entries_in_force(b, sys_now()));
    read_trouble_lines(b);
    int bad = b.blacklist.state == SOURCE_BAD_LINES || b.blacklist.overfull;
    for (int i = 0; i < b.nentries; i++) {
        const BlacklistEntry& e = b.entries[i];
        char left[LEFT_BYTES], name[600], cls[128], inst[1200];
        fmt_left(e.until, left);
        out("  %2d. %-30s %-14s %s\n     %s\n", i + 1, shown_name(e.name, name, sizeof name),
            shown_text8(e.cls, cls, sizeof cls), left, shown_text8(e.inst, inst, sizeof inst));
        model_line(b, e, "     ");
    }
    rules_lines(b, "  ");
    block_line(b);
    bad |= b.models_file.state != SOURCE_OK || b.rules_file.state != SOURCE_OK;
    bad |= b.policy_read == POLICY_UNREADABLE;
    return bad ? EXIT_FAILED : EXIT_OK;
}
