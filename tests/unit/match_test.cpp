// The one rule by which a blacklist entry reaches a device.
#include <gtest/gtest.h>

#include "blacklist/match.h"
#include "support.h"

namespace {

using qt::entry;

TEST(BlMatch, InstanceRuleIgnoresAsciiCaseOnly) {
    BlacklistEntry e = entry(1, 0, "smart camera", "USB\\VID_0000&PID_0000\\1", "");
    EXPECT_EQ(bl_match(e, "usb\\vid_0000&pid_0000\\1", "whatever", 0), BL_BY_ID);
    EXPECT_FALSE(bl_match(e, "usb\\vid_0000&pid_0000\\10", "smart camera", 0));  // byname 0
    EXPECT_FALSE(bl_match(e, "usb\\vid_0000&pid_0000\\", "smart camera", 0));
    BlacklistEntry u = entry(1, 0, "", "USB\\É", "");
    EXPECT_FALSE(bl_match(u, "usb\\é", "", 0));  // only A-Z fold
}

TEST(BlMatch, NameRuleNeedsBynameAndANonEmptyName) {
    BlacklistEntry e = entry(1, 1, "usb camera", "X\\1", "");
    EXPECT_TRUE(bl_match(e, "usb\\2", "usb camera", 0));
    EXPECT_TRUE(bl_match(e, "usb\\3", "usb camera (2)", 0));
    EXPECT_TRUE(bl_match(e, "usb\\3", "my usb camera", 0));
    EXPECT_FALSE(bl_match(e, "usb\\3", "usb cam", 0));
    EXPECT_FALSE(bl_match(e, "usb\\3", "usb  camera", 0));
    e.byname = 0;
    EXPECT_FALSE(bl_match(e, "usb\\2", "usb camera", 0));
    e.byname = INT32_MIN;  // any non-zero value counts
    EXPECT_TRUE(bl_match(e, "usb\\2", "usb camera", 0));
    BlacklistEntry nameless = entry(1, 1, "", "X\\1", "");
    EXPECT_FALSE(bl_match(nameless, "usb\\2", "anything", 0));
    EXPECT_TRUE(bl_match(nameless, "x\\1", "anything", 0));
    // An empty id names no device, not every device whose id is unreadable.
    BlacklistEntry idless = entry(1, 0, "", "", "");
    EXPECT_FALSE(bl_match(idless, "", "smart camera", 0));
    BlacklistEntry zh = entry(1, 1, "摄像头", "Z", "");
    EXPECT_EQ(bl_match(zh, "q", "智能摄像头 hd", 0), BL_BY_NAME);
}

TEST(BlMatch, ABuiltInDeviceIsReachedByItsIdOnly) {
    BlacklistEntry e = entry(1, 1, "smart cam", "ROOT\\CAM\\0", "");
    EXPECT_EQ(bl_match(e, "root\\other\\0", "smart cam", 1), BL_NO_HIT);
    EXPECT_EQ(bl_match(e, "root\\cam\\0", "smart cam", 1), BL_BY_ID);
    EXPECT_EQ(bl_match(e, "usb\\1", "smart cam", 0), BL_BY_NAME);
}

}  // namespace
