// The fingerprints kept of the policy between passes.
#include "policy/seen.h"

#include "base/text.h"
#include "sys/sys.h"

const char16_t SEEN_KEY[] = u"SOFTWARE\\Quillfen\\PolicySeen";
const char16_t SEEN_ERRORS[] = u"Errors";
const char16_t SEEN_RULES[] = u"Rules";

void seen_sum_text(int n, uint64_t sum, char16_t* out, size_t units) {
    char text[48];
    fmt(text, sizeof text, "%d %llu", n, (unsigned long long)sum);
    utf16(text, out, units);
}

namespace {

int noted_is(const char16_t* key, const char16_t* name, const char16_t* want, int none) {
    char16_t had[48];
    sys_reg r = sys_reg_text(key, name, had, countof(had));
    return r == SYS_REG_OK ? wicmp(had, want) == 0 : r == SYS_REG_MISSING && none;
}

}  // namespace

int seen_is(const char16_t* name, const char16_t* want, int none) { return noted_is(SEEN_KEY, name, want, none); }

int seen_changed(const char16_t* key, const char16_t* name, const char16_t* now, int none) {
    if (noted_is(key, name, now, none)) return 0;
    return none ? sys_reg_delete_value(key, name) : sys_reg_set_text(key, name, now, SYS_REG_SZ);
}
