// The judge over an in-memory book: Windows' layered order between the
// sources and layers, the administrator's allow, and how a rule reaches a
// device by id, name and model; and the install block's lists the same
// book wants. The judge needs no simulated machine: the devices' id lists
// are given.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "rules/judge.h"
#include "rules/standing.h"
#include "rules/wanted.h"
#include "support.h"

namespace {

constexpr int64_t END = qt::T0 + 3600;
const char CAM[] = "USB\\VID_2B7E&PID_0136\\SN1";
const char16_t CAM_IDS[] = u"USB\\VID_2B7E&PID_0136&REV_0100\0USB\\VID_2B7E&PID_0136\0";
const char MODEL[] = "USB\\VID_2B7E&PID_0136";

// A book of a few rules of each source, filled as a test says.
struct Book {
    BlacklistEntry entries[4];
    BlacklistModel models[4];
    Rule rules[4];
    PolicyRule policy[4];
    AdminAllow allows[2];
    RuleBook b{};

    Book() {
        b.entries = entries;
        b.models = models;
        b.rules = rules;
        b.policy = policy;
        b.allows = allows;
    }
    void entry(int byname, const char* name, const char* inst, const char* model = nullptr) {
        entries[b.nentries++] = qt::entry(END, byname, name, inst, "Camera");
        if (!model) return;
        BlacklistModel& m = models[b.nmodels++];
        strcpy(m.inst, inst);
        strcpy(m.model, model);
        m.verdict = MODEL_OK;
    }
    void rule(rule_kind kind, const char* id) { rules[b.nrules++] = Rule{kind, {}, "", END, MODEL_OK}, strcpy(rules[b.nrules - 1].id, id); }
    void policy_rule(policy_rule_kind kind, int approves, const char* id) {
        PolicyRule& p = policy[b.npolicy++];
        p = PolicyRule{kind, approves, {}, INT64_MAX};
        strcpy(p.id, id);
    }
    void allow(const char* inst) { strcpy(allows[b.nallows++].inst, inst); }
};

std::string lower(const char* s) {
    std::string l(s);
    for (char& c : l) c = c >= 'A' && c <= 'Z' ? (char)(c + 32) : c;
    return l;
}

Judged judge_of(const Book& k, const char* inst, const char* name, int builtin = 0, const char16_t* hw = CAM_IDS,
                int64_t now = qt::T0) {
    const Judge& j = judge_prepare(k.b, now);
    std::string id = lower(inst), n = lower(name);
    JudgeDevice d{id.c_str(), n.c_str(), builtin, nullptr, nullptr};
    d.hw = hw;
    return judge(j, d);
}

// Each case: the rules of both sources at each layer, and who decides.
TEST(Judge, LayeredOrderOfSourcesAndLayers) {
    struct Case {
        const char* what;
        void (*fill)(Book&);
        int blocked;
        rule_source source;
        rule_layer layer;
    } cases[] = {
        {"policy: an instance block outranks a model approval",
         [](Book& k) { k.policy_rule(POLICY_INSTANCE_ID, 0, CAM), k.policy_rule(POLICY_MODEL, 1, MODEL); }, 1,
         SOURCE_POLICY, LAYER_INSTANCE},
        {"policy: an instance approval outranks a model block",
         [](Book& k) { k.policy_rule(POLICY_MODEL, 0, MODEL), k.policy_rule(POLICY_INSTANCE_ID, 1, CAM); }, 0,
         SOURCE_POLICY, LAYER_INSTANCE},
        {"policy: within one layer a block holds",
         [](Book& k) { k.policy_rule(POLICY_MODEL, 1, MODEL), k.policy_rule(POLICY_MODEL, 0, MODEL); }, 1,
         SOURCE_POLICY, LAYER_MODEL},
        {"policy decides before the PC: its model approval over a local id block",
         [](Book& k) { k.entry(0, "cam", CAM), k.policy_rule(POLICY_MODEL, 1, MODEL); }, 0, SOURCE_POLICY,
         LAYER_MODEL},
        {"a local approval never overrides a policy block",
         [](Book& k) { k.rule(RULE_APPROVE_ID, CAM), k.policy_rule(POLICY_NAME, 0, "vision"); }, 1, SOURCE_POLICY,
         LAYER_NAME},
        {"local: a model approval outranks a name block",
         [](Book& k) { k.entry(1, "vision", "X\\Y\\1"), k.rule(RULE_APPROVE_MODEL, MODEL); }, 0, SOURCE_LOCAL,
         LAYER_MODEL},
        {"local: a by-name entry's model decides at its name's layer",
         [](Book& k) { k.entry(1, "other", "X\\Y\\2", MODEL), k.rule(RULE_APPROVE_MODEL, MODEL); }, 0, SOURCE_LOCAL,
         LAYER_MODEL},
        {"local: an instance approval outranks a model block",
         [](Book& k) { k.rule(RULE_MODEL, MODEL), k.rule(RULE_APPROVE_ID, CAM); }, 0, SOURCE_LOCAL, LAYER_INSTANCE},
        {"local: an instance block outranks a model approval",
         [](Book& k) { k.entry(0, "", CAM), k.rule(RULE_APPROVE_MODEL, MODEL); }, 1, SOURCE_LOCAL, LAYER_INSTANCE},
        {"two sources block: policy's rule is the one that decides",
         [](Book& k) { k.entry(1, "vision", "X\\Y\\1"), k.policy_rule(POLICY_MODEL, 0, MODEL); }, 1, SOURCE_POLICY,
         LAYER_MODEL},
    };
    for (const Case& c : cases) {
        Book k;
        c.fill(k);
        Judged j = judge_of(k, CAM, "Vision Cam");
        EXPECT_EQ(j.blocked, c.blocked) << c.what;
        EXPECT_EQ(j.approved, !c.blocked) << c.what;
        EXPECT_EQ(j.source, c.source) << c.what;
        EXPECT_EQ(j.layer, c.layer) << c.what;
    }
}

// Under layered evaluation the administrator's allow of a unit outranks
// every block but one by instance id, of either source.
TEST(Judge, TheAdministratorsAllowOutranksAllButInstanceBlocks) {
    Book k;
    k.allow("usb\\vid_2b7e&pid_0136\\sn1");
    k.rule(RULE_MODEL, MODEL);
    k.policy_rule(POLICY_NAME, 0, "vision");
    EXPECT_FALSE(judge_of(k, CAM, "Vision Cam").blocked) << "model and name blocks give way";
    k.entry(0, "", CAM);
    EXPECT_TRUE(judge_of(k, CAM, "Vision Cam").blocked) << "a local instance block holds";
    Book p;
    p.allow(CAM);
    p.policy_rule(POLICY_INSTANCE_ID, 0, CAM);
    EXPECT_TRUE(judge_of(p, CAM, "Vision Cam").blocked) << "a policy instance block holds";
}

// An entry is in force while now < its end: at its end second it keeps
// nothing off.
TEST(Judge, AnEntryIsOutOfForceAtItsEndSecond) {
    Book k;
    k.entry(0, "", CAM);
    EXPECT_TRUE(judge_of(k, CAM, "Vision Cam", 0, CAM_IDS, END - 1).blocked);
    EXPECT_FALSE(judge_of(k, CAM, "Vision Cam", 0, CAM_IDS, END).blocked);
}

// How a rule reaches a device: an id letter case aside (A-Z only), a name
// as a part of the device's, a model among its hardware ids; the rule that
// decides is named.
TEST(Judge, HowARuleReachesADevice) {
    Book k;
    k.entry(0, "smart camera", "USB\\VID_0000&PID_0000\\1");
    k.entry(1, "usb camera", "X\\1");
    k.entry(1, "", "X\\2");
    k.rule(RULE_MODEL, MODEL);
    const char16_t none[] = u"";
    Judged j = judge_of(k, "usb\\vid_0000&pid_0000\\1", "whatever", 0, none);
    EXPECT_EQ(j.how, BL_BY_ID);
    EXPECT_EQ(j.rule, (RuleRef{FROM_ENTRY, 0}));
    EXPECT_FALSE(judge_of(k, "usb\\vid_0000&pid_0000\\10", "smart camera", 0, none).blocked) << "by id alone";
    EXPECT_EQ(judge_of(k, "usb\\3", "My USB Camera (2)", 0, none).how, BL_BY_NAME);
    EXPECT_FALSE(judge_of(k, "usb\\3", "usb  camera", 0, none).blocked);
    EXPECT_FALSE(judge_of(k, "usb\\3", "usb camera", 1, none).blocked) << "never a built-in device by name";
    EXPECT_TRUE(judge_of(k, "x\\1", "", 1, none).blocked) << "a built-in device by its own id";
    EXPECT_FALSE(judge_of(k, "", "", 0, none).blocked) << "an empty id names no device";
    Book u;
    u.entry(0, "", "USB\\É");
    EXPECT_FALSE(judge_of(u, "usb\\é", "", 0, none).blocked) << "only A-Z fold";
    j = judge_of(k, "USB\\VID_2B7E&PID_0136\\7", "Vision Cam");
    EXPECT_EQ(j.how, BL_BY_MODEL);
    EXPECT_EQ(j.rule, (RuleRef{FROM_RULE, 0}));
    const char16_t function[] = u"USB\\VID_2B7E&PID_0136&MI_00\0";
    EXPECT_FALSE(judge_of(k, "USB\\VID_2B7E&PID_0136&MI_00\\7", "Vision Cam", 0, function).blocked)
        << "a function is another id than its composite device's";
}

// A composite device reached through one function's model is the sum of
// its functions: it stays while another function's model is spared, and
// goes with the function when none is.
TEST(Judge, ACompositeDeviceIsTheSumOfItsFunctions) {
    const char16_t hub[] = u"USB\\VID_2B7E&PID_0136&REV_0100\0USB\\VID_2B7E&PID_0136\0";
    const char16_t composite[] = u"USB\\DevClass_00\0USB\\COMPOSITE\0";
    auto hub_judged = [&](const Book& k) {
        const Judge& j = judge_prepare(k.b, qt::T0);
        JudgeDevice d{"usb\\vid_2b7e&pid_0136\\sn1", "vision hub", 0, nullptr, nullptr};
        d.hw = hub;
        d.compat = composite;
        return judge(j, d);
    };
    Book mic;
    mic.rule(RULE_MODEL, "USB\\VID_2B7E&PID_0136&MI_02");
    EXPECT_TRUE(hub_judged(mic).blocked) << "no function spared: the whole device";
    mic.rule(RULE_APPROVE_MODEL, "USB\\VID_2B7E&PID_0136&MI_00");
    EXPECT_FALSE(hub_judged(mic).blocked) << "the camera function spared";
    mic.rule(RULE_MODEL, "USB\\VID_2B7E&PID_0136&MI_00");
    EXPECT_TRUE(hub_judged(mic).blocked) << "within its layer the camera's own block holds";
}

// Whether the book wants id on Windows' list l. The lists may look devices
// up: a machine with none.
bool wanted(const Book& k, block_list l, const char* id) {
    qt::Machine m;
    m.load();
    static BlockWant want;  // 1.5 MB
    bl_wanted_all(k.b, qt::T0, &want);
    const std::u16string w(id, id + strlen(id));  // ASCII, as the rule holds it
    for (int i = 0; i < want.list[l].n; i++)
        if (want.list[l].id[i] == w) return true;
    return false;
}

// Within one layer a block holds: a model both blocked and approved is
// written to Windows' list of models.
TEST(Wanted, AModelBlockedAndApprovedIsBlocked) {
    Book k;
    k.rule(RULE_MODEL, MODEL);
    k.rule(RULE_APPROVE_MODEL, MODEL);
    EXPECT_TRUE(wanted(k, BLOCK_DEVICE_IDS, MODEL));
}

// Windows refuses a unit denied by its instance id whatever allows it: the
// administrator's allow of the unit leaves the PC's block of it written.
TEST(Wanted, TheAdministratorsAllowLeavesAnInstanceBlock) {
    Book k;
    k.entry(0, "", CAM);
    k.allow(CAM);
    EXPECT_TRUE(wanted(k, BLOCK_INSTANCE_IDS, CAM));
}

// A book with a change coming is the caller's copy, made again in the same
// place for each change: what it wants is worked out for each one.
TEST(Wanted, EachChangeComingIsWorkedOutAfresh) {
    qt::Machine m0;  // a build that holds the block
    m0.load();
    Book k;
    k.policy_rule(POLICY_MODEL, 1, MODEL);
    static RuleBook with;  // the same address and generation for both changes
    BlacklistEntry e = qt::entry(END, 1, "cam", CAM, "Camera");
    BlacklistModel m{};
    strcpy(m.inst, CAM);
    m.verdict = MODEL_OK;
    with = k.b;
    with.coming = &e;
    with.coming_model = &m;
    strcpy(m.model, "USB\\VID_1111&PID_2222");
    (void)model_standing(with, m.model, MODEL_OK);
    strcpy(m.model, MODEL);
    EXPECT_EQ(WHY_GIVEN_UP, model_standing(with, MODEL, MODEL_OK).state) << "policy's approval outranks it";
}

}  // namespace
