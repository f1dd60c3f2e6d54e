// How a rule reaches a device by id or by name.
#include "rules/match.h"

#include <cstring>

#include "base/text.h"

int match_id(const char* rule_inst, const char* lower_inst) { return rule_inst[0] && ieq_ascii(rule_inst, lower_inst); }

int match_name(const char* rule_name, const char* lower_name, int builtin) {
    return rule_name[0] && !builtin && strstr(lower_name, rule_name) != nullptr;
}
