// The product's rules for what may be blacklisted and how, in one room, so
// that the dialogue, the modes scripts drive and every later way of making
// a rule decide alike; the callers only word the verdicts.
#pragma once

#include <cstdint>

// A blacklisting lasts whole hours, from one hour to a year.
constexpr int64_t HOURS_MIN = 1, HOURS_MAX = 8760;
// A name or keyword shorter than this reaches more devices than anyone
// meant; only --force takes one.
constexpr int MIN_CHARS = 3;

// --hours as whole hours, HOURS_MIN to HOURS_MAX; 0 when it is not that
// (digits only: no sign, blank or unit).
int64_t rule_hours(const char* text);
// 1 when a name or keyword may be used to reach devices.
int rule_long_enough(const char* text, int force);
// 1 when a name holds nothing but blanks (or nothing): it would reach every
// device whose name has as many blanks in a row.
int rule_name_blank(const char* text);

// A built-in/system device may be removed or blacklisted only when it was
// named by its own id and --force was given; a person at the console may
// be asked instead.
enum rule_builtin_verdict { BUILTIN_ALLOWED, BUILTIN_ASK, BUILTIN_REFUSED };
rule_builtin_verdict rule_builtin(int builtin, int by_own_id, int force, int may_ask);

// Whether a blacklisting may match by name as well as by its id.
enum admit_verdict { ADMIT_BY_NAME, ADMIT_BY_ID, ADMIT_ASK, ADMIT_REFUSE };
enum admit_reason {
    ADMIT_REACHES_NO_OTHER,  // neither the name nor the model reaches another device
    ADMIT_NOT_STORABLE,      // the name is empty, or cannot be stored exactly
    ADMIT_REACH_UNKNOWN,     // the device list cannot be had
    ADMIT_REACHES_OTHERS,    // the name or the model reaches other devices
    ADMIT_FORCED,            // ... and --force takes that
};
// What each caller does today where the name reaches further, and where
// how far cannot be told: kept as options until they are decided alike.
enum admit_on_reach {
    ON_REACH_ASK,            // the dialogue: a person says
    ON_REACH_ID_UNLESS_FORCE,  // --remove --by-name
    ON_REACH_NAME,           // --blacklist: the name was asked for; its reach is said
};
enum admit_on_unknown { ON_UNKNOWN_ID, ON_UNKNOWN_REFUSE };

struct Admission {
    int storable;  // the name is not empty and is stored exactly as the device has it
    int others;    // other devices, present or not, built-ins left out, whose
                   // names hold it; -1 when the device list cannot be had
    int alike;     // other devices that share its model, which a block would refuse too
    int force;     // --force
    admit_on_reach on_reach;
    admit_on_unknown on_unknown;
};
struct AdmitResult {
    admit_verdict verdict;
    admit_reason reason;
};
AdmitResult bl_admit(const Admission& a);

// Whether a device is kept off, in Windows' own layered order: a rule by
// instance id outranks one by model, which outranks one by name, and
// within one layer a block wins over an approval. Rules set by policy
// decide first, in that order; local rules decide only a device that no
// policy rule reaches, so that a local approval never overrides a policy
// block and a policy approval overrides a local block.
// How a rule reaches a device: by its instance id, its name or its model.
enum bl_hit { BL_NO_HIT, BL_BY_ID, BL_BY_NAME, BL_BY_MODEL };

enum rule_source { SOURCE_POLICY, SOURCE_LOCAL, SOURCES };
enum rule_layer { LAYER_INSTANCE, LAYER_MODEL, LAYER_NAME, LAYERS };
// What reaches one device: per source and layer, whether a block and
// whether an approval does.
// windows_allow: the administrator's own allow of the unit under Windows'
// layered evaluation, which outranks every block of either source but one
// by instance id, as Windows would install the unit over a device-id
// prevention and refuse it on an instance-id one.
struct RuleHits {
    uint8_t block[SOURCES][LAYERS];
    uint8_t approve[SOURCES][LAYERS];
    uint8_t windows_allow;
};
struct RuleDecision {
    int decided;  // some rule reaches the device
    int blocked;  // ... and it is kept off
    rule_source source;
    rule_layer layer;
    int by_windows_allow;  // spared by the administrator's allow
};
// The one place the layered order is written: the judge decides devices
// by it, and the wanted lists the ids a block may be written for.
RuleDecision rule_decide(const RuleHits& h);

// A rule with an end is in force until its end second, not at it.
inline int rule_in_force(int64_t until, int64_t now) { return now < until; }

// Why a hardware id cannot be a model rule, which Windows would never
// match with a device's hardware ids.
enum model_refusal {
    REFUSED_NONE,
    REFUSED_TEXT,        // empty, over 200 characters (MAX_DEVICE_ID_LEN), a space at an end, or not printable ASCII
    REFUSED_NO_VENDOR,   // no vendor and product: a class or compatible-only id
    REFUSED_INSTANCE,    // a device's instance path
    REFUSED_ORDER,       // the product before the vendor
    REFUSED_EMPTY_PART,  // an empty part, or a tag without its value
    REFUSED_SEVERAL,     // ids joined by ';'
    REFUSED_REVISION,    // a revision
};
model_refusal rule_model_refusal(const char* id);
// The reason as the screens and the log word it.
const char* rule_model_refusal_text(model_refusal why);
// 1 when a hardware id can be a model rule (rule_model_refusal finds nothing).
int rule_model_ok(const char* id);
// 1 when an instance id can be an approval: the same bounds, no '\' at
// either end, at least two (enumerator, device id, instance), no control
// character.
int rule_instance_ok(const char* id);
