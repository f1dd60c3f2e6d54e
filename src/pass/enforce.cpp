// The unattended pass: every present device that an entry in force reaches.
#include "pass/enforce.h"

#include "base/text.h"
#include "pass/audit.h"
#include "pass/reach.h"
#include "pass/sweep.h"
#include "policy/allows.h"
#include "policy/policyread.h"
#include "policy/seen.h"
#include "rules/judge.h"
#include "rules/wanted.h"
#include "store/store.h"
#include "task/owner.h"
#include "device/scan.h"
#include "device/remove.h"
#include "device/walk.h"
#include "log/log.h"
#include "proc/run.h"
#include "sys/sys.h"

namespace {

// A burst of arrivals during a round is caught by the next one; the bound
// keeps a device that keeps coming back from holding the pass for ever.
constexpr int MAX_ROUNDS = 8;

struct Outcome {
    int removed;
    int failed;
    int restart;
};

// Which rule a device is removed under, for the order of the log: the
// entries in table order, then the rules file's, then policy's, then the
// held ones.
int group_of(const Reached& h) {
    int i = h.rule.index < 0 ? 0 : h.rule.index;
    switch (h.rule.from) {
    case FROM_ENTRY: return i;
    case FROM_RULE: return BL_MAX + i;
    case FROM_POLICY: return BL_MAX + RULES_MAX + i;
    default: return BL_MAX + RULES_MAX + POLICY_RULES_MAX + i;
    }
}

// The rule that reached a device, as the log names it: its id or name,
// ASCII lower-cased as the log shows ids.
void rule_text(const RuleBook& b, const Reached& h, char* out, size_t size) {
    if (h.rule.index < 0) {
        scopy(out, size, "管理员的允许安装列表");  // only an approval lacks a rule: the administrator's allow
        return;
    }
    scopy(out, size, book_rule_id(b, h.rule, h.how));
    lower_ascii(out);
}

// Removes the round's devices, grouped by the rule that keeps each off.
Outcome remove_reached(const RuleBook& b, const ReachList& round, int64_t now) {
    Outcome o{0, 0, 0};
    for (int group = 0, next; group != INT32_MAX; group = next) {
        next = INT32_MAX;
        for (int k = 0; k < round.n; k++) {
            const Reached& h = round.t[k];
            int g = group_of(h);
            if (g > group && g < next) next = g;
            if (g != group) continue;
            char inst[DEV_TEXT_BYTES], rule[DEV_TEXT_BYTES];
            dev_lower(h.inst, inst, sizeof inst);
            rule_text(b, h, rule, sizeof rule);
            logline(EV_HIT, "后台命中拉黑 | %s | %s | %s | %s | %s", h.lower_name, inst, book_how_text(h.how),
                    book_source_text(h.source), rule);
            reached_note(b, h, now);
            sys_removal r = remove_dev(h.inst);
            if (r == SYS_REMOVED_RESTART) {
                logline(EV_ENFORCED_RESTART, "后台已删除（需重启） | %s", h.lower_name);
                o.removed++;
                o.restart = 1;
            } else if (r == SYS_REMOVED) {
                logline(EV_ENFORCED, "后台已删除 | %s", h.lower_name);
                o.removed++;
            } else {
                logline(EV_ENFORCE_FAILED, "后台删除失败 | %s", h.lower_name);
                o.failed = 1;
            }
        }
    }
    return o;
}

// Under PRODUCT_KEY: the fingerprints of the model blocks last said to be
// given up for an approved unit, and of the devices last said spared.
const char16_t GIVEN_UP_SAID[] = u"GivenUpSaid";
const char16_t SPARED_SAID[] = u"SparedSaid";

// Whether n lines of fingerprint h are to be said: they differ from what
// was last said under `name`.
int to_say(const char16_t* name, int n, uint64_t h) {
    char16_t now[48];
    seen_sum_text(n, h, now, countof(now));
    return seen_changed(PRODUCT_KEY, name, now, n == 0) && n;
}

// The present devices an approval spares from a block that reaches them,
// said once per change of them: why a device is still there.
void say_spared(const RuleBook& b, const ReachList& found) {
    uint64_t h = FNV_START;
    int n = found.nspared < REACH_SPARED_KEPT ? found.nspared : REACH_SPARED_KEPT;
    for (int i = 0; i < n; i++) h = fnv_step(fnv_folded16(h, found.spared[i].inst), (uint32_t)book_rule_key(b, found.spared[i].rule));
    if (!to_say(SPARED_SAID, n, h)) return;
    for (int i = 0; i < n; i++) {
        const Reached& s = found.spared[i];
        char inst[DEV_TEXT_BYTES], rule[DEV_TEXT_BYTES];
        dev_lower(s.inst, inst, sizeof inst);
        rule_text(b, s, rule, sizeof rule);
        logline(EV_SPARED, "放行保留 | %s | %s | %s | %s | %s", s.lower_name, inst,
                book_how_text(s.rule.index < 0 ? BL_BY_ID : s.how), book_source_text(s.source), rule);
    }
}

// A model block given up for an approved unit, as layered evaluation cannot
// be used here, is said once per change of them (the deny list's own line
// says the block was lifted).
void say_given_up(const PassStep& step) {
    const GivenUpList& g = *step.given_up;
    uint64_t h = FNV_START;
    int n = 0;
    for (int i = 0; i < g.n; i++) {
        if (g.t[i].why < GIVEN_UP_LAYERING_NEVER) continue;
        h = fnv_step(fnv_folded16(h, g.t[i].id), 0x100 + g.t[i].why);
        n++;
    }
    if (!n && !step.models_wanted) return;  // the idle pass reads nothing for it
    if (!to_say(GIVEN_UP_SAID, n, h)) return;
    for (int i = 0; i < g.n; i++) {
        if (g.t[i].why < GIVEN_UP_LAYERING_NEVER) continue;
        char id[DEV_TEXT_BYTES];
        utf8(g.t[i].id, id, sizeof id);
        lower_ascii(id);  // as the block's own lines show ids
        logline(EV_MODEL_GIVEN_UP, "放行的设备无法用系统允许列表保留，型号的安装禁止已撤下 | %s | %s", id,
                given_up_text(g.t[i].why));
    }
}

}  // namespace

enforce_result enforce_pass(void) {
    // One step: the drop of expired entries, and the install block brought
    // back in line (a policy refresh may have replaced the list, and an
    // entry may have come or gone meanwhile). A block that fails to be
    // written is logged, and removal is the backstop; a step that could not
    // run, or a block it left standing, fails the pass.
    PassStep step = bl_pass_step();
    const RuleBook& b = bl_book();
    if (step.read == BL_UNREADABLE) {
        // An entry we cannot read could be any device: remove none.
        logline(EV_BLACKLIST_UNREADABLE, "读取拉黑名单失败");
        return ENFORCE_FAILED;
    }
    int64_t now = sys_now();
    // Expired entries that stay in the file are a failure too: the drop
    // could not be written, or the file is too full, or holds lines nobody
    // can read, which a rewrite would lose.
    int refused = (step.read == BL_OVERFULL || step.read == BL_BAD_LINES) && book_entries_in_force(b, now) < b.nentries;
    if (refused && step.read == BL_BAD_LINES)
        logline(EV_BLACKLIST_BAD_LINES, "拉黑名单有无法识别的行，未修改 | 第 %d 行", b.blacklist.first_bad);
    // Entries past the first 64 are never enforced: every pass says so.
    if (b.blacklist.overfull) logline(EV_BLACKLIST_OVERFULL, "拉黑名单超过 64 条：只有前 64 条生效，未修改");
    int failed = step.read == BL_FAILED || refused || b.blacklist.overfull;
    failed |= step.synced == BL_FAILED || step.synced == BL_UNREADABLE || block_left();
    // The model blocks cannot follow a models file nobody can read: the
    // pass says so each time, as for the blacklist itself.
    source_state models = b.models_file.state;
    if (models == SOURCE_UNREADABLE) logline(EV_MODELS_UNREADABLE, "读取型号文件失败，按型号的安装禁止未修改");
    if (models == SOURCE_BAD_LINES)
        logline(EV_MODELS_BAD_LINES, "型号文件有无法识别的行，按型号的安装禁止未修改 | 第 %d 行", b.models_file.first_bad);
    failed |= models != SOURCE_OK;
    // An approval nobody can read could spare any device: remove none.
    source_state rules = b.rules_file.state;
    int hold = rules == SOURCE_UNREADABLE || rules == SOURCE_BAD_LINES;
    if (rules == SOURCE_UNREADABLE) logline(EV_RULES_UNREADABLE, "读取规则文件失败，未删除任何设备");
    if (rules == SOURCE_BAD_LINES)
        logline(EV_RULES_BAD_LINES, "规则文件有无法识别的行，未删除任何设备 | 第 %d 行", b.rules_file.first_bad);
    // The first 64 rules are enforced; the rest, and every model block, wait
    // for the file to be cut down.
    if (rules == SOURCE_OVERFULL) logline(EV_RULES_OVERFULL, "规则文件超过 64 条：只有前 64 条生效，未修改");
    failed |= hold || rules == SOURCE_OVERFULL;
    // Policy: its bad values and the administrator's allows are said once
    // per change; a key that could not be read whole fails every pass, as
    // its blocks stay unlifted meanwhile.
    (void)policy_say_errors(b, EV_POLICY_BAD_VALUE);
    (void)allows_say(b, EV_ADMIN_ALLOWS);
    if (step.synced == BL_OK) say_given_up(step);
    if (b.policy_read == POLICY_UNREADABLE) {
        logline(EV_POLICY_UNREADABLE, "读取策略失败，未解除任何安装禁止");
        failed = 1;
    }
    int restart = 0, listed = 1;
    // A device tried once, whatever the outcome, is not tried again.
    reach_reset();
    // An empty blacklist must not cost a device enumeration.
    int blocks = hold ? 0 : judge_blocks(judge_prepare(b, now));
    int audit = audit_on(b);
    for (int round = 0; round < MAX_ROUNDS && blocks > 0; round++) {
        ReachList found = reach_collect(b, now);
        if (!found.ok) {
            logline(EV_ENUM_FAILED, "枚举设备失败 (code %lu)", (unsigned long)found.err);
            failed = 1;
            listed = 0;
            break;
        }
        // A device a model may reach, whose id lists could not be read, was
        // not judged: the pass cannot say it did its work.
        for (int i = 0; round == 0 && i < found.nunread && i < REACH_UNREAD_KEPT; i++) {
            char inst[DEV_TEXT_BYTES];
            dev_lower(found.unread[i].inst, inst, sizeof inst);
            logline(EV_IDS_UNREADABLE, "读取设备的 ID 列表失败，未能判断 | %s | %s", found.unread[i].lower_name, inst);
        }
        failed |= found.nunread > 0;
        if (round == 0) say_spared(b, found);
        if (audit) {
            (void)audit_say(b, found.t, found.n, now, EV_AUDIT_WOULD_REMOVE);
            break;
        }
        Outcome o = remove_reached(b, found, now);
        failed |= o.failed;
        restart |= o.restart;
        if (o.removed == 0) break;
        now = sys_now();
    }
    // Records left on the PC. Those of entries by id the lookups above
    // found; those a name or a model reaches take a walk of every record,
    // made after the entries changed, else hourly.
    int by_name = judge_needs_walk(judge_prepare(b, now));
    SweepResult s{0, 0, 0, 1};
    int walked = !audit && !hold && listed && by_name && sweep_due(b, now);
    ReachList swept;
    if (walked) s = sweep_absent(b, now, nullptr, 0, &swept);
    else if (!audit && !by_name && blocks > 0) s = sweep_left();
    failed |= !s.ok || s.failed > 0;
    restart |= s.restart;
    if (walked && s.ok) sweep_done(b, now);
    if (step.dropped) logline(EV_EXPIRED, "到期自动解除 %d 条", step.dropped);
    if (failed || run_timed_out()) return ENFORCE_FAILED;
    return restart ? ENFORCE_RESTART : ENFORCE_OK;
}
