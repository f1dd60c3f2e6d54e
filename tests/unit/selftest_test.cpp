// What the self-test reads back must be what was written: the journal puts
// every saved value back byte for byte, and a JSON member is read from the
// object that names the device, never from another one's.
#include <gtest/gtest.h>

#include <string>

#include "base/text.h"
#include "selftest/journal.h"
#include "selftest/keys.h"
#include "selftest/quillfen.h"
#include "support.h"
#include "sys/sys.h"

namespace {

std::u16string u16(const std::string& s) {
    char16_t buf[1024];
    utf16(s.c_str(), buf, 1024);
    return buf;
}

struct JournalFile : ::testing::Test {
    qt::Machine m;
    std::u16string path;
    void SetUp() override {
        m.load();
        path = u16(m.dir + "quillfen-selftest.journal");
        trees_forget();
    }
};

TEST_F(JournalFile, SavedValuesComeBackAsTheyWere) {
    const char* odd = "USB\\VID_1\\A\t C:\\qf\\blacklist.tsv\nx\r\\t\\";
    ASSERT_TRUE(saved_key("SOFTWARE\\Quillfen"));
    ASSERT_TRUE(saved_value("SOFTWARE\\Quillfen\\DenyInstanceIDs", "1", SYS_REG_SZ, odd));
    ASSERT_TRUE(saved_value("SOFTWARE\\Quillfen", "EnabledByQuillfen", SYS_REG_DWORD, "4294967295"));
    ASSERT_TRUE(saved_value("SOFTWARE\\Quillfen", "Path", SYS_REG_EXPAND_SZ, "%SystemRoot%\\x"));
    static Tree was;  // megabytes: not on the stack
    was = trees_saved();
    ASSERT_TRUE(journal_begin(path.c_str(), "0A1B2C3D", 2));
    ASSERT_TRUE(journal_note(path.c_str(), "id", "SWD\\QFST0A1B2C3D\\canary"));
    ASSERT_TRUE(journal_note(path.c_str(), "device", "SWD\\QFST0A1B2C3D\\canary"));
    ASSERT_TRUE(journal_note(path.c_str(), "task", "ours"));
    ASSERT_TRUE(journal_note(path.c_str(), "name", "qfst0a1b2c3d task"));
    ASSERT_TRUE(journal_lifted(path.c_str(), "id", "SWD\\QFST0A1B2C3D\\canary"));
    trees_forget();
    Journal j;
    ASSERT_EQ(1, journal_read(path.c_str(), &j));
    EXPECT_STREQ("0A1B2C3D", j.nonce);
    EXPECT_EQ(2, j.audit);
    EXPECT_TRUE(j.whole && j.task_ours);
    ASSERT_EQ(1, j.nrules) << "the lifted rule is not lifted again; a device is no rule";
    EXPECT_STREQ("name", j.rules[0].kind);
    ASSERT_EQ(was.n, trees_saved().n);
    ASSERT_EQ(1, trees_saved().nkeys);
    for (int i = 0; i < was.n; i++) {
        EXPECT_STREQ(was.v[i].key, trees_saved().v[i].key);
        EXPECT_STREQ(was.v[i].name, trees_saved().v[i].name);
        EXPECT_EQ(was.v[i].type, trees_saved().v[i].type);
        EXPECT_STREQ(was.v[i].data, trees_saved().v[i].data);
    }
}

TEST_F(JournalFile, AValueThatCannotBeSavedWholeStopsTheRun) {
    std::u16string path16(1200, u'\u6444');  // 1,200 CJK units: 3,600 bytes of UTF-8
    ASSERT_TRUE(sys_reg_set_text(u"SOFTWARE\\Quillfen", u"InstallPath", path16.c_str(), SYS_REG_SZ));
    EXPECT_EQ(TREE_TOO_BIG, trees_save()) << "cut short, it would be put back as another value";
    path16.resize(900);
    ASSERT_TRUE(sys_reg_set_text(u"SOFTWARE\\Quillfen", u"InstallPath", path16.c_str(), SYS_REG_SZ));
    EXPECT_EQ(TREE_OK, trees_save());
}

TEST_F(JournalFile, OneCutBeforeTheSavedTreesEndsChangedNothing) {
    qt::spit(m.dir + "quillfen-selftest.journal", "quillfen-selftest journal 1\nnonce\t0A1B2C3D\nvalue\tSOFTWARE\\Quillfen\tx");
    Journal j;
    ASSERT_EQ(1, journal_read(path.c_str(), &j));
    EXPECT_FALSE(j.whole);
    EXPECT_EQ(0, trees_saved().n) << "a line cut short is no line";
    qt::spit(m.dir + "quillfen-selftest.journal", "something else\n");
    EXPECT_EQ(-1, journal_read(path.c_str(), &j)) << "a file that is no journal is not undone";
    ASSERT_TRUE(journal_begin(u16(m.dir + "other").c_str(), "X", -1));
    EXPECT_FALSE(journal_begin(u16(m.dir + "other").c_str(), "Y", -1)) << "a journal standing is never written over";
}

// As --blist --json writes it: ids with escaped backslashes, a nested
// object with a member of the same name, a null reason.
const char DOC[] =
    R"({"version":1,"entries":[{"kind":"id","instance_id":"SWD\\QFST\\canary","install_blocked":true,)"
    R"("inner":{"install_blocked":false}},{"kind":"model","model_id":"USB\\VID_1&PID_2","model_blocked":false,)"
    R"("model_block_reason":"build"},{"kind":"model","model_id":"USB\\VID_3","model_blocked":true,)"
    R"("model_block_reason":null}],"approved":[]})";

TEST(JsonPeek, ReadsTheMembersOfTheObjectThatNamesTheDevice) {
    const char* end;
    const char* obj = peek_object(DOC, "instance_id", "swd\\qfst\\CANARY", &end);
    ASSERT_TRUE(obj);
    EXPECT_EQ(1, peek_bool(obj, end, "install_blocked")) << "its own member, not the nested object's";
    char reason[32];
    obj = peek_object(DOC, "model_id", "USB\\VID_1&PID_2", &end);
    ASSERT_TRUE(obj);
    EXPECT_EQ(0, peek_bool(obj, end, "model_blocked"));
    EXPECT_EQ(1, peek_text(obj, end, "model_block_reason", reason, sizeof reason));
    EXPECT_STREQ("build", reason);
    obj = peek_object(DOC, "model_id", "USB\\VID_3", &end);
    ASSERT_TRUE(obj);
    EXPECT_EQ(0, peek_text(obj, end, "model_block_reason", reason, sizeof reason));
    EXPECT_EQ(-1, peek_bool(obj, end, "layering_set"));
    EXPECT_FALSE(peek_object(DOC, "model_id", "USB\\VID_1", &end)) << "an id is matched whole, never as a prefix";
}

}  // namespace
