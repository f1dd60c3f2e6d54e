// The program's own path as the system spells it, made plain where it can be.
#include <gtest/gtest.h>

#include <string>

#include "files/datafile.h"
#include "files/exepath.h"

namespace {

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

}  // namespace
