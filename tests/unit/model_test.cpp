// The model id a by-name entry blocks: real-looking hardware-id lists, as
// Windows reports them, most specific first.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "local/modelfile.h"
#include "local/models.h"
#include "local/rulefile.h"
#include "device/model.h"
#include "support.h"

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
    ModelRead r = model_parse(text.data(), text.size(), back, 8);
    ASSERT_EQ(r.n, 2);
    EXPECT_EQ(r.bad, 3);
    EXPECT_EQ(r.first_bad, 4);
    EXPECT_STREQ(back[0].model, "USB\\VID_1&PID_2&MI_00");
    EXPECT_EQ(back[0].verdict, MODEL_OK);
    EXPECT_STREQ(back[1].inst, "HID\\X\\1");
    EXPECT_EQ(back[1].verdict, MODEL_SHARED);
}

}  // namespace

namespace {

// An administrator may edit the file; what goes from it into Windows' policy
// must be what a choice of the model would have given.
TEST(ModelFile, ALineIsAModelOnlyAsAChoiceWouldHaveMadeIt) {
    struct {
        const char* lines;
        int models, bad;
    } cases[] = {
        {"I\\1\tUSB\\VID_1&PID_2\tok\r\n", 1, 0},
        {"I\\1\tUSB\\Class_0E\tok\r\n", 0, 1},                  // a class: every camera
        {"I\\1\tUSB\\COMPOSITE\tok\r\n", 0, 1},                 // compatible only
        {"I\\1\tUSB\\VID_1&PID_2 \tok\r\n", 0, 1},              // Windows would match the space too
        {"I\\1\tUSB\\VID_1&PID_2&REV_01\tok\r\n", 0, 1},        // one revision only
        {"I\\1\tUSB\\VID_1&PID_2\vX\tok\r\n", 0, 1},            // a control character
        {"I\\1\tUSB\\VID_1&PID_2\tshared\r\ni\\1\tUSB\\VID_1&PID_3\tok\r\n", 0, 2},  // which one?
        {"\xEF\xBB\xBFI\\1\tUSB\\VID_1&PID_2\tok\r\n", 1, 0},   // a byte-order mark
    };
    for (const auto& c : cases) {
        std::string text = std::string("# Quillfen header\r\n\r\n") + c.lines;
        if (text.find('\xEF') != std::string::npos) text = c.lines;
        BlacklistModel back[4];
        ModelRead r = model_parse(text.data(), text.size(), back, 4);
        EXPECT_EQ(r.n, c.models) << c.lines;
        EXPECT_EQ(r.bad, c.bad) << c.lines;
    }
}

// Windows would match an id's spaces too: a rules-file id that ends in one
// is a bad line, never a rule that can never match.
TEST(RuleFile, AnIdEndingInASpaceIsABadLine) {
    const std::string text = "1\tmodel\tUSB\\VID_1&PID_2 \tok\tcam\r\n"
                             "1\tapprove-id\tUSB\\VID_1&PID_2\\1 \t-\tcam\r\n"
                             "1\tapprove-id\tUSB\\VID_1&PID_2\\1\t-\tcam\r\n";
    Rule back[4];
    RuleRead r = rule_parse(text.data(), text.size(), back, 4);
    EXPECT_EQ(r.n, 1);
    EXPECT_EQ(r.bad, 2);
    EXPECT_STREQ(back[0].id, "USB\\VID_1&PID_2\\1");
}

}  // namespace

namespace {

// Windows would refuse every device holding the model among its ids: one
// whose lists cannot be read whole may hold it, so the model is not blocked.
TEST(ModelCheck, AnotherDevicesListThatCannotBeReadWholeLeavesTheModelUnknown) {
    const std::string model = "USB\\VID_2B7E&PID_0136&MI_00";
    struct {
        std::string compat, fail;
        model_verdict verdict;
    } cases[] = {
        {model + ";USB\\Class_03", "", MODEL_SHARED},
        {model + ";" + qt::rep("USB\\Class_03&SubClass_01;", 700), "", MODEL_UNKNOWN},  // 17,000 units
        {model + ";USB\\Class_03", "fail\tsys_dev_ids\t2\n", MODEL_UNKNOWN},  // the input device's compatible ids
    };
    for (const auto& c : cases) {
        qt::Machine m;
        m.lines = c.fail + "dev\t1\tSmart Camera\t\tCamera\tUSB\\C\\1\t\t" + model + "\n" +
                  "dev\t1\tUSB Input Device\t\tHIDClass\tHID\\K\\1\t\tHID\\VID_1&PID_2\t" + c.compat + "\n";
        m.load();
        DeviceEntry d{};
        std::u16string inst = u"USB\\C\\1";
        std::copy(inst.begin(), inst.end(), d.inst);
        HardwareIds hw{};
        std::u16string ids = multi(u"USB\\VID_2B7E&PID_0136&MI_00");
        std::copy(ids.begin(), ids.end(), hw.ids);
        hw.read = SYS_READ_OK;
        BlacklistEntry coming = qt::entry(qt::T0 + 3600, 1, "smart camera", "USB\\C\\1", "Camera");
        ModelCheck out;
        bl_model_check(bl_book(), d, hw, coming, &out);
        EXPECT_EQ(out.verdict, c.verdict) << c.fail << c.compat.size();
    }
}

}  // namespace

namespace {

std::u16string parent_of(const std::u16string& model) {
    char16_t out[512];
    return model_parent_id(model.c_str(), out, 512) ? out : u"<none>";
}

// A camera is often one function of a composite device, beside a
// microphone: Windows blocks the device whole only by the composite
// device's own id (Standard USB identifiers).
TEST(CompositeIds, AFunctionsModelCarriesItsCompositeDevicesIdNeverAHubs) {
    EXPECT_EQ(parent_of(u"USB\\VID_2B7E&PID_0136&MI_00"), u"USB\\VID_2B7E&PID_0136");
    EXPECT_EQ(parent_of(u"usb\\vid_1bcf&pid_2c9a&mi_02"), u"usb\\vid_1bcf&pid_2c9a");
    EXPECT_EQ(parent_of(u"USB\\VID_046D&PID_0825"), u"<none>");  // no interface: the device itself
    EXPECT_EQ(parent_of(u"HID\\VID_046D&PID_C52B&MI_00&Col01"), u"<none>");  // its parent is no composite device
    EXPECT_TRUE(composite_parent(multi(u"USB\\VID_2B7E&PID_0136&REV_0100|USB\\VID_2B7E&PID_0136").c_str(),
                                 multi(u"USB\\DevClass_00&SubClass_00&Prot_00|USB\\DevClass_00|USB\\COMPOSITE").c_str()));
    EXPECT_FALSE(composite_parent(multi(u"USB\\ROOT_HUB30&VID_8086&PID_A36D|USB\\ROOT_HUB30").c_str(),
                                  multi(u"USB\\COMPOSITE").c_str()));
    EXPECT_FALSE(composite_parent(multi(u"USB\\VID_05E3&PID_0610&REV_9364|USB\\VID_05E3&PID_0610").c_str(),
                                  multi(u"USB\\DevClass_09&SubClass_00|USB\\DevClass_09|USB\\COMPOSITE").c_str()));
    EXPECT_FALSE(composite_parent(multi(u"USB\\VID_046D&PID_0825&REV_0010|USB\\VID_046D&PID_0825").c_str(),
                                  multi(u"USB\\Class_0E&SubClass_01|USB\\Class_0E").c_str()));
}

}  // namespace

namespace {

// Windows matches the list's strings whole; so does a model rule.
TEST(ModelRule, AHardwareIdReachesOnlyTheWholeStringLetterCaseAside) {
    std::u16string function = multi(u"USB\\VID_2B7E&PID_0136&REV_0100&MI_00|USB\\VID_2B7E&PID_0136&MI_00");
    EXPECT_TRUE(ids_hold(function.c_str(), u"usb\\vid_2b7e&pid_0136&mi_00"));
    EXPECT_FALSE(ids_hold(function.c_str(), u"USB\\VID_2B7E&PID_0136"));     // the composite device's: another id
    EXPECT_FALSE(ids_hold(function.c_str(), u"USB\\VID_2B7E&PID_0136&MI_0"));  // no prefix
    EXPECT_TRUE(rule_model_ok("USB\\VID_2B7E&PID_0136"));
    for (const char* bad : {"USB\\Class_0E", "USB\\COMPOSITE", " USB\\VID_2B7E&PID_0136", "USB\\VID_2B7E&PID_0136&REV_01",
                            "USB\\VID_2B7E&PID_0136\x01", ""})
        EXPECT_FALSE(rule_model_ok(bad)) << bad;
    EXPECT_FALSE(rule_model_ok(("USB\\VID_2B7E&PID_0136&" + std::string(190, 'X')).c_str()));  // past 200
    // A unit is enumerator, device id and instance; a device id alone is a model.
    EXPECT_TRUE(rule_instance_ok("USB\\VID_2B7E&PID_0136\\5&1&0&3"));
    for (const char* bad : {"USB\\VID_2B7E&PID_0136", "\\USB\\X\\1", "USB\\X\\1\\", "USB\\X\\1\x02"})
        EXPECT_FALSE(rule_instance_ok(bad)) << bad;
}

}  // namespace

namespace {

// The pass reads id lists only of devices whose instance id could carry the
// model: the product too where the id names one, the vendor alone elsewhere.
TEST(ModelRule, ThePrefixNamesTheProductWhereTheBusGivesOne) {
    char16_t p[64];
    EXPECT_EQ(model_product_prefix(u"USB\\VID_2B7E&PID_0136&MI_00", p, 64), 2);
    EXPECT_EQ(std::u16string(p), u"USB\\VID_2B7E&PID_0136");
    EXPECT_EQ(model_product_prefix(u"PCI\\VEN_8086&DEV_A0F0", p, 64), 2);
    EXPECT_EQ(std::u16string(p), u"PCI\\VEN_8086&DEV_A0F0");
    EXPECT_EQ(model_product_prefix(u"HID\\VID_046D&UP:0001_U:0006", p, 64), 1);  // a usage page, not a product
    EXPECT_EQ(std::u16string(p), u"HID\\VID_046D&");
    EXPECT_EQ(model_product_prefix(u"USB\\VID_2B7E&PID_", p, 64), 1);
    EXPECT_EQ(model_product_prefix(u"ACPI\\PNP0303", p, 64), 0);
}

}  // namespace
