// Screen texts of the blacklist and of devices, and the remaining time.
#include "app/show.h"

#include "app/console.h"
#include "base/text.h"
#include "sys/sys.h"

void save_failed(void) { out("  [错误] 拉黑名单写入失败（权限？）\n"); }

void unreadable_line(void) { out("  [错误] 拉黑名单 blacklist.tsv 读不了，这次不会修改它。\n"); }

void overfull_line(void) { out("  [错误] 拉黑名单超过 %d 条：只有前 %d 条生效，这次不会修改它。\n", BL_MAX, BL_MAX); }

void bad_lines_line(const RuleBook& b) {
    out("  [错误] 拉黑名单有 %d 行无法识别（最早在第 %d 行），这次不会修改它；请改正或删掉这些行。\n", b.blacklist.bad,
        b.blacklist.first_bad);
}

void read_trouble_lines(const RuleBook& b) {
    if (b.blacklist.overfull) overfull_line();
    if (b.blacklist.state == SOURCE_BAD_LINES) bad_lines_line(b);
    source_state m = b.models_file.state;
    int bad = b.models_file.bad, first = b.models_file.first_bad;
    rules_trouble_line(b);
    policy_trouble_lines(b);
    if (m == SOURCE_UNREADABLE) out("  [错误] 型号文件 blacklist-models.tsv 读不了，这次不会修改它，按型号的安装禁止也不变。\n");
    else if (m == SOURCE_BAD_LINES)
        out("  [错误] 型号文件 blacklist-models.tsv 有 %d 行无法识别（最早在第 %d 行），这次不会修改它，按型号的安装禁止也不变；"
            "请改正或删掉这些行。\n",
            bad, first);
}

void rules_trouble_line(const RuleBook& b) {
    source_state r = b.rules_file.state;
    int bad = b.rules_file.bad, first = b.rules_file.first_bad;
    if (r == SOURCE_BAD_LINES)
        out("  [错误] 规则文件 blacklist-rules.tsv 有 %d 行无法识别（最早在第 %d 行），这次不会修改它；请改正或删掉这些行。\n", bad,
            first);
    else if (r == SOURCE_OVERFULL) out("  [错误] 规则文件 blacklist-rules.tsv 超过 %d 条：只有前 %d 条生效，这次不会修改它。\n", RULES_MAX, RULES_MAX);
    else if (r == SOURCE_UNREADABLE) out("  [错误] 规则文件 blacklist-rules.tsv 读不了，这次不会修改它。\n");
}

void policy_trouble_lines(const RuleBook& b) {
    if (b.policy_read == POLICY_UNREADABLE)
        out("  [错误] 策略 HKLM\\SOFTWARE\\Policies\\Quillfen 读不全：只按读到的规则删除，不解除任何系统安装禁止。\n");
    if (b.nerrors) out("  [提示] 策略中有 %d 个值无效，已忽略（日志中有每个值和原因）。\n", b.nerrors);
    if (b.nallows)
        out("  [提示] 管理员策略允许安装 %d 个设备（已开启分层顺序）：按型号的安装禁止对它们不生效，后台任务也不删除它们。\n",
            b.nallows);
    if (b.mode == POLICY_AUDIT)
        out("  [提示] 审核模式（策略）：后台任务只记录本应删除的设备，不删除；不写系统安装禁止。\n");
}

namespace {

// By given_up_reason.
const char* const GIVEN_UP_KEY[] = {
    "approved",         "function_approved", "layering_forbidden", "layering_unsupported",
    "admin_preventions", "admin_allows",      "layering_off",       "layering_untold",
};

}  // namespace

const char* model_refusal_key(model_refusal why) {
    static const char* const KEY[] = {nullptr,      "bad_text",   "no_vendor_product", "instance_id",
                                      "order",      "empty_part", "several_ids",       "revision"};
    return KEY[why];
}

const char* standing_text(const Standing& s) {
    static char text[192];
    switch (s.state) {
    case STANDS: return "已禁止安装";
    case WHY_SHARED: return "与其他设备共用，不禁止安装";
    case WHY_BUILTIN: return "内置/系统设备，不禁止安装";
    case WHY_CHECK_UNKNOWN: return "未能确认是否与其他设备共用，不禁止安装";
    case WHY_GIVEN_UP: fmt(text, sizeof text, "未禁止安装：%s", given_up_text(s.given_up)); return text;
    case WHY_UNSUPPORTED: return "未禁止安装：此 Windows 版本或版本类型不支持";
    case WHY_AUDIT: return "未禁止安装：审核模式";
    case WHY_NO_TASK: return "未禁止安装：后台任务未运行本程序";
    case WHY_UNTOLD: return "未禁止安装：无法确认";
    default: return "未禁止安装：应写入而未写入";
    }
}

const char* standing_key(const Standing& s) {
    switch (s.state) {
    case STANDS: return nullptr;
    case WHY_SHARED: return "shared";
    case WHY_BUILTIN: return "builtin";
    case WHY_CHECK_UNKNOWN: return "unknown";
    case WHY_GIVEN_UP: return GIVEN_UP_KEY[s.given_up];
    case WHY_UNSUPPORTED: return "unsupported";
    case WHY_AUDIT: return "audit";
    case WHY_NO_TASK: return "no_task";
    case WHY_UNTOLD: return "untold";
    default: return "not_written";
    }
}

void refused_line(const RuleBook& b, bl_status st) {
    if (st == BL_UNREADABLE) unreadable_line();
    else if (st == BL_OVERFULL) overfull_line();
    else if (st == BL_BAD_LINES) bad_lines_line(b);
    else save_failed();
}

void shown_text(const char16_t* w, char* out, size_t size) {
    utf8(w, out, size);
    blank_controls(out);
}

const char* shown_text8(const char* s, char* buf, size_t size) {
    scopy(buf, size, s);
    blank_controls(buf);
    return buf;
}

void fmt_left_secs(int64_t secs, char* out) {
    long long s = (long long)secs;
    if (s <= 0) {
        fmt(out, LEFT_BYTES, "已过期");
    } else if (s < 3600) {
        long long m = s / 60;
        fmt(out, LEFT_BYTES, "剩余 %lld分钟", m ? m : 1LL);
    } else if (s < 86400) {
        fmt(out, LEFT_BYTES, "剩余 %lld小时%lld分", s / 3600, (s % 3600) / 60);
    } else {
        fmt(out, LEFT_BYTES, "剩余 %lld天%lld小时", s / 86400, (s % 86400) / 3600);
    }
}

void fmt_left(int64_t until, char* out) {
    int64_t now = sys_now();
    // Saturate instead of overflowing for an expiry far in the past or future.
    int64_t secs;
    if (now > 0 && until < INT64_MIN + now) secs = INT64_MIN;
    else if (now < 0 && until > INT64_MAX + now) secs = INT64_MAX;
    else secs = until - now;
    fmt_left_secs(secs, out);
}
