// The rules for what may be blacklisted and how.
#include "blacklist/rules.h"

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
    for (int s = 0; s < SOURCES; s++)
        for (int l = 0; l < LAYERS; l++)
            if (h.block[s][l] || h.approve[s][l])
                return {1, h.block[s][l] != 0, (rule_source)s, (rule_layer)l};
    return {0, 0, SOURCE_LOCAL, LAYER_NAME};
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
