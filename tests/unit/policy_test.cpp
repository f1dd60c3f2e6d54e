// The policy key's reader: which values become rules and which errors, the
// mode, a failing read, the errors said once, and rules held over a refresh;
// and when the administrator's own allows count.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "base/text.h"
#include "policy/allows.h"
#include "policy/policyread.h"
#include "support.h"
#include "sys/sim_machine.h"
#include "sys/sys.h"

namespace {

const std::string KEY = "SOFTWARE\\Policies\\Quillfen";

std::string val(const std::string& list, const std::string& name, const char* type, const std::string& data) {
    return KEY + (list.empty() ? "" : "\\" + list) + "\t" + name + "\t" + type + "\t" + data + "\n";
}

// A machine whose registry holds `values`, and the machine lines `more`.
struct PolicyMachine {
    qt::Machine m;
    std::string reg;
    explicit PolicyMachine(const std::string& values, const std::string& more = "") {
        m.dir = qt::fresh_dir();
        m.owned = true;
        reg = m.dir + "registry.txt";
        qt::spit(reg, values);
        load(more);
    }
    void load(const std::string& more) {
        m.lines = "registry\t" + reg + "\n" + more;
        m.load();
    }
    // The policy's values replaced; what Quillfen keeps under its own key stays.
    void policy(const std::string& values) {
        std::string all = qt::slurp(reg), ours;
        for (size_t at = 0, end; at < all.size(); at = end + 1) {
            end = all.find('\n', at);
            if (all.compare(at, 18, "SOFTWARE\\Quillfen\\") == 0) ours += all.substr(at, end - at + 1);
        }
        qt::spit(reg, values + ours);
    }
};

using Texts = std::vector<std::string>;

Texts rules(const PolicyRule* t, int n) {
    Texts out;
    for (int i = 0; i < n; i++)
        out.push_back(std::to_string(t[i].kind) + "/" + std::to_string(t[i].approves) + " " + t[i].id + " " +
                      (t[i].until == INT64_MAX ? "none" : std::to_string(t[i].until)));
    return out;
}

Texts errors(const PolicyRead& r) {
    Texts out;
    for (int i = 0; i < r.nerrors && i < POLICY_ERRORS_KEPT; i++)
        out.push_back(std::to_string(r.errors[i].list) + " " + r.errors[i].name + " " + std::to_string(r.errors[i].reason));
    return out;
}

// Each list's good values, letter case aside, and each reason once; a date
// is the last day the rule holds, and one already past is neither.
TEST(PolicyRead, ValuesBecomeRulesOrErrors) {
    const std::string long_id = "USB\\VID_1\\" + std::string(191, 'A');
    PolicyMachine p(val("BlockedInstanceIDs", "USB\\VID_1234&PID_5678\\SN1", "sz", "2027-06-30") +
                    val("BlockedInstanceIDs", "USB\\X\\1", "sz", "2027-02-30") +
                    val("BlockedInstanceIDs", "USB\\X\\2", "sz", "2027-6-30") +
                    val("BlockedInstanceIDs", "USB\\X\\3", "sz", "") +
                    val("BlockedInstanceIDs", long_id, "sz", "none") +
                    val("BlockedModels", "USB\\VID_1234&PID_5678", "sz", "NONE") +
                    val("BlockedModels", "USB\\VID_1234&PID_0001", "expand", "none") +
                    val("BlockedModels", "USB\\Class_0E", "sz", "none") +
                    val("BlockedNames", "Web Camera", "sz", "None") +
                    val("BlockedModels", "USB\\VID_1234&PID_5678\\SN1", "sz", "none") +
                    val("BlockedNames", "ab", "sz", "none") + val("BlockedNames", "cam\x01", "sz", "none") +
                    val("BlockedNames", "      ", "sz", "none") +
                    val("ApprovedInstanceIDs", "PCI\\VEN_1&DEV_2\\3&11", "sz", "2024-02-29") +
                    val("ApprovedModels", "USB\\VID_AAAA&PID_0001", "sz", "2023-11-14") +
                    val("ApprovedModels", "USB\\VID_AAAA&PID_0002", "sz", "2023-11-13"));
    PolicyRead r = policy_load(qt::T0);
    EXPECT_EQ(r.outcome, POLICY_READ) << "a key that holds only its lists exists";
    EXPECT_EQ(rules(r.rules, r.n),
              (Texts{"0/0 USB\\VID_1234&PID_5678\\SN1 1814400000", "1/0 USB\\VID_1234&PID_5678 none",
                     "2/0 web camera none", "0/1 PCI\\VEN_1&DEV_2\\3&11 1709251200",
                     "1/1 USB\\VID_AAAA&PID_0001 1700006400"}));
    EXPECT_EQ(errors(r), (Texts{"0 USB\\X\\1 1", "0 USB\\X\\2 1", "0 USB\\X\\3 1", "0 " + long_id + " 5",
                               "1 USB\\VID_1234&PID_0001 0", "1 USB\\Class_0E 2", "1 USB\\VID_1234&PID_5678\\SN1 2",
                               "2 ab 3", "2 cam\x01 4", "2        9"}));
}

// No key, the mode's outcomes, a list that fails part-way (what was read
// is kept), and a list past its limit (an error, not a rule lost unsaid).
TEST(PolicyRead, TheKeyAsAWhole) {
    std::string full;
    char id[64];
    for (int i = 0; i <= POLICY_LIST_MAX; i++) {
        fmt(id, sizeof id, "USB\\VID_0001&PID_%04d", i);
        full += val("BlockedModels", id, "sz", "none");
    }
    const std::string name = val("BlockedNames", "camera", "sz", "none");
    struct {
        std::string values, more;
        policy_outcome outcome;
        policy_mode mode;
        int rules;
        Texts errors;
    } cases[] = {
        {"", "", POLICY_NONE, POLICY_ENFORCE, 0, {}},
        {name, "", POLICY_READ, POLICY_ENFORCE, 1, {}},
        {val("", "Mode", "sz", "audit"), "", POLICY_READ, POLICY_AUDIT, 0, {}},
        {val("", "Mode", "sz", "Audit2"), "", POLICY_READ, POLICY_ENFORCE, 0, {"-1 Mode 7"}},
        {val("", "Mode", "dword", "1"), "", POLICY_READ, POLICY_ENFORCE, 0, {"-1 Mode 7"}},
        {val("BlockedModels", "USB\\VID_1&PID_1", "sz", "none") +
             val("BlockedModels", "USB\\VID_1&PID_2", "sz", "none") + name,
         "fail\tsys_reg_value_at\t3\n", POLICY_UNREADABLE, POLICY_ENFORCE, 2, {}},
        {full, "", POLICY_READ, POLICY_ENFORCE, POLICY_LIST_MAX, {std::string("1 ") + id + " 6"}},
    };
    for (const auto& c : cases) {
        PolicyMachine p(c.values, c.more);
        PolicyRead r = policy_load(qt::T0);
        EXPECT_EQ(r.outcome, c.outcome) << &c - cases;
        EXPECT_EQ(r.mode, c.mode) << &c - cases;
        EXPECT_EQ(r.n, c.rules) << &c - cases;
        EXPECT_EQ(errors(r), c.errors) << &c - cases;
    }
}

TEST(PolicyRead, ErrorsAreSaidOncePerChange) {
    const std::string bad = val("BlockedNames", "ab", "sz", "none");
    PolicyMachine p(bad);
    std::vector<int> said;
    for (const std::string& values : {bad, bad, bad + val("", "Mode", "sz", "x"), std::string(), std::string(), bad}) {
        p.policy(values);
        PolicyRead r = policy_load(qt::T0);
        RuleBook b{};
        b.errors = r.errors;
        b.nerrors = r.nerrors;
        b.error_sum = r.error_sum;
        said.push_back(policy_say_errors(b, EV_HIT));
    }
    EXPECT_EQ(said, (std::vector<int>{1, 0, 1, 0, 0, 1})) << "gone and back is a change";
    EXPECT_NE(qt::slurp(p.m.path("device_cleanup_log.txt")).find("BlockedNames\\ab"), std::string::npos);
}

// A rule that vanishes is held for one pass, then lifted; one that
// expires is not held; while the key cannot be read whole, what it hides
// stays held.
TEST(PolicyRead, VanishedRulesAreHeldForOnePass) {
    const std::string model = val("BlockedModels", "USB\\VID_1&PID_2", "sz", "2023-11-14");
    const std::string name = val("BlockedNames", "camera", "sz", "none");
    const char* fail_names = "fail\tsys_reg_value_at\t3\n";  // the third list's first read
    const Texts camera{"2/0 camera none"};
    PolicyMachine p("");
    struct {
        std::string values;
        const char* more;
        int64_t now;
        Texts held;
    } passes[] = {
        {model + name, "", qt::T0, {}}, {model, "", qt::T0, camera},  {model, "", qt::T0, {}},
        {model, "", qt::T0 + 86400, {}}, {name, "", qt::T0, {}},      {name, fail_names, qt::T0, camera},
        {name, fail_names, qt::T0, camera}, {"", "", qt::T0, camera}, {"", "", qt::T0, {}},
    };
    for (const auto& pass : passes) {
        p.load(pass.more);
        p.policy(pass.values);
        PolicyHeld held = policy_hold(policy_load(pass.now));
        EXPECT_EQ(held.n, (int)pass.held.size());
        EXPECT_EQ(rules(held.rules, held.n), pass.held) << "pass " << &pass - passes + 1;
    }
    EXPECT_TRUE(policy_forget());
    EXPECT_EQ(qt::slurp(p.reg), "");
}

// A read is kept beside the blacklist and taken again while no key of the
// policy has changed: a change made since is read, a file that is not
// whole is not taken, and a read within seconds of a change is not kept,
// as a second change in the same clock tick would leave the key's time.
TEST(PolicyRead, AReadIsTakenAgainWhileNoKeyChanges) {
    PolicyMachine p(val("BlockedModels", "USB\\VID_1&PID_2", "sz", "none") +
                    val("BlockedNames", "camera", "sz", "none"));
    const std::string snap = p.m.path("policy-snapshot.tsv");
    char16_t dir[PATH_UNITS], path[PATH_UNITS], tmp[PATH_UNITS];
    utf16(p.m.dir.c_str(), dir, countof(dir));
    utf16(snap.c_str(), path, countof(path));
    utf16((snap + ".tmp").c_str(), tmp, countof(tmp));
    const PolicyKeep keep{dir, path, tmp, 1};
    PolicyRead r{};
    auto values_read = [&] {
        uint32_t was = g_sim.calls[SIM_REG_VALUE_AT];
        r = policy_load(qt::T0, &keep);
        EXPECT_EQ(r.outcome, POLICY_READ);
        return g_sim.calls[SIM_REG_VALUE_AT] - was;
    };
    const Texts both{"1/0 USB\\VID_1&PID_2 none", "2/0 camera none"};
    EXPECT_GT(values_read(), 0u);
    EXPECT_EQ(values_read(), 0u) << "unchanged: taken from the file";
    EXPECT_EQ(rules(r.rules, r.n), both);
    EXPECT_TRUE(sys_reg_delete_value(u"SOFTWARE\\Policies\\Quillfen\\BlockedNames", u"camera"));
    EXPECT_GT(values_read(), 0u);
    EXPECT_EQ(rules(r.rules, r.n), Texts{both[0]});
    std::string kept = qt::slurp(snap);
    kept[kept.find("VID_1")] = 'X';
    qt::spit(snap, kept);
    EXPECT_GT(values_read(), 0u) << "a file whose sum is not its lines'";
    // A list changed in this very second: read each time until it is still.
    qt::spit(p.reg + ".times", KEY + "\\BlockedModels\t" + std::to_string((qt::T0 + 11644473600) * 10000000) + "\n");
    p.load("");
    EXPECT_GT(values_read(), 0u);
    EXPECT_GT(values_read(), 0u) << "not kept";
    EXPECT_EQ(rules(r.rules, r.n), Texts{both[0]});
}

// A snapshot anyone could write would let a user override central policy:
// where users can change the folder, one above it, or the file, it is
// neither written nor taken, even whole and with the keys' times.
TEST(PolicyRead, NoReadIsKeptWhereUsersCanWrite) {
    PolicyMachine p(val("BlockedModels", "USB\\VID_1&PID_2", "sz", "none"));
    const std::string snap = p.m.path("policy-snapshot.tsv"), folder = p.m.dir.substr(0, p.m.dir.size() - 1);
    char16_t dir[PATH_UNITS], path[PATH_UNITS], tmp[PATH_UNITS];
    utf16(p.m.dir.c_str(), dir, countof(dir));
    utf16(snap.c_str(), path, countof(path));
    utf16((snap + ".tmp").c_str(), tmp, countof(tmp));
    const PolicyKeep keep{dir, path, tmp, 1};
    policy_load(qt::T0, &keep);
    const std::string kept = qt::slurp(snap);
    ASSERT_NE(kept, "") << "a trusted folder keeps the read";
    const std::string untrusted[] = {
        "perm\t" + folder + "\tadmins\tother:2\n",
        "perm\t" + folder.substr(0, folder.rfind('/')) + "\tadmins\tother:40\n",
        "perm\t" + snap + "\tother\tadmins:1f01ff\n",
    };
    for (const std::string& perm : untrusted) {
        p.load(perm);
        uint32_t was = g_sim.calls[SIM_REG_VALUE_AT];
        EXPECT_EQ(rules(policy_load(qt::T0, &keep).rules, 1), Texts{"1/0 USB\\VID_1&PID_2 none"});
        EXPECT_GT(g_sim.calls[SIM_REG_VALUE_AT] - was, 0u) << perm;
    }
    qt::spit(snap, "");
    policy_load(qt::T0, &keep);
    EXPECT_EQ(qt::slurp(snap), "") << "not written either";
}

// Windows honours the administrator's allows over a block by model only
// under layered evaluation (AllowDenyLayered), and so does Quillfen.
TEST(AdminAllows, CountOnlyUnderLayeredEvaluation) {
    const std::string V = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\t";
    const std::string R = "SOFTWARE\\Policies\\Microsoft\\Windows\\DeviceInstall\\Restrictions";
    const std::string allowed = V + "CurrentBuildNumber\tsz\t19045\n" + V + "UBR\tdword\t1151\n" + V +
                                "EditionID\tsz\tProfessional\n" + R + "\tAllowInstanceIDs\tdword\t1\n" + R +
                                "\\AllowInstanceIDs\t1\tsz\tUSB\\VID_1&PID_2\\1\n";
    PolicyMachine off(allowed);
    EXPECT_EQ(allows_load().n, 0);
    PolicyMachine on(allowed + R + "\tAllowDenyLayered\tdword\t1\n");
    EXPECT_EQ(allows_load().n, 1);
}

}  // namespace
