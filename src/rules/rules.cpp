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

int rule_chars(const char* text) {
    int n = 0;
    for (; *text; text++) n += ((unsigned char)*text & 0xC0) != 0x80;
    return n;
}

int rule_long_enough(const char* text, int force) { return force || rule_chars(text) >= MIN_CHARS; }

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

int rule_model_ok(const char* id) {
    if (!id_text_ok(id)) return 0;
    char16_t w[sizeof(Rule::id)];
    utf16(id, w, countof(w));
    return names_a_model(w);
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
