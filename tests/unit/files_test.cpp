// The data files: where they go, one log line per event whatever a device
// calls itself, and the permission list the files are created with.
#include <gtest/gtest.h>

#include <string>

#include "base/security.h"
#include "files/datafile.h"
#include "log/log.h"
#include "support.h"

namespace {

std::u16string path_of(const char* file) {
    char16_t out[PATH_UNITS];
    if (!data_path(out, PATH_UNITS, file)) return u"<none>";
    return out;
}

TEST(DataPath, BesideTheExecutableOrNowhere) {
    qt::Machine m;
    m.exe = "C:\\Program Files\\Q/quillfen.exe";  // either separator ends the folder
    m.load();
    EXPECT_EQ(path_of("blacklist.tsv"), u"C:\\Program Files\\Q/blacklist.tsv");
    qt::Machine bare;
    bare.exe = "quillfen.exe";
    bare.load();
    EXPECT_EQ(path_of("x"), u"x");
    qt::Machine deep;  // a path that does not fit is an error, never a cut
    deep.exe = "/" + std::string(PATH_UNITS - 12, 'd') + "/quillfen.exe";
    deep.load();
    EXPECT_EQ(path_of("blacklist.tsv"), u"<none>");
}

TEST(Log, ADeviceTextCannotBreakOrForgeALine) {
    qt::Machine m;
    m.load();
    logline(EV_REMOVED, "已删除 | %s | %s", "Cam\r\n[2020-01-01 00:00:00] 清空拉黑名单\x1b[2J\x7f", "USB\\1");
    logline(LOG_FILE_ONLY, "扫描完成，命中 %d 个设备", 0);
    std::string log = qt::slurp(m.path("device_cleanup_log.txt"));
    ASSERT_EQ(log.size() > 44 ? log.substr(22, 3) : "", "已") << log;  // after "[YYYY-MM-DD hh:mm:ss] "
    EXPECT_EQ(log.substr(22), "已删除 | Cam  [2020-01-01 00:00:00] 清空拉黑名单 [2J  | USB\\1\r\n" + log.substr(0, 22) +
                                  "扫描完成，命中 0 个设备\r\n");
    EXPECT_TRUE(qt::exists(m.path("device_cleanup_log.txt.lock")));
}

TEST(FileSecurity, SystemAndAdministratorsOnlyNothingInherited) {
    unsigned char sd[128];
    ASSERT_EQ(file_security(sd, 71), 0u);
    ASSERT_EQ(file_security(sd, sizeof sd), 72u);
    auto u16 = [&](int at) { return sd[at] | sd[at + 1] << 8; };
    auto u32 = [&](int at) { return (uint32_t)(u16(at) | u16(at + 2) << 16); };
    EXPECT_EQ(sd[0], 1);                                     // revision
    EXPECT_EQ(u16(2), 0x0004 | 0x1000 | 0x8000);             // list present, protected, self-relative
    EXPECT_EQ(u32(4) | u32(8) | u32(12), 0u);                // no owner, group or audit list
    EXPECT_EQ(u32(16), 20u);                                 // the list
    EXPECT_EQ(sd[20], 2);                                    // list revision
    EXPECT_EQ(u16(22), 52);                                  // list size
    EXPECT_EQ(u16(24), 2);                                   // two entries
    const unsigned char system[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
    const unsigned char admins[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
    int at = 28;
    for (auto sid : {std::string((const char*)system, 12), std::string((const char*)admins, 16)}) {
        EXPECT_EQ(sd[at], 0) << "an allow entry";
        EXPECT_EQ(sd[at + 1], 0) << "that nothing inherits";
        EXPECT_EQ(u16(at + 2), 8 + (int)sid.size());
        EXPECT_EQ(u32(at + 4), 0x001F01FFu) << "full control";
        EXPECT_EQ(std::string((const char*)sd + at + 8, sid.size()), sid);
        at += 8 + (int)sid.size();
    }
    EXPECT_EQ(at, 72);
}

}  // namespace
