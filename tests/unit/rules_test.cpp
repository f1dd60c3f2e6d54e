// The rules for what may be blacklisted and how: each verdict of the
// admission once, with the callers' present ways, and the limits.
#include <gtest/gtest.h>

#include "blacklist/rules.h"

namespace {

TEST(Admit, EachVerdictWithItsReason) {
    struct {
        Admission a;
        admit_verdict verdict;
        admit_reason reason;
    } cases[] = {
        // The name reaches nothing else: by name, whoever asks.
        {{1, 0, 0, 0, ON_REACH_ASK, ON_UNKNOWN_ID}, ADMIT_BY_NAME, ADMIT_REACHES_NO_OTHER},
        // A name stored otherwise than the device has it: by id, even forced.
        {{0, 0, 0, 1, ON_REACH_NAME, ON_UNKNOWN_REFUSE}, ADMIT_BY_ID, ADMIT_NOT_STORABLE},
        // How far it reaches cannot be told: by id, or refused where the
        // name was asked for.
        {{1, -1, 0, 1, ON_REACH_ID_UNLESS_FORCE, ON_UNKNOWN_ID}, ADMIT_BY_ID, ADMIT_REACH_UNKNOWN},
        {{1, -1, 0, 0, ON_REACH_NAME, ON_UNKNOWN_REFUSE}, ADMIT_REFUSE, ADMIT_REACH_UNKNOWN},
        // It reaches others, by name or by model: a person is asked (also
        // under --force), a script needs --force, --blacklist says so.
        {{1, 2, 0, 1, ON_REACH_ASK, ON_UNKNOWN_ID}, ADMIT_ASK, ADMIT_REACHES_OTHERS},
        {{1, 0, 1, 0, ON_REACH_ID_UNLESS_FORCE, ON_UNKNOWN_ID}, ADMIT_BY_ID, ADMIT_REACHES_OTHERS},
        {{1, 0, 1, 1, ON_REACH_ID_UNLESS_FORCE, ON_UNKNOWN_ID}, ADMIT_BY_NAME, ADMIT_FORCED},
        {{1, 3, 0, 0, ON_REACH_NAME, ON_UNKNOWN_REFUSE}, ADMIT_BY_NAME, ADMIT_REACHES_OTHERS},
    };
    int i = 0;
    for (const auto& c : cases) {
        AdmitResult r = bl_admit(c.a);
        EXPECT_EQ(r.verdict, c.verdict) << "case " << i;
        EXPECT_EQ(r.reason, c.reason) << "case " << i;
        i++;
    }
}

TEST(Rules, ABuiltInDeviceNeedsItsOwnIdAndForce) {
    EXPECT_EQ(rule_builtin(0, 0, 0, 0), BUILTIN_ALLOWED);
    EXPECT_EQ(rule_builtin(1, 1, 1, 0), BUILTIN_ALLOWED);
    EXPECT_EQ(rule_builtin(1, 0, 1, 0), BUILTIN_REFUSED);  // reached by a keyword, not named
    EXPECT_EQ(rule_builtin(1, 1, 0, 0), BUILTIN_REFUSED);
    EXPECT_EQ(rule_builtin(1, 1, 0, 1), BUILTIN_ASK);
}

TEST(Rules, HoursAndTheShortestName) {
    EXPECT_EQ(rule_hours("1"), 1);
    EXPECT_EQ(rule_hours("8760"), HOURS_MAX);
    for (const char* bad : {"0", "8761", "", "+5", "5h", " 5", "99999999999999999999"}) EXPECT_EQ(rule_hours(bad), 0) << bad;
    EXPECT_FALSE(rule_long_enough("摄像", 0));
    EXPECT_TRUE(rule_long_enough("摄像头", 0));
    EXPECT_TRUE(rule_long_enough("ab", 1));
}

}  // namespace
