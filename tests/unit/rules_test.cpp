// The rules for what may be blacklisted and how: each verdict of the
// admission once, with the callers' present ways, and the limits.
#include <gtest/gtest.h>

#include "local/table.h"
#include "rules/rules.h"

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

// A model rule is a hardware id as Windows compares them, whole: whatever
// Windows could never match is refused with its reason, as an
// administrator would otherwise paste it from Device Manager.
TEST(Rules, AModelIsAHardwareIdWindowsCanMatch) {
    struct {
        const char* id;
        model_refusal why;
    } cases[] = {
        {"USB\\VID_046D&PID_0825", REFUSED_NONE},
        {"USB\\VID_046D&PID_0825&MI_00", REFUSED_NONE},
        {"PCI\\VEN_8086&DEV_9A19&SUBSYS_00000000", REFUSED_NONE},
        {"ACPI\\VEN_INT&DEV_33A0", REFUSED_NONE},
        {"USB\\VID_046D&PID_0825\\1", REFUSED_INSTANCE},
        {"USB\\PID_0825&VID_046D", REFUSED_ORDER},
        {"USB\\VID_046D&PID_0825&MI_", REFUSED_EMPTY_PART},
        {"USB\\VID_046D&PID_0825&REV_", REFUSED_EMPTY_PART},
        {"USB\\VID_046D&&PID_0825", REFUSED_EMPTY_PART},
        {"USB\\VID_046D&PID_0825;USB\\VID_046D&PID_0826", REFUSED_SEVERAL},
        {"USB\\VID_046D&PID_0825&REV_0100", REFUSED_REVISION},
        {"USB\\Class_0E", REFUSED_NO_VENDOR},
        {"PCI\\VEN_8086&DEV_9A19", REFUSED_NO_VENDOR},
        {"", REFUSED_TEXT},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rule_model_refusal(c.id), c.why) << c.id;
        EXPECT_EQ(rule_model_ok(c.id), c.why == REFUSED_NONE) << c.id;
    }
}

}  // namespace

namespace {

// Windows' layered order (Policy CSP - DeviceInstallation), policy above
// the PC. Each row: what reaches the device, and who decides.
TEST(Decide, InstanceOverModelOverNameABlockWinsPolicyAbove) {
    enum { B = 1, A = 2 };  // a block, an approval
    struct {
        int policy[LAYERS], local[LAYERS];
        int blocked;
        rule_source source;
        rule_layer layer;
    } cases[] = {
        {{0, 0, 0}, {0, 0, B}, 1, SOURCE_LOCAL, LAYER_NAME},          // a name rule alone
        {{0, 0, 0}, {0, A, B}, 0, SOURCE_LOCAL, LAYER_MODEL},         // an approved model outranks a name
        {{0, 0, 0}, {A, B, 0}, 0, SOURCE_LOCAL, LAYER_INSTANCE},      // an approved unit outranks its model
        {{0, 0, 0}, {B, A, 0}, 1, SOURCE_LOCAL, LAYER_INSTANCE},      // its own id still reaches it
        {{0, 0, 0}, {0, A | B, 0}, 1, SOURCE_LOCAL, LAYER_MODEL},     // within a layer a block wins
        {{0, 0, B}, {A, 0, 0}, 1, SOURCE_POLICY, LAYER_NAME},         // a local approval never beats policy
        {{0, A, 0}, {B, 0, 0}, 0, SOURCE_POLICY, LAYER_MODEL},        // a policy approval beats a local block
        {{0, 0, 0}, {0, 0, 0}, 0, SOURCE_LOCAL, LAYER_NAME},          // nothing reaches it
    };
    int i = 0;
    for (const auto& c : cases) {
        RuleHits h{};
        for (int l = 0; l < LAYERS; l++) {
            h.block[SOURCE_POLICY][l] = (c.policy[l] & B) != 0;
            h.approve[SOURCE_POLICY][l] = (c.policy[l] & A) != 0;
            h.block[SOURCE_LOCAL][l] = (c.local[l] & B) != 0;
            h.approve[SOURCE_LOCAL][l] = (c.local[l] & A) != 0;
        }
        RuleDecision d = rule_decide(h);
        EXPECT_EQ(d.blocked, c.blocked) << "case " << i;
        if (d.decided) {
            EXPECT_EQ(d.source, c.source) << "case " << i;
            EXPECT_EQ(d.layer, c.layer) << "case " << i;
        }
        i++;
    }
}

// --what-if says what a real run would: a rule given again is merged as the
// rules file merges it, a new verdict counting as a change, a rename not.
TEST(Rules, ARuleGivenAgainIsMergedAsTheFileMergesIt) {
    Rule t[2] = {{RULE_MODEL, "USB\\VID_1&PID_2", "cam", 100, MODEL_SHARED}};
    int n = 1, what;
    Rule after;
    ASSERT_TRUE(rule_table_put(t, &n, Rule{RULE_MODEL, "usb\\vid_1&pid_2", "", 50, MODEL_OK}, &what, &after));
    EXPECT_EQ(1, what) << "the verdict changed";
    EXPECT_EQ(MODEL_OK, after.verdict);
    EXPECT_EQ(100, after.until);
    EXPECT_STREQ("cam", after.name) << "no name given keeps it";
    ASSERT_TRUE(rule_table_put(t, &n, Rule{RULE_MODEL, "USB\\VID_1&PID_2", "desk cam", 100, MODEL_OK}, &what, &after));
    EXPECT_EQ(0, what);
    EXPECT_STREQ("desk cam", after.name);
    EXPECT_EQ(1, n);
}

}  // namespace
