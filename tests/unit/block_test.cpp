// The install block's rules, each against the simulated registry: the
// reconciling step run as the task's copy, and what the screens count.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/text.h"
#include "block/block.h"
#include "block/layering.h"
#include "block/registry.h"
#include "block/view.h"
#include "support.h"
#include "sys/sys.h"

namespace {

const std::string RESTR = "SOFTWARE\\Policies\\Microsoft\\Windows\\DeviceInstall\\Restrictions";
const std::string IDS = RESTR + "\\DenyInstanceIDs", MODELS = RESTR + "\\DenyDeviceIDs";
const std::string OURS = "SOFTWARE\\Quillfen";

std::u16string u(const std::string& s) {
    char16_t w[1024];
    utf16(s.c_str(), w, countof(w));
    return w;
}

struct BlockRules : ::testing::Test {
    qt::Machine m;
    std::string reg;
    BlockWant want;

    // A Windows 10 Pro whose task runs this copy, and these registry lines.
    void start(const std::string& lines) {
        m.dir = qt::fresh_dir();
        m.owned = true;
        m.exe = m.dir + "quillfen.exe";
        reg = m.dir + "registry.txt";
        const std::string version = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\t";
        qt::spit(reg, version + "CurrentBuildNumber\tsz\t19045\n" + version + "EditionID\tsz\tProfessional\n" + OURS +
                          "\tTaskCommand\tsz\t" + m.exe + "\n" + lines);
        m.lines = "registry\t" + reg + "\n";
        m.load();
    }
    // One step that wants these ids of each list.
    void sync(std::vector<std::string> ids, std::vector<std::string> models = {}) {
        memset(&want, 0, sizeof want);
        for (const std::string& id : ids) utf16(id.c_str(), want.list[0].id[want.list[0].n++], INST_UNITS);
        for (const std::string& id : models) utf16(id.c_str(), want.list[1].id[want.list[1].n++], INST_UNITS);
        block_sync(&want, BLOCK_AT_CONSOLE, RUNS_YES);
    }
    // The values of a key as the registry file holds them: "name=data ...".
    std::string values(const std::string& key) {
        std::string out, text = qt::slurp(reg);
        for (size_t at = 0, end; at < text.size(); at = end + 1) {
            end = text.find('\n', at);
            std::string line = text.substr(at, end - at);
            if (line.rfind(key + "\t", 0) != 0) continue;
            size_t name = key.size() + 1, type = line.find('\t', name), data = line.find('\t', type + 1) + 1;
            out += (out.empty() ? "" : " ") + line.substr(name, type - name) + "=" + line.substr(data);
        }
        return out;
    }
    // Another party's change: an administrator's, or a policy refresh.
    void set(const std::string& key, const std::string& name, const std::string& text) {
        ASSERT_TRUE(sys_reg_set_text(u(key).c_str(), u(name).c_str(), u(text).c_str(), SYS_REG_SZ));
    }
    void set_switch(uint32_t v) { ASSERT_TRUE(sys_reg_set_dword(u(RESTR).c_str(), u"DenyInstanceIDs", v)); }
    std::string mark(const std::string& name) {
        return (" " + values(OURS) + " ").find(" " + name + "=1 ") != std::string::npos ? "marked" : "none";
    }
};

TEST_F(BlockRules, AnAdministratorsValueIsNeverWrittenOverDeletedOrRenumbered) {
    start(RESTR + "\tDenyInstanceIDs\tdword\t1\n" + IDS + "\t1\tsz\tUSB\\ADMIN\n" + IDS + "\t3\tsz\tUSB\\BOTH\n");
    sync({"USB\\OURS", "USB\\BOTH"});
    EXPECT_EQ(values(IDS), "1=USB\\ADMIN 3=USB\\BOTH 4=USB\\OURS") << "ours under the next free number, no id twice";
    EXPECT_EQ(want.list[0].outcome[0], BLOCK_WRITTEN);
    set(IDS, "4", "USB\\NEW");  // a refresh put another id at our number
    sync({});
    EXPECT_EQ(values(IDS), "1=USB\\ADMIN 3=USB\\BOTH 4=USB\\NEW") << "the lift takes ours alone";
    EXPECT_EQ(values(OURS + "\\DenyInstanceIDs"), "") << "and its record";
    EXPECT_EQ(values(RESTR), "DenyInstanceIDs=1") << "the administrator's switch stays";
}

TEST_F(BlockRules, TheSwitchIsOursOnlyWhereAbsentOverOurValuesAndGoesBackOnlyWhileMarkedAndOn) {
    start("");
    sync({"USB\\A"});
    EXPECT_EQ(values(RESTR), "DenyInstanceIDs=1");
    EXPECT_EQ(mark("EnabledByQuillfen"), "marked");
    // A policy back to "not configured" took the switch: the list is ours alone.
    ASSERT_TRUE(sys_reg_delete_value(u(RESTR).c_str(), u"DenyInstanceIDs"));
    sync({"USB\\A"});
    EXPECT_EQ(values(RESTR), "DenyInstanceIDs=1") << "on again over our own value";
    sync({});
    EXPECT_EQ(values(RESTR) + values(IDS), "") << "back to not configured with our last value";
    EXPECT_EQ(mark("EnabledByQuillfen"), "none");

    set(IDS, "1", "USB\\ADMIN");
    sync({"USB\\A"});
    EXPECT_EQ(values(RESTR) + " " + values(IDS), " 1=USB\\ADMIN") << "an absent switch over another's value";
    EXPECT_EQ(want.list[0].outcome[0], BLOCK_FAILED);

    ASSERT_TRUE(sys_reg_delete_value(u(IDS).c_str(), u"1"));
    set_switch(0);
    sync({"USB\\A"});
    EXPECT_EQ(values(RESTR) + " " + values(IDS), "DenyInstanceIDs=0 ") << "an administrator's \"Disabled\"";

    ASSERT_TRUE(sys_reg_delete_value(u(RESTR).c_str(), u"DenyInstanceIDs"));
    sync({"USB\\A"});
    set_switch(0);  // the administrator's now, mark or not
    sync({});
    EXPECT_EQ(values(RESTR) + " " + values(IDS), "DenyInstanceIDs=0 ") << "only our value goes";
    EXPECT_EQ(mark("EnabledByQuillfen"), "none");
}

TEST_F(BlockRules, AValueTheListMayHaveTakenOverStaysAtItsEntrysEndAndIsNoted) {
    start("");
    sync({"USB\\A"});
    set(IDS, "1", "USB\\A");  // a policy refresh wrote the same id at our number
    sync({});
    EXPECT_EQ(values(IDS), "1=USB\\A");
    EXPECT_EQ(values(OURS + "\\DenyInstanceIDs"), "") << "its record goes";
    EXPECT_EQ(values(OURS + "\\DenyInstanceIDsKept"), "1=USB\\A");
    EXPECT_EQ(block_kept(), 1);
}

TEST_F(BlockRules, AValueCountsOnlyWhileTheSwitchIsOn) {
    start("");
    sync({"USB\\A"});
    EXPECT_EQ(block_count(BLOCK_INSTANCE_IDS), 1);
    EXPECT_TRUE(block_holds(BLOCK_INSTANCE_IDS, u"USB\\A"));
    set_switch(0);
    block_look();
    EXPECT_EQ(block_count(BLOCK_INSTANCE_IDS), 0);
    EXPECT_FALSE(block_holds(BLOCK_INSTANCE_IDS, u"USB\\A"));
    sync({"USB\\A"});
    EXPECT_EQ(want.list[0].outcome[0], BLOCK_NONE) << "the step says so too";
}

// An administrator's value of any name counts: one whose name is long is
// no failure to read the key, which would leave layering untold.
TEST_F(BlockRules, AKeyHoldsAValueWhateverItsNameIs) {
    const std::string allow = RESTR + "\\AllowDeviceIDs";
    EXPECT_EQ(0, key_has_values(u(allow).c_str()));
    set(allow, "Camera approved by the security team", "USB\\VID_1&PID_2");
    EXPECT_EQ(1, key_has_values(u(allow).c_str()));
}

TEST_F(BlockRules, BothListsAreKeptAlikeEachWithItsOwnSwitchAndMark) {
    start("");
    sync({"USB\\VID_1&PID_2\\S1"}, {"USB\\VID_1&PID_2"});
    EXPECT_EQ(values(IDS) + " " + values(MODELS), "1=USB\\VID_1&PID_2\\S1 1=USB\\VID_1&PID_2");
    EXPECT_NE(values(OURS + "\\DenyDeviceIDs").find("1=USB\\VID_1&PID_2\t"), std::string::npos) << "recorded";
    EXPECT_EQ(values(RESTR), "DenyInstanceIDs=1 DenyDeviceIDs=1");
    EXPECT_EQ(block_count(BLOCK_DEVICE_IDS), 1);
    sync({"USB\\VID_1&PID_2\\S1"});
    EXPECT_EQ(values(MODELS), "");
    EXPECT_EQ(values(RESTR), "DenyInstanceIDs=1") << "the model's switch goes, not the other";
    EXPECT_EQ(mark("EnabledByQuillfen") + mark("DeviceIDsEnabledByQuillfen"), "markednone");
}

}  // namespace

// An allow value written on a build that ignores layering would not spare
// the approved unit, and a build wrongly refused keeps an approval from ever
// sparing it: the thresholds are the update revisions that brought it.
TEST(Layering, OnlyTheBuildsAndRevisionsThatHonourIt) {
    struct { int64_t build, ubr; int ok; } cases[] = {
        {17763, 2144, 0}, {17763, 2145, 1}, {18362, 1713, 0}, {18362, 1714, 1}, {18363, 5000, 0},
        {19041, 1150, 0}, {19041, 1151, 1}, {19045, 1151, 1}, {19046, 9999, 0}, {20348, 255, 0},
        {20348, 256, 1},  {22000, 0, 1},    {26100, 0, 1},    {17134, 9999, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(layering_build_ok(c.build, c.ubr), c.ok) << c.build << "." << c.ubr;
}
