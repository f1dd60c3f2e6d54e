// Keyword match, the custom keyword and built-in classification, and the
// scan that applies them to the machine's device list.
#include <gtest/gtest.h>

#include <string>

#include "base/text.h"
#include "device/scan.h"
#include "support.h"

namespace {

using qt::rep;

// name_matches is given a lower-cased name, as the scan does.
int matches(const char16_t* name) {
    char16_t low[512];
    wcopy_zero(low, name, 511);
    low[511] = 0;
    lowerw(low);
    return name_matches(low);
}

class Keyword : public ::testing::Test {
protected:
    void SetUp() override { g_key[0] = 0; }
    void TearDown() override { g_key[0] = 0; }
};

TEST_F(Keyword, DefaultKeywords) {
    EXPECT_TRUE(matches(u"Smart Camera"));
    EXPECT_TRUE(matches(u"SMART-CAMARA X1"));
    EXPECT_TRUE(matches(u"xSmartCamera"));
    EXPECT_TRUE(matches(u"智能摄像头"));
    EXPECT_TRUE(matches(u"智能摄像机"));
    EXPECT_TRUE(matches(u"某某智慧摄像机"));
    EXPECT_FALSE(matches(u"智慧摄像头"));
    EXPECT_FALSE(matches(u"USB WebCam"));
    EXPECT_FALSE(matches(u"Realtek Audio"));
    EXPECT_FALSE(matches(u""));
}

TEST_F(Keyword, FallbackPairAnywhereInEitherOrder) {
    EXPECT_TRUE(matches(u"HD Camera for Smart TV"));
    EXPECT_TRUE(matches(u"smart-cam"));
    EXPECT_TRUE(matches(u"CAMsmart"));
    EXPECT_FALSE(matches(u"Smar tCam"));
    EXPECT_FALSE(matches(u"smart speaker"));
    EXPECT_FALSE(matches(u"ca m smart"));
}

TEST_F(Keyword, CustomKeywordReplacesTheDefaults) {
    set_key("WebCAM");
    EXPECT_EQ(std::u16string(g_key), u"webcam");
    EXPECT_TRUE(matches(u"USB WebCam"));
    EXPECT_FALSE(matches(u"Smart Camera"));
    EXPECT_FALSE(matches(u"HD Camera for Smart TV"));

    set_key(" cam ");  // blanks are part of the keyword
    EXPECT_TRUE(matches(u"usb cam 2"));
    EXPECT_FALSE(matches(u"usb cam"));

    set_key("");
    EXPECT_EQ(g_key[0], 0);
    EXPECT_TRUE(matches(u"Smart Camera"));
}

TEST_F(Keyword, SetKeyLowersOnlyAsciiLetters) {
    set_key("ÄÖ摄像ABC-Z");
    EXPECT_EQ(std::u16string(g_key), u"ÄÖ摄像abc-z");
}

TEST_F(Keyword, LongKeywordsKeepTheLongestWholePrefix) {
    set_key(rep("摄", 300).c_str());
    EXPECT_EQ(wlen(g_key), 127u);
    EXPECT_EQ(g_key[127], 0);
    EXPECT_EQ(g_key[126], u'摄');

    // Astral characters: 63 pairs fit, the 64th would need unit 127.
    set_key(rep("😀", 100).c_str());
    EXPECT_EQ(wlen(g_key), 126u);
    EXPECT_EQ(g_key[124], 0xD83D);
    EXPECT_EQ(g_key[125], 0xDE00);

    set_key((rep("A", 126) + "😀").c_str());
    EXPECT_EQ(std::u16string(g_key), std::u16string(126, u'a'));

    // A shorter key afterwards leaves nothing of the long one behind.
    set_key("Cam");
    EXPECT_EQ(std::u16string(g_key), u"cam");
}

TEST(Builtin, ClassNames) {
    EXPECT_EQ(is_builtin(u"USBDevice", u"USB\\VID_1234&PID_0001\\1"), 1);
    EXPECT_EQ(is_builtin(u"Net", u"PCI\\VEN_8086"), 1);
    EXPECT_EQ(is_builtin(u"Volume", u"STORAGE\\VOLUME\\1"), 1);
    EXPECT_EQ(is_builtin(u"System", u"PCI\\VEN_8086"), 1);
    EXPECT_EQ(is_builtin(u"SCSIAdapter", u"x"), 1);
    EXPECT_EQ(is_builtin(u"HDC", u"x"), 1);
    EXPECT_EQ(is_builtin(u"NetService", u"x"), 1);  // substring, not equality
    EXPECT_EQ(is_builtin(u"Camera", u"USB\\VID_046D&PID_0825\\1"), 0);
    EXPECT_EQ(is_builtin(u"Image", u"USB\\VID_04A9\\5"), 0);
    EXPECT_EQ(is_builtin(u"HIDClass", u"HID\\VID_1"), 0);
    EXPECT_EQ(is_builtin(u"", u""), 0);
}

TEST(Builtin, InstanceIdMarkers) {
    EXPECT_EQ(is_builtin(u"Image", u"ROOT\\IMAGE\\0000"), 1);
    EXPECT_EQ(is_builtin(u"", u"ACPI\\PNP0C0A\\1"), 1);
    EXPECT_EQ(is_builtin(u"Camera", u"acpi\\INT33A0\\0"), 1);
    EXPECT_EQ(is_builtin(u"Camera", u"USB\\VID_1\\PNP0X"), 1);  // infix anywhere
    // The prefixes count only at the start and only with their backslash.
    EXPECT_EQ(is_builtin(u"Camera", u"SWD\\ACPI\\X"), 0);
    EXPECT_EQ(is_builtin(u"Camera", u"XROOT\\IMAGE"), 0);
    EXPECT_EQ(is_builtin(u"Camera", u"ROOT_IMAGE\\0"), 0);
    EXPECT_EQ(is_builtin(u"Camera", u"ACPI"), 0);
    EXPECT_EQ(is_builtin(u"Camera", u"USB\\PNP1\\0"), 0);
}

// ---- scan over a simulated machine -------------------------------------------------

class Scan : public ::testing::Test {
protected:
    qt::Machine m;
    uint32_t err = 0;
    void SetUp() override {
        g_key[0] = 0;
        g_n = 0;
    }
    void TearDown() override { g_key[0] = 0; }
};

TEST_F(Scan, KeepsMatchesInEnumerationOrderWithTheirTexts) {
    m.dev(1, "Smart Camera", "", "Camera", "USB\\VID_0000&PID_0000\\1");
    m.dev(1, "Realtek Audio", "", "MEDIA", "HDAUDIO\\FUNC_01\\1");
    m.dev(0, "", "HD Camera for Smart TV", "Image", "ROOT\\IMAGE\\0000");  // no friendly name
    m.dev(1, "智能摄像头", "ignored description", "USBDevice", "USB\\VID_1\\2");
    m.load();
    ASSERT_TRUE(scan(SCAN_ALL, &err));
    ASSERT_EQ(g_n, 3);
    EXPECT_EQ(std::u16string(g_dev[0].name), u"Smart Camera");  // case kept
    EXPECT_EQ(std::u16string(g_dev[0].cls), u"Camera");
    EXPECT_EQ(std::u16string(g_dev[0].inst), u"USB\\VID_0000&PID_0000\\1");
    EXPECT_EQ(g_dev[0].present, 1);
    EXPECT_EQ(g_dev[0].builtin, 0);
    EXPECT_EQ(std::u16string(g_dev[1].name), u"HD Camera for Smart TV");
    EXPECT_EQ(g_dev[1].present, 0);
    EXPECT_EQ(g_dev[1].builtin, 1);
    EXPECT_EQ(std::u16string(g_dev[2].name), u"智能摄像头");
    EXPECT_EQ(g_dev[2].builtin, 1);

    ASSERT_TRUE(scan(SCAN_PRESENT, &err));  // present devices only
    ASSERT_EQ(g_n, 2);
    EXPECT_EQ(std::u16string(g_dev[1].name), u"智能摄像头");
}

TEST_F(Scan, NamelessDevicesNeedAnIdAndMatchAll) {
    m.dev(1, "", "", "System", "ACPI\\FIXEDBUTTON\\2");
    m.dev(1, "", "", "System", "");
    m.dev(1, "Smart Cam", "", "", "");
    m.load();
    ASSERT_TRUE(scan(SCAN_ALL, &err));
    ASSERT_EQ(g_n, 1);
    EXPECT_EQ(std::u16string(g_dev[0].name), u"Smart Cam");
    ASSERT_TRUE(scan(SCAN_ALL | SCAN_MATCH_ALL, &err));
    ASSERT_EQ(g_n, 2);
    EXPECT_EQ(std::u16string(g_dev[0].inst), u"ACPI\\FIXEDBUTTON\\2");
    EXPECT_EQ(g_dev[0].name[0], 0);
}

TEST_F(Scan, RescanReplacesFieldsWhole) {
    m.dev(0, "A very long smart camera name", "", "VeryLongClassName", "USB\\VERY\\LONG\\ID\\0001");
    m.dev(1, "smart", "", "X", "Y");
    m.load();
    ASSERT_TRUE(scan(SCAN_ALL | SCAN_MATCH_ALL, &err));
    ASSERT_EQ(g_n, 2);
    ASSERT_TRUE(scan(SCAN_MATCH_ALL, &err));  // the short entry now lands in slot 0
    ASSERT_EQ(g_n, 1);
    EXPECT_EQ(std::u16string(g_dev[0].name), u"smart");
    EXPECT_EQ(std::u16string(g_dev[0].cls), u"X");
    EXPECT_EQ(std::u16string(g_dev[0].inst), u"Y");
    EXPECT_EQ(g_dev[0].present, 1);
    for (int i = 5; i < 512; i++) ASSERT_EQ(g_dev[0].name[i], 0) << i;
    for (int i = 1; i < 512; i++) ASSERT_EQ(g_dev[0].inst[i], 0) << i;
}

// What does not fit is counted, so that the list can say it is not whole.
TEST_F(Scan, StopsAtTheTableCapacityAndCountsTheRest) {
    for (int i = 0; i < DEV_MAX + 50; i++)
        m.dev(1, "Dev " + std::to_string(i), "", "USB", "USB\\D\\" + std::to_string(i));
    m.load();
    ASSERT_TRUE(scan(SCAN_ALL | SCAN_MATCH_ALL, &err));
    ASSERT_EQ(g_n, DEV_MAX);
    EXPECT_EQ(std::u16string(g_dev[DEV_MAX - 1].name), u"Dev 1999");
    EXPECT_EQ(g_matched, DEV_MAX + 50);
}

}  // namespace
