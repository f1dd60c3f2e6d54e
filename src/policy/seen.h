// What Quillfen keeps of the policy between passes, under its own key (the
// policy key is never written): "Errors" and "Rules", the fingerprints of
// the errors said and the rules held, and one value per rule held, named
// "<list>\<id>".
#pragma once

#include <cstddef>
#include <cstdint>

extern const char16_t SEEN_KEY[];
extern const char16_t SEEN_ERRORS[];
extern const char16_t SEEN_RULES[];

// A fingerprint as its value holds it: a count and a sum.
void seen_sum_text(int n, uint64_t sum, char16_t* out, size_t units);
// 1 when our fingerprint `name` is `want`, or is absent and `none` is 1.
int seen_is(const char16_t* name, const char16_t* want, int none);
// For lines said once per change: 1 when key\name does not hold `now`
// (absent stands for `none`) and now does, deleted when none. Noted before
// the lines are said: were it not, they would be said again at every pass
// while it cannot be noted.
int seen_changed(const char16_t* key, const char16_t* name, const char16_t* now, int none);
