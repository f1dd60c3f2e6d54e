// The model id a by-name entry blocks: real-looking hardware-id lists, as
// Windows reports them, most specific first.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "blacklist/modelfile.h"
#include "device/model.h"

namespace {

// A multi-string from texts separated by '|'.
std::u16string multi(const std::u16string& s) {
    std::u16string m;
    for (char16_t c : s) m += c == u'|' ? u'\0' : c;
    return m + u'\0' + u'\0';
}

std::u16string model_of(const std::u16string& list) {
    std::u16string m = multi(list);
    char16_t out[512];
    if (!model_id(m.c_str(), out, 512)) return u"<none>";
    return out;
}

TEST(ModelId, TheFirstIdNamingVendorAndProductWithoutARevision) {
    // A USB composite device's interface: the revision goes, MI_ stays.
    EXPECT_EQ(model_of(u"USB\\VID_2B7E&PID_0136&REV_0100&MI_00|USB\\VID_2B7E&PID_0136&MI_00"),
              u"USB\\VID_2B7E&PID_0136&MI_00");
    // USB without MI_.
    EXPECT_EQ(model_of(u"USB\\VID_046D&PID_0825&REV_0010|USB\\VID_046D&PID_0825"), u"USB\\VID_046D&PID_0825");
    // HID, with its collection, as listed; the usage-page ids name no product.
    EXPECT_EQ(model_of(u"HID\\VID_046D&PID_C52B&REV_1200&MI_00&Col01|HID\\VID_046D&PID_C52B&MI_00&Col01|"
                       u"HID\\VID_046D&UP:0001_U:0006|HID_DEVICE_SYSTEM_KEYBOARD"),
              u"HID\\VID_046D&PID_C52B&MI_00&Col01");
    // PCI: only with SUBSYS_, which names the board as well as the chip.
    EXPECT_EQ(model_of(u"PCI\\VEN_8086&DEV_15BC&SUBSYS_08B11028&REV_10|PCI\\VEN_8086&DEV_15BC&SUBSYS_08B11028|"
                       u"PCI\\VEN_8086&DEV_15BC&CC_020000"),
              u"PCI\\VEN_8086&DEV_15BC&SUBSYS_08B11028");
    EXPECT_EQ(model_of(u"PCI\\VEN_8086&DEV_15BC&REV_10|PCI\\VEN_8086&DEV_15BC"), u"<none>");
    // Letter case as Windows may report it.
    EXPECT_EQ(model_of(u"usb\\vid_1bcf&pid_2c9a"), u"usb\\vid_1bcf&pid_2c9a");
}

TEST(ModelId, CompatibleIdsAndEmptyPartsNameNoModel) {
    // They would reach devices of every maker.
    EXPECT_EQ(model_of(u"USB\\Class_0E&SubClass_01&Prot_00|USB\\Class_0E|USB\\COMPOSITE"), u"<none>");
    EXPECT_EQ(model_of(u"USB\\VID_&PID_0136|VID_1\\PID_2|\\VID_1&PID_2"), u"<none>");
    EXPECT_EQ(model_of(u""), u"<none>");
}

}  // namespace

namespace {

TEST(ModelFile, ReadsBackWhatItWritesAndSkipsLinesThatAreNoModel) {
    BlacklistModel t[2] = {};
    strcpy(t[0].inst, "USB\\VID_1&PID_2\\6&3C&0&0000");
    strcpy(t[0].model, "USB\\VID_1&PID_2&MI_00");
    t[0].verdict = MODEL_OK;
    strcpy(t[1].inst, "HID\\X\\1");
    strcpy(t[1].model, "HID\\VID_1&PID_2");
    t[1].verdict = MODEL_SHARED;
    char bytes[4096];
    size_t n = model_format(t, 2, bytes, sizeof bytes);
    // Hand edits: a verdict nobody knows, a field missing, one too many.
    std::string text = std::string(bytes, n) + "A\\1\tA\\M\tmaybe\r\nB\\1\tok\r\nC\\1\tC\\M\tok\textra\r\n";
    BlacklistModel back[8];
    ASSERT_EQ(model_parse(text.data(), text.size(), back, 8), 2);
    EXPECT_STREQ(back[0].model, "USB\\VID_1&PID_2&MI_00");
    EXPECT_EQ(back[0].verdict, MODEL_OK);
    EXPECT_STREQ(back[1].inst, "HID\\X\\1");
    EXPECT_EQ(back[1].verdict, MODEL_SHARED);
}

}  // namespace
