// The rules for what may be blacklisted and how.
#include "rules/rules.h"

#include <cstring>

#include "base/text.h"
#include "device/model.h"
#include "rules/entry.h"

int64_t rule_hours(const char* text) {
    int64_t h = 0;
    for (const char* p = text; *p; p++) {
        if (*p < '0' || *p > '9') return 0;
        h = h * 10 + (*p - '0');
        if (h > HOURS_MAX) return 0;
    }
    return text[0] && h >= HOURS_MIN ? h : 0;
}

int rule_long_enough(const char* text, int force) { return force || utf8_chars(text) >= MIN_CHARS; }

int rule_name_blank(const char* text) {
    for (; *text; text++)
        if (*text != ' ' && *text != '\t') return 0;
    return 1;
}

rule_builtin_verdict rule_builtin(int builtin, int by_own_id, int force, int may_ask) {
    if (!builtin || (by_own_id && force)) return BUILTIN_ALLOWED;
    return may_ask ? BUILTIN_ASK : BUILTIN_REFUSED;
}

RuleDecision rule_decide(const RuleHits& h) {
    RuleDecision d{0, 0, SOURCE_LOCAL, LAYER_NAME, 0};
    for (int s = 0; s < SOURCES && !d.decided; s++)
        for (int l = 0; l < LAYERS && !d.decided; l++)
            if (h.block[s][l] || h.approve[s][l]) d = {1, h.block[s][l] != 0, (rule_source)s, (rule_layer)l, 0};
    // Windows refuses a unit denied by its instance id whatever allows it.
    if (d.blocked && h.windows_allow && !h.block[SOURCE_POLICY][LAYER_INSTANCE] && !h.block[SOURCE_LOCAL][LAYER_INSTANCE])
        d = {1, 0, SOURCE_POLICY, LAYER_INSTANCE, 1};
    return d;
}

namespace {

constexpr size_t ID_CHARS = sizeof(Rule::id) - 1;

// What every id of a rule is: printable ASCII within its bounds, with no
// space at either end (Windows would match the spaces too).
int id_text_ok(const char* id) {
    size_t n = strlen(id);
    if (n == 0 || n > ID_CHARS || id[0] == ' ' || id[n - 1] == ' ') return 0;
    for (size_t i = 0; i < n; i++)
        if ((unsigned char)id[i] < 0x20 || (unsigned char)id[i] > 0x7E) return 0;
    return 1;
}

}  // namespace

model_refusal rule_model_refusal(const char* id) {
    if (strchr(id, ';')) return REFUSED_SEVERAL;
    if (!id_text_ok(id)) return REFUSED_TEXT;
    char16_t w[sizeof(Rule::id)];
    utf16(id, w, countof(w));
    switch (model_id_fault(w)) {
    case MODEL_ID_OK: return REFUSED_NONE;
    case MODEL_ID_INSTANCE: return REFUSED_INSTANCE;
    case MODEL_ID_ORDER: return REFUSED_ORDER;
    case MODEL_ID_EMPTY_PART: return REFUSED_EMPTY_PART;
    case MODEL_ID_SEVERAL: return REFUSED_SEVERAL;
    case MODEL_ID_REVISION: return REFUSED_REVISION;
    case MODEL_ID_CONTROL: return REFUSED_TEXT;
    default: return REFUSED_NO_VENDOR;
    }
}

int rule_model_ok(const char* id) { return rule_model_refusal(id) == REFUSED_NONE; }

const char* rule_model_refusal_text(model_refusal why) {
    static const char* const TEXT[] = {
        "",
        "空的、超过 200 个字符、首尾有空格，或含控制字符、非 ASCII 字符",
        "没有写明厂商和产品（类别 ID、兼容 ID；PCI 设备要写到 SUBSYS_）",
        "这是设备的实例 ID（设备管理器的“设备实例路径”），最后一个 \\ 之后是某一台设备；型号要写到它前面为止",
        "产品写在了厂商前面（要 VID_ 在 PID_ 前、VEN_ 在 DEV_ 前），Windows 的硬件 ID 没有这样写的",
        "有空的部分（&& 或末尾的 &），或 MI_、REV_ 等后面没有值",
        "一条规则只能写一个硬件 ID，不能用 ; 连写几个",
        "带版本号（REV_），换一个版本就对不上了",
    };
    return TEXT[why];
}

int rule_instance_ok(const char* id) {
    size_t n = strlen(id);
    // Enumerator, device id and instance: a device id alone (one '\\')
    // names a model, not a unit.
    const char* first = strchr(id, '\\');
    return id_text_ok(id) && id[0] != '\\' && id[n - 1] != '\\' && first && strchr(first + 1, '\\');
}

AdmitResult bl_admit(const Admission& a) {
    // A name stored otherwise than the device has it would reach other devices.
    if (!a.storable) return {ADMIT_BY_ID, ADMIT_NOT_STORABLE};
    // What the name reaches must be known before it is in force.
    if (a.others < 0) return {a.on_unknown == ON_UNKNOWN_REFUSE ? ADMIT_REFUSE : ADMIT_BY_ID, ADMIT_REACH_UNKNOWN};
    if (a.others == 0 && a.alike == 0) return {ADMIT_BY_NAME, ADMIT_REACHES_NO_OTHER};
    if (a.on_reach == ON_REACH_NAME) return {ADMIT_BY_NAME, ADMIT_REACHES_OTHERS};
    if (a.on_reach == ON_REACH_ASK) return {ADMIT_ASK, ADMIT_REACHES_OTHERS};
    return a.force ? AdmitResult{ADMIT_BY_NAME, ADMIT_FORCED} : AdmitResult{ADMIT_BY_ID, ADMIT_REACHES_OTHERS};
}
