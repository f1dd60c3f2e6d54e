// The simulated machine decides a software device's install as Windows
// does ("Manage Device Installation with Group Policy"): the self-test's
// verdicts on Linux are only as good as this decision.
#include <gtest/gtest.h>

#include <string>

#include "base/text.h"
#include "support.h"
#include "sys/sys.h"

namespace {

const char16_t R[] = u"SOFTWARE\\Policies\\Microsoft\\Windows\\DeviceInstall\\Restrictions";

struct SoftwareDevices : ::testing::Test {
    qt::Machine m;
    void SetUp() override {
        m.dir = qt::fresh_dir();
        m.owned = true;
        m.lines = "registry\t" + m.dir + "registry\nrun\tpnputil\t0\n";
        m.load();
    }
    // A list value and its DWORD switch under the restrictions.
    void list(const char16_t* name, const char16_t* id, uint32_t on = 1, const char16_t* value = u"1") {
        std::u16string key = std::u16string(R) + u"\\" + name;
        ASSERT_TRUE(sys_reg_set_text(key.c_str(), value, id, SYS_REG_SZ));
        ASSERT_TRUE(sys_reg_set_dword(R, name, on));
    }
    // Plugs SWD\QFST\<instance> in with this hardware id; its slot.
    int plug(const char16_t* instance, const char16_t* hw = u"USB\\VID_1234&PID_5678\0") {
        int slot = -1;
        char16_t id[128];
        EXPECT_EQ(SYS_SWDEV_MADE, sys_swdev_create(u"QFST", instance, hw, u"test device", 1000, &slot, id, 128));
        return slot;
    }
    std::string state(const char16_t* instance) {
        std::u16string id = std::u16string(u"SWD\\QFST\\") + instance;
        sys_devset* s = sys_dev_open_id(id.c_str());
        if (!s) return "no record";
        uint32_t problem = 0;
        sys_dev_state st = sys_dev_state_of(s, &problem);
        sys_dev_close(s);
        return st == SYS_DEV_STARTED ? "installed" : st == SYS_DEV_PROBLEM ? "refused" : "not present";
    }
    void uninstall(const char16_t* instance) {
        std::u16string id = std::u16string(u"SWD\\QFST\\") + instance;
        sys_devset* s = sys_dev_open_id(id.c_str());
        ASSERT_TRUE(s);
        EXPECT_EQ(SYS_REMOVED, sys_dev_remove(s));
        sys_dev_close(s);
    }
};

TEST_F(SoftwareDevices, EachListRefusesOnlyUnderItsSwitch) {
    list(u"DenyInstanceIDs", u"swd\\qfst\\a");  // letter case aside
    list(u"DenyDeviceIDs", u"USB\\VID_1234&PID_5678", 0);
    plug(u"a");
    plug(u"b");
    EXPECT_EQ("refused", state(u"a"));
    EXPECT_EQ("installed", state(u"b")) << "DenyDeviceIDs is off";
    ASSERT_TRUE(sys_reg_set_dword(R, u"DenyDeviceIDs", 1));
    plug(u"c");
    plug(u"d", u"OTHER\\ID\0");
    EXPECT_EQ("refused", state(u"c"));
    EXPECT_EQ("installed", state(u"d"));
    // A compatible id counts as a hardware id does: Windows adds SWD\Generic.
    list(u"DenyDeviceIDs", u"SWD\\Generic");
    plug(u"e", u"OTHER\\ID\0");
    EXPECT_EQ("refused", state(u"e"));
}

TEST_F(SoftwareDevices, AnAllowedInstanceOutranksDeviceIdsOnlyWhenLayered) {
    list(u"DenyDeviceIDs", u"USB\\VID_1234&PID_5678");
    list(u"AllowInstanceIDs", u"SWD\\QFST\\a");
    plug(u"a");
    EXPECT_EQ("refused", state(u"a")) << "without layered evaluation every prevention wins";
    ASSERT_TRUE(sys_reg_set_dword(R, u"AllowDenyLayered", 1));
    plug(u"b");
    std::u16string allow = std::u16string(R) + u"\\AllowInstanceIDs";
    ASSERT_TRUE(sys_reg_set_text(allow.c_str(), u"2", u"SWD\\QFST\\b", SYS_REG_SZ));
    ASSERT_TRUE(sys_reg_set_text(allow.c_str(), u"3", u"SWD\\QFST\\c", SYS_REG_SZ));
    plug(u"c");
    list(u"DenyInstanceIDs", u"SWD\\QFST\\d");
    ASSERT_TRUE(sys_reg_set_text(allow.c_str(), u"4", u"SWD\\QFST\\d", SYS_REG_SZ));
    plug(u"d");
    EXPECT_EQ("refused", state(u"b")) << "b was plugged in before its allow";
    EXPECT_EQ("installed", state(u"c"));
    EXPECT_EQ("refused", state(u"d")) << "the instance ids' own prevention outranks their allow";
}

TEST_F(SoftwareDevices, AReturningRecordThatWasInstalledIsNotInstalledAgain) {
    int a = plug(u"a");
    list(u"DenyInstanceIDs", u"SWD\\QFST\\a");
    list(u"DenyInstanceIDs", u"SWD\\QFST\\b", 1, u"2");
    sys_swdev_close(a);
    EXPECT_EQ("not present", state(u"a"));
    a = plug(u"a");
    EXPECT_EQ("installed", state(u"a")) << "a block stops future installs only";
    sys_swdev_close(a);
    uninstall(u"a");
    plug(u"a");
    EXPECT_EQ("refused", state(u"a")) << "a new record meets the block";
    int b = plug(u"b");
    sys_swdev_close(b);
    plug(u"b");
    EXPECT_EQ("refused", state(u"b")) << "a record never installed is decided again";
    // Lifted, a rescan installs the refused devices still there.
    ASSERT_TRUE(sys_reg_set_dword(R, u"DenyInstanceIDs", 0));
    int code = -1;
    ASSERT_EQ(SYS_RUN_EXITED, sys_run(u"C:\\Windows\\system32\\pnputil.exe",
                                      u"C:\\Windows\\system32\\pnputil.exe /scan-devices", u".", 1000, &code));
    EXPECT_EQ("installed", state(u"a"));
    EXPECT_EQ("installed", state(u"b"));
}

}  // namespace
