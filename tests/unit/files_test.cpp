// The data files: where they go, one log line per event whatever a device
// calls itself, and the permission list the files are created with.
#include <gtest/gtest.h>

#include <string>

#include "base/security.h"
#include "files/datafile.h"
#include "files/exepath.h"
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

std::u16string from_final(const std::u16string& final_path) {
    char16_t out[PATH_UNITS];
    size_t n = exe_from_final(final_path.c_str(), out, PATH_UNITS);
    return n == 0 ? u"<none>" : std::u16string(out, n);
}

TEST(ExePath, APlainPathWhereItFitsADriveLetterAlways) {
    EXPECT_EQ(from_final(u"\\\\?\\C:\\Program Files\\Q\\quillfen.exe"), u"C:\\Program Files\\Q\\quillfen.exe");
    std::u16string at_limit = u"C:\\" + std::u16string(259 - 3 - 13, u'd') + u"\\quillfen.exe";  // 259 units
    EXPECT_EQ(from_final(u"\\\\?\\" + at_limit), at_limit);
    std::u16string too_long = u"\\\\?\\C:\\" + std::u16string(260 - 3 - 13, u'd') + u"\\quillfen.exe";
    EXPECT_EQ(from_final(too_long), too_long) << "260 units need the prefix";
    EXPECT_EQ(from_final(u"\\\\?\\UNC\\srv\\share\\quillfen.exe"), u"<none>");
    EXPECT_EQ(from_final(u"\\\\?\\Volume{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\\quillfen.exe"), u"<none>");
    EXPECT_EQ(from_final(u"\\\\srv\\share\\quillfen.exe"), u"<none>");
    EXPECT_EQ(from_final(u"/opt/q/quillfen"), u"/opt/q/quillfen");
}

TEST(DataPath, BesideTheFinalPathOrTheLoadedOne) {
    qt::Machine link;
    link.exe = "/link/quillfen.exe";
    link.lines = "exe-final\t\\\\?\\C:\\Q\\quillfen.exe\n";
    link.load();
    EXPECT_EQ(path_of("blacklist.tsv"), u"C:\\Q\\blacklist.tsv");
    qt::Machine share;
    share.exe = "Z:\\Q\\quillfen.exe";
    share.lines = "exe-final\t\\\\?\\UNC\\srv\\share\\Q\\quillfen.exe\n";
    share.load();
    EXPECT_EQ(path_of("blacklist.tsv"), u"Z:\\Q\\blacklist.tsv");
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

// A SID in its string form, read from its bytes as Windows lays them out:
// revision, count, a 48-bit big-endian authority, little-endian sub-authorities.
std::string sid_string(const unsigned char* p, size_t room) {
    if (room < 8 || room < 8 + 4u * p[1]) return "<cut>";
    uint64_t authority = 0;
    for (int i = 2; i < 8; i++) authority = authority << 8 | p[i];
    std::string s = "S-" + std::to_string(p[0]) + "-" + std::to_string(authority);
    for (int k = 0; k < p[1]; k++) {
        const unsigned char* a = p + 8 + 4 * k;
        s += "-" + std::to_string((uint32_t)a[0] | a[1] << 8 | a[2] << 16 | (uint32_t)a[3] << 24);
    }
    return s;
}

struct Descriptor {
    unsigned char sd[128];
    size_t n;
    explicit Descriptor(int owner) : n(file_security(sd, sizeof sd, owner)) {}
    int u16(size_t at) const { return sd[at] | sd[at + 1] << 8; }
    uint32_t u32(size_t at) const { return (uint32_t)(u16(at) | u16(at + 2) << 16); }
};

TEST(FileSecurity, SystemAndAdministratorsOnlyNothingInherited) {
    unsigned char small[128];
    ASSERT_EQ(file_security(small, 71, 0), 0u);
    ASSERT_EQ(file_security(small, 87, 1), 0u);
    for (int owner : {0, 1}) {
        Descriptor d(owner);
        ASSERT_EQ(d.n, owner ? 88u : 72u);
        EXPECT_EQ(d.sd[0], 1);                                  // revision
        EXPECT_EQ(d.u16(2), 0x0004 | 0x1000 | 0x8000);          // list present, protected, self-relative
        EXPECT_EQ(d.u32(8) | d.u32(12), 0u);                    // no group or audit list
        EXPECT_EQ(d.u32(16), 20u);                              // the list
        EXPECT_EQ(d.sd[20], 2);                                 // list revision
        EXPECT_EQ(d.u16(22), 52);                               // list size
        EXPECT_EQ(d.u16(24), 2);                                // two entries
        size_t at = 28;
        for (const char* sid : {"S-1-5-18", "S-1-5-32-544"}) {
            EXPECT_EQ(d.sd[at], 0) << "an allow entry";
            EXPECT_EQ(d.sd[at + 1], 0) << "that nothing inherits";
            EXPECT_EQ(d.u32(at + 4), 0x001F01FFu) << "full control";
            EXPECT_EQ(sid_string(d.sd + at + 8, d.u16(at + 2) - 8), sid);
            at += d.u16(at + 2);
        }
        EXPECT_EQ(at, 72u);
    }
}

TEST(FileSecurity, OwnedByTheAdministratorsOrByDefault) {
    // The default owner may be the user's own account, which the trust check
    // would then reject for a file we wrote ourselves.
    Descriptor owned(1);
    uint32_t at = owned.u32(4);
    ASSERT_GE(at, 20u);
    ASSERT_LT(at, owned.n);
    EXPECT_EQ(sid_string(owned.sd + at, owned.n - at), "S-1-5-32-544");
    EXPECT_EQ(sid_principal(owned.sd + at, owned.n - at), PRINCIPAL_ADMINS);
    EXPECT_EQ(Descriptor(0).u32(4), 0u) << "the fallback for a token that may not name them";
}

}  // namespace
