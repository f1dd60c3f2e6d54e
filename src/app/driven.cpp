// The checks, the blacklisting and the document the driven modes share.
#include "app/driven.h"

#include <cstdarg>

#include "app/console.h"
#include "app/documents.h"
#include "app/exitcode.h"
#include "app/json.h"
#include "app/model_note.h"
#include "app/show.h"
#include "rules/rules.h"
#include "log/log.h"
#include "sys/sys.h"
#include "task/task.h"

namespace {

const char* note_key(const BlacklistEntry& e, const ModelCheck* model, const BlockResult& block) {
    if (!e.byname) return nullptr;
    return model ? drive_note_key(*model, block) : "no_device";
}

const char* refused_key(bl_status st) {
    return st == BL_UNREADABLE ? "blacklist_unreadable" : st == BL_BAD_LINES ? "blacklist_unreadable_lines"
                                                                            : "blacklist_overfull";
}

}  // namespace

const char* drive_note_key(const ModelCheck& c, const BlockResult& block) {
    switch (c.verdict) {
    case MODEL_OK: return block.model_lost ? "not_saved" : nullptr;
    case MODEL_NONE: return "no_model_id";
    case MODEL_NO_IDS: return "ids_unreadable";
    case MODEL_SHARED: return "shared";
    case MODEL_BUILTIN: return "builtin";
    default: return "unknown";
    }
}

void drive_rule_json(const DriveRun& run) {
    json_open();
    rule_keys(run.rule_after);
    json_key("model_note");
    json_text(run.rule_note);
    json_close();
}

void drive_run_start(DriveRun* run) {
    run->ndone = run->added = run->absent_removed = run->absent_failed = run->undecided = 0;
    run->bl_error = run->rule_note = nullptr;
}

int drive_refuse(const Args& a, const char* key, const char* f, ...) {
    if (a.json) {
        json_begin_document();
        json_key("error");
        json_text(key);
        json_end_document();
        return EXIT_FAILED;
    }
    char line[1024];
    va_list ap;
    va_start(ap, f);
    vfmt(line, sizeof line, f, ap);
    va_end(ap);
    out("%s", line);
    return EXIT_FAILED;
}

int drive_start(const Args& a, int changes_blacklist) {
    // Never a prompt and never a relaunch: a script has nobody to answer.
    if (!sys_is_elevated())
        return drive_refuse(a, "not_elevated", "[错误] 需要管理员权限：请在以管理员身份运行的命令提示符中执行。\n");
    if (!changes_blacklist) return 0;
    int dropped;
    bl_status st = a.what_if ? bl_read() : bl_prune(&dropped);
    if (st == BL_OK) return 0;
    if (st == BL_FAILED) return 0;  // the drop could not be written: the change will say what it can
    if (a.json) return drive_refuse(a, refused_key(st), "%s", "");
    refused_line(bl_book(), st);
    return EXIT_FAILED;
}

int refuse_hours(const Args& a) {
    return drive_refuse(a, "bad_hours", "[错误] --hours 要写 %lld 到 %lld 的整数小时数：%s\n", (long long)HOURS_MIN,
                        (long long)HOURS_MAX, a.hours);
}

int drive_put(DriveRun* run, const Args& a, const BlacklistEntry& e, const char* shown, int64_t secs,
              const ModelCheck* model, int sweep) {
    bl_put_result what = BL_PUT_ADDED;
    BlacklistEntry done;
    BlockResult block{BLOCK_NONE, BLOCK_NONE, 0};
    BlacklistModel m;
    const BlacklistModel* kept = model && e.byname && bl_model_record(e, *model, &m) ? &m : nullptr;
    bl_status st = a.what_if ? bl_put_in_memory(e, kept, &what, &done) : bl_put(e, kept, &what, &done, &block);
    const RuleBook& b = bl_book();
    char name[600];
    shown_text8(shown, name, sizeof name);
    if (st == BL_FULL) {
        run->bl_error = "blacklist_full";
        if (!a.json) out("  拉黑名单已满（%d 条），请先解除一些：%s 未拉黑。\n", BL_MAX, name);
        return 0;
    }
    if (st != BL_OK) {
        run->bl_error = "blacklist_write_failed";
        if (!a.json) {
            refused_line(b, st);
            out("  ✘ 拉黑失败：%s（拉黑名单写入失败）\n", name);
        }
        logline(EV_BLACKLIST_FAILED, "拉黑失败 | %s", shown);
        return 0;
    }
    if (what != BL_PUT_UNCHANGED) {
        if (run->ndone < BL_MAX) {
            run->done_note[run->ndone] = note_key(e, model, block);
            run->done[run->ndone++] = done;
        }
        run->added = 1;
    }
    int log = !a.what_if && what != BL_PUT_UNCHANGED;
    if (log) logline(EV_BLACKLISTED, "拉黑 | %s | %lld秒", shown, (long long)secs);
    // Every way of blacklisting by name says why a model is not blocked.
    int note = model && e.byname;
    run->undecided |= note && model->verdict == MODEL_UNKNOWN;
    // An entry that changed may reach records left on the PC.
    sweep = sweep && what != BL_PUT_UNCHANGED;
    if (a.json) {
        if (kept) block_lines(b, block, *model, name, 1);
        if (note) model_note(*model, name, 1, log);
        if (sweep) sweep_after(b, done, a.what_if, 1, &run->absent_removed, &run->absent_failed);
        return 1;
    }
    char left[LEFT_BYTES];
    fmt_left(done.until, left);
    const char* verb = what == BL_PUT_ADDED ? (a.what_if ? "将拉黑" : "已拉黑")
                     : what == BL_PUT_EXTENDED ? (a.what_if ? "将延长拉黑" : "已延长拉黑") : nullptr;
    if (verb) out("  %s%s：%s（%s%s）\n", a.what_if ? "" : "✔ ", verb, name, left, done.byname ? "，按名称" : "");
    else out("  已在拉黑名单中，到期时间不变：%s（%s）\n", name, left);
    ModelCheck none;
    none.verdict = MODEL_NONE;
    block_lines(b, block, kept ? *model : none, name);
    if (note) model_note(*model, name, 0, log);
    if (sweep) sweep_after(b, done, a.what_if, 0, &run->absent_removed, &run->absent_failed);
    return 1;
}

void drive_task_hint(const DriveRun& run, const Args& a) {
    if (a.json || a.what_if || !run.added) return;
    if (task_query() == TASK_ABSENT)
        out("  [提示] 后台任务未安装，拉黑的设备回来时不会被自动删除；安装：quillfen --install-task\n");
}

void drive_begin(const Args& a) {
    json_begin_document();
    json_key("what_if");
    json_bool(a.what_if);
}

void drive_put_list(const DriveRun& run, const char* key) {
    const RuleBook& b = bl_book();
    json_key(key);
    json_open_array();
    for (int i = 0; i < run.ndone; i++) {
        json_open();
        entry_keys(b, run.done[i]);
        json_key("model_note");
        json_text(run.done_note[i]);
        json_close();
    }
    json_close_array();
}

void drive_rule_failed(DriveRun* run) {
    if (!run->bl_error) run->bl_error = "blacklist_write_failed";
}

void drive_rule_refused(DriveRun* run, bl_status st) {
    if (!run->bl_error)
        run->bl_error = st == BL_RULES_REFUSED ? "rules_unreadable" : st == BL_FULL ? "rules_full" : "blacklist_write_failed";
}

const char* drive_end(const DriveRun& run) {
    json_key("absent_removed");
    json_int(run.absent_removed);
    json_key("absent_failed");
    json_int(run.absent_failed);
    json_key("blacklist_error");
    json_text(run.bl_error);
    json_end_document();
    return run.bl_error;
}
