// The compliance check: read the blacklist as it is, reach the present
// devices, ask for the task; change nothing and log nothing.
#include "app/check.h"

#include "app/console.h"
#include "app/show.h"
#include "base/calendar.h"
#include "base/text.h"
#include "pass/audit.h"
#include "policy/policyread.h"
#include "rules/standing.h"
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
    if (f.blocks_untold) return {CHECK_CANNOT_TELL, CHECK_BLOCKS_UNTOLD};
    check_cause causes[CAUSES];
    if (check_causes(f, causes) > 0) return {CHECK_NOT_COMPLIANT, CHECK_NO_PROBLEM};
    return {CHECK_COMPLIANT, CHECK_NO_PROBLEM};
}

int check_causes(const CheckFacts& f, check_cause* out) {
    int n = 0;
    if (f.policy_errors > 0) out[n++] = CAUSE_POLICY_ERRORS;
    if (f.blocks_missing > 0) out[n++] = CAUSE_BLOCKS_MISSING;
    if (f.present > 0) out[n++] = CAUSE_DEVICES_PRESENT;
    if (f.entries_in_force > 0 && f.task != TASK_PRESENT) out[n++] = CAUSE_TASK_MISSING;
    return n;
}

namespace {

// Why it cannot tell, by check_problem: on the screen, and in the document.
const char* const WHY_TEXT[] = {"", "拉黑名单读不了", "设备列表读不了", "后台任务查询失败", "拉黑名单有无法识别的行",
                                "型号文件读不了", "型号文件有无法识别的行", "规则文件读不了", "规则文件有无法识别的行",
                                "策略读不全",     "设备的 ID 列表读不到",   "拉黑名单超过 64 条",     "规则文件超过 64 条",
                                "安装禁止是否生效无法确认"};
const char* const WHY_JSON[] = {"", "blacklist_unreadable", "device_list_unavailable", "task_query_failed",
                                "blacklist_unreadable_lines", "models_unreadable", "models_unreadable_lines",
                                "rules_unreadable", "rules_unreadable_lines", "policy_unreadable",
                                "device_ids_unreadable", "blacklist_overfull", "rules_overfull", "blocks_untold"};
const char* const CAUSE_JSON[] = {"policy_errors", "blocks_not_in_force", "devices_present", "task_missing"};

// Intune keeps this much of a detection script's output.
constexpr int LINE_CHARS = 2048;

// One rule in force as the summary gives it: whose, what, its end, its
// block (has_block 0: it writes none) and how many devices it reached today.
struct RuleLine {
    RuleRef ref;
    int source;
    const char* what;  // 按实例 ID / 按名称 / 按型号, or 放行设备 / 放行型号
    const char* id;    // its instance id, name or model id
    int64_t until;     // INT64_MAX: while the policy stands
    int has_block;
    Standing block;
    int reached;       // -1 for an approval
};
RuleLine g_lines[BL_MAX + RULES_MAX + 2 * POLICY_RULES_MAX];
int g_nlines;

void add_line(const RuleBook& b, RuleRef ref, int source, const char* what, const char* id, int64_t until,
              int approves, int has_block, Standing block) {
    int reached = approves ? -1 : reached_today(book_rule_key(b, ref));
    g_lines[g_nlines++] = RuleLine{ref, source, what, id, until, has_block, block, reached};
}

// How far from standing a block is: wanted and missing, untold, not written
// by design, standing.
int distance(standing s) {
    if (s == NOT_STANDING || s == WHY_CHECK_UNKNOWN) return 3;
    if (s == WHY_UNTOLD) return 2;
    return s == STANDS ? 0 : 1;
}
int worse(Standing a, Standing b) { return distance(a.state) > distance(b.state); }

// Every rule in force, with the standing of the block it wants: by an
// entry's own unit or its model, by a model rule's or policy's id.
void gather_lines(const RuleBook& b, int64_t now) {
    g_nlines = 0;
    reached_load(now);
    for (int i = 0; i < b.nentries; i++) {
        const BlacklistEntry& e = b.entries[i];
        if (!rule_in_force(e.until, now)) continue;
        // Its unit's block and its model's: the line gives the one in worse standing.
        const BlacklistModel* m = book_model_of(b, e);
        Standing unit = e.inst[0] ? instance_standing(b, e.inst, e.cls) : Standing{STANDS, GIVEN_UP_APPROVED};
        Standing s = m ? model_standing(b, m->model, m->verdict) : unit;
        if (m && worse(unit, s)) s = unit;
        add_line(b, RuleRef{FROM_ENTRY, i}, SOURCE_LOCAL, e.byname ? "按名称" : "按实例 ID", e.byname ? e.name : e.inst,
                 e.until, 0, e.inst[0] != 0 || m, s);
    }
    for (int i = 0; i < b.nrules; i++) {
        const Rule& r = b.rules[i];
        if (!rule_in_force(r.until, now)) continue;
        int block = r.kind == RULE_MODEL;
        add_line(b, RuleRef{FROM_RULE, i}, SOURCE_LOCAL,
                 block ? "按型号" : r.kind == RULE_APPROVE_MODEL ? "放行型号" : "放行设备", r.id, r.until, !block, block,
                 block ? model_standing(b, r.id, r.verdict) : Standing{STANDS, GIVEN_UP_APPROVED});
    }
    for (int held = 0; held < 2; held++)
        for (int i = 0; i < (held ? b.nheld : b.npolicy); i++) {
            const PolicyRule& p = held ? b.held[i] : b.policy[i];
            if (!rule_in_force(p.until, now)) continue;
            int unit = p.kind == POLICY_INSTANCE_ID, block = !p.approves && p.kind != POLICY_NAME;
            const char* what = p.approves ? (unit ? "放行设备" : "放行型号")
                                          : unit ? "按实例 ID" : p.kind == POLICY_MODEL ? "按型号" : "按名称";
            Standing s = !block ? Standing{STANDS, GIVEN_UP_APPROVED} : policy_standing(b, p);
            add_line(b, RuleRef{held ? FROM_HELD : FROM_POLICY, i}, SOURCE_POLICY, what, p.id, p.until, p.approves,
                     block, s);
        }
}

// What the blocks of the rules stand as: wanted and missing (a model whose
// check could not be made too: the pass decides it), untold, or not
// written by design. A task that does not run this copy counts as the task.
void count_blocks(CheckFacts* f) {
    for (int i = 0; i < g_nlines; i++) {
        if (!g_lines[i].has_block) continue;
        standing s = g_lines[i].block.state;
        int d = distance(s);
        if (d == 3) f->blocks_missing++;
        else if (d == 2) f->blocks_untold++;
        else if (d == 1 && s != WHY_NO_TASK && s != WHY_AUDIT) f->blocks_by_design++;
    }
}

// The text of one rule for the line, without its separator.
void line_text(const RuleLine& l, char* out, size_t size) {
    char until[40], shown[700];
    if (l.until == INT64_MAX) {
        scopy(until, sizeof until, "随策略");
    } else {
        int c[6];
        utc_calendar(l.until, c);
        fmt(until, sizeof until, "至 %04d-%02d-%02d %02d:%02d UTC", c[0], c[1], c[2], c[3], c[4]);
    }
    shown_text8(l.id, shown, sizeof shown);
    size_t n = fmt(out, size, "%s%s %s，%s", book_source_text(l.source), l.what, shown, until);
    if (l.reached < 0) return;
    fmt(out + n, size - n, "，%s，今日 %d 个", l.has_block ? standing_text(l.block) : "不写安装禁止", l.reached);
}

// One line in all: the verdict, its causes, and each rule while they fit
// within what Intune keeps, the rest counted.
void print_text(const RuleBook& b, const CheckFacts& f, CheckAnswer a) {
    static char line[4 * LINE_CHARS + 4], item[1024];
    const char* task = f.task == TASK_PRESENT ? "已安装" : "未安装";
    if (a.verdict == CHECK_CANNOT_TELL) {
        out("无法判断：%s\n", WHY_TEXT[a.problem]);
        return;
    }
    size_t n = fmt(line, sizeof line, "%s：拉黑 %d 条在用，在场的拉黑设备 %d 个，后台任务%s",
                   a.verdict == CHECK_COMPLIANT ? "合规" : "不合规", f.entries_in_force, f.present, task);
    if (f.policy_errors) n += fmt(line + n, sizeof line - n, "；策略有 %d 个值无法应用", f.policy_errors);
    if (f.blocks_missing) n += fmt(line + n, sizeof line - n, "；%d 条安装禁止应生效而未生效", f.blocks_missing);
    if (f.blocks_by_design) n += fmt(line + n, sizeof line - n, "；%d 条安装禁止按设计未写入", f.blocks_by_design);
    // Judged as enforcing; on an audit ring the pass removes none of them.
    int audit = b.mode == POLICY_AUDIT;
    if (f.absent) n += fmt(line + n, sizeof line - n, "；离场设备的遗留记录 %d 个%s", f.absent, audit ? "" : "，后台任务会删除");
    if (audit) n += fmt(line + n, sizeof line - n, "；策略为审核模式，后台任务不删除");
    if (b.nended) n += fmt(line + n, sizeof line - n, "；策略有 %d 条已过期", b.nended);
    int used = utf8_chars(line);  // characters, as Intune counts a line's length
    for (int i = 0; i < g_nlines; i++) {
        line_text(g_lines[i], item, sizeof item);
        // Room is kept for the count of what does not fit.
        if (used + 1 + utf8_chars(item) > LINE_CHARS - 16) {
            fmt(line + n, sizeof line - n, "；另有 %d 条规则", g_nlines - i);
            break;
        }
        n += fmt(line + n, sizeof line - n, "；%s", item);
        used += 1 + utf8_chars(item);
    }
    out("%s\n", line);
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
        json_key("causes");
        json_open_array();
        check_cause causes[CAUSES];
        for (int i = 0, n = check_causes(f, causes); i < n; i++) json_text(CAUSE_JSON[causes[i]]);
        json_close_array();
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
            json_text(hit_key(h.how));
            json_key("source");
            json_text(h.source == SOURCE_POLICY ? "policy" : "local");
            json_key("rule");
            json_text(book_rule_id(b, h.rule, h.how));
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
        // Each rule in force as --blist --json writes it, with how many
        // devices it reached today (UTC).
        json_key("rules");
        json_open_array();
        for (int i = 0; i < g_nlines; i++) {
            const RuleLine& l = g_lines[i];
            json_open();
            rule_ref_keys(b, l.ref);
            json_key("reached_today");
            if (l.reached < 0) json_null();
            else json_int(l.reached);
            json_close();
        }
        json_close_array();
        // Policy's values past their date: no error, but a date typed into
        // the past must be seen.
        json_key("ended");
        json_open_array();
        for (int i = 0; i < b.nended && i < POLICY_ENDED_KEPT; i++) {
            const PolicyRule& p = b.ended[i];
            char list[32], utc[32];
            utf8(POLICY_LIST[policy_list_of(p)].key, list, sizeof list);
            json_utc(p.until, utc);
            json_open();
            json_key("list");
            json_text(list);
            json_key("id");
            json_text(p.id);
            json_key("until_utc");
            json_text(utc);
            json_close();
        }
        json_close_array();
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
    f.policy_errors = b.nerrors;
    gather_lines(b, now);
    count_blocks(&f);
    CheckAnswer a = check_rule(f);
    if (json) print_json(b, f, present, a);
    else print_text(b, f, a);
    return a.verdict == CHECK_COMPLIANT ? EXIT_OK : a.verdict == CHECK_NOT_COMPLIANT ? EXIT_FAILED : EXIT_CANNOT_TELL;
}
