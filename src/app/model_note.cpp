// The model of a by-name entry, told on the screen and in the log.
#include "app/model_note.h"

#include "app/console.h"
#include "app/show.h"
#include "device/remove.h"
#include "device/walk.h"
#include "local/table.h"
#include "log/log.h"
#include "pass/audit.h"
#include "pass/sweep.h"
#include "rules/standing.h"
#include "sys/sys.h"

namespace {

// The entry as the check sees it: static, as it is 2 KB.
BlacklistEntry g_coming;

}  // namespace

sys_removal model_remove(const DeviceEntry& d, HardwareIds* hw) { return remove_dev(d.inst, hw); }

void model_read_ids(const DeviceEntry& d, HardwareIds* hw) {
    // A device the system no longer knows has no ids, and so no model.
    (void)dev_lookup_ids(d.inst, hw);
}

void model_check_for(const RuleBook& b, const DeviceEntry& d, const HardwareIds& hw, const BlacklistEntry& e,
                     ModelCheck* c) {
    g_coming = e;
    g_coming.byname = 1;
    bl_model_check(b, d, hw, g_coming, c);
}

int reaches_further(const BlacklistEntry& e, int others, const ModelCheck& c) {
    return e.byname && (others > 0 || (c.verdict == MODEL_OK && (c.others > 0 || c.parent[0])));
}

namespace {

// The records reached, removed unless what_if, said unless quiet.
void sweep_said(const RuleBook& b, RuleRef focus, int what_if, int quiet, int* removed, int* failed) {
    if (audit_on(b)) return;  // audit mode: no record is swept, by anyone
    ReachList found;
    SweepResult s = sweep_absent(b, sys_now(), &focus, what_if, &found);
    if (!s.ok) {
        if (!quiet) out("  [提示] 读不到设备列表，离场设备的遗留记录留给后台任务删除。\n");
        return;
    }
    *removed += s.removed;
    *failed += s.failed;
    if (quiet) return;
    for (int k = 0; k < found.n; k++) {
        char name[512], inst[512];
        shown_text(found.t[k].name, name, sizeof name);
        shown_text(found.t[k].inst, inst, sizeof inst);
        sys_removal r = found.t[k].outcome;
        if (what_if) out("  将删除离场设备的遗留记录：%s  %s\n", name, inst);
        else if (r == SYS_REMOVE_FAILED) out("  ✘ 删除离场设备的遗留记录失败：%s  %s\n", name, inst);
        else out("  ✔ 已删除离场设备的遗留记录：%s  %s%s\n", name, inst, r == SYS_REMOVED_RESTART ? "（重启电脑后完成）" : "");
    }
}

}  // namespace

void sweep_after(const RuleBook& b, const BlacklistEntry& e, int what_if, int quiet, int* removed, int* failed) {
    int only = table_index_of(b.entries, b.nentries, e);
    if (only >= 0) sweep_said(b, RuleRef{FROM_ENTRY, only}, what_if, quiet, removed, failed);
}

void sweep_after_rule(const RuleBook& b, int index, int what_if, int quiet, int* removed, int* failed) {
    sweep_said(b, RuleRef{FROM_RULE, index}, what_if, quiet, removed, failed);
}

void model_note(const ModelCheck& c, const char* shown, int quiet, int log) {
    const char* id = c.text;
    switch (c.verdict) {
    case MODEL_OK:
        return;
    case MODEL_NO_IDS:
        if (!quiet) out("  [提示] 读不到 %s 的硬件 ID，不按型号禁止安装。\n", shown);
        if (log) logline(EV_MODEL_NONE, "没有型号 ID，不按型号禁止安装 | %s", shown);
        return;
    case MODEL_NONE:
        if (!quiet) out("  [提示] %s 的硬件 ID 里没有写明厂商和产品的一项，不按型号禁止安装。\n", shown);
        if (log) logline(EV_MODEL_NONE, "没有型号 ID，不按型号禁止安装 | %s", shown);
        return;
    case MODEL_SHARED:
        if (!quiet)
            out("  [提示] 另有 %d 个设备也用型号 ID %s，且没有拉黑条目涉及它们；按型号禁止会让它们的驱动无法更新或重装，"
                "所以不按型号禁止安装。\n",
                c.unreached, id);
        if (log) logline(EV_MODEL_SHARED, "型号另有设备在用，不按型号禁止安装 | %s | %s | %d 个设备", shown, id, c.unreached);
        return;
    case MODEL_BUILTIN:
        if (!quiet) out("  [提示] %s 是内置 / 系统类设备，不按型号禁止安装。\n", shown);
        if (log) logline(EV_MODEL_BUILTIN, "内置设备，不按型号禁止安装 | %s | %s", shown, id);
        return;
    case MODEL_UNKNOWN:
        if (!quiet)
            out("  [提示] 读不到设备列表，无法确认型号 ID %s 是否另有设备在用，暂不按型号禁止安装；后台任务读到时再确认。\n", id);
        if (log) logline(EV_MODEL_UNKNOWN, "读不到设备列表，不按型号禁止安装 | %s | %s", shown, id);
        return;
    }
}

void block_lines(const RuleBook& book, const BlockResult& b, const ModelCheck& c, const char* shown, int quiet) {
    if (!quiet && audit_on(book)) out("  [提示] 审核模式（策略）：不写系统安装禁止，后台任务也不删除设备。\n");
    if (!quiet && b.instance == BLOCK_WRITTEN) out("  ✔ 已同时禁止系统再次安装它（到期自动解除）\n");
    else if (!quiet && b.instance == BLOCK_FAILED) out("  [提示] 未能写入系统安装禁止，改由后台任务在它出现时删除。\n");
    if (c.verdict != MODEL_OK) return;
    const char* id = c.text;
    if (b.model_lost) {
        if (!quiet) out("  [提示] 未能保存型号 ID，不按型号禁止安装，同型号的其他设备也不会被删除。\n");
        logline(EV_MODEL_LOST, "未能保存型号 ID，不按型号禁止安装 | %s | %s", shown, id);
    } else if (quiet) {
        return;
    } else if (b.model == BLOCK_WRITTEN && c.parent[0]) {
        out("  ✔ 已同时按型号禁止安装：%s，连同所在的复合设备 %s（同型号的设备整个都装不上，到期自动解除）\n", id,
            c.parent);
    } else if (b.model == BLOCK_WRITTEN) {
        out("  ✔ 已同时按型号禁止安装：%s（同型号的设备都装不上，到期自动解除）\n", id);
    } else if (b.model == BLOCK_FAILED) {
        out("  [提示] 未能写入按型号的安装禁止，改由后台任务在同型号设备出现时删除。\n");
    } else if (b.model == BLOCK_NONE) {
        // An approval of a unit of it may leave no way to block the model.
        Standing s = model_standing(book, id, c.verdict);
        if (s.state == WHY_GIVEN_UP)
            out("  [提示] 不按型号禁止安装 %s：%s；后台任务仍会删除它的设备。\n", id, given_up_text(s.given_up));
    }
}
