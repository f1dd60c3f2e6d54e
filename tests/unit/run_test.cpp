// Quoting an argument for the system programs. Their runtime splits the
// command line by the rules of Microsoft's "Parsing C++ command-line
// arguments": quotes group, backslashes are literal except before a quote,
// where 2n of them give n and 2n+1 give n and a literal quote. An id or a
// path that breaks out of its quotes would hand pnputil another device.
#include <gtest/gtest.h>

#include <string>

#include "proc/run.h"

namespace {

std::u16string quoted(const std::u16string& arg) {
    char16_t line[64] = u"pnputil ";
    if (!add_arg(line, 64, arg.c_str())) return u"<does not fit>";
    return line + 8;
}

TEST(AddArg, EachArgumentReadsBackWholeByTheDocumentedRules) {
    // The plain and the spaced: quotes group, nothing else changes.
    EXPECT_EQ(quoted(u"USB\\VID_1&PID_2\\3"), u"\"USB\\VID_1&PID_2\\3\"");
    EXPECT_EQ(quoted(u"C:\\R&D ^x (1)"), u"\"C:\\R&D ^x (1)\"");
    EXPECT_EQ(quoted(u""), u"\"\"");
    // A quote inside is escaped (the table's "ab\"c" reads as ab"c).
    EXPECT_EQ(quoted(u"ab\"c"), u"\"ab\\\"c\"");
    // Backslashes before a quote, the closing one included, are doubled
    // (the table's "\\" reads as a single backslash).
    EXPECT_EQ(quoted(u"\\"), u"\"\\\\\"");
    EXPECT_EQ(quoted(u"C:\\dir\\"), u"\"C:\\dir\\\\\"");
    EXPECT_EQ(quoted(u"a\\\"b"), u"\"a\\\\\\\"b\"");
    // Elsewhere they stay as they are (the table's a\\\b reads as a\\\b).
    EXPECT_EQ(quoted(u"a\\\\\\b"), u"\"a\\\\\\b\"");
}

TEST(AddArg, ALineTooShortIsRefusedNotCut) {
    char16_t line[12] = u"x ";
    EXPECT_EQ(add_arg(line, 12, u"abcdefgh"), 0);  // "abcdefgh" and its quotes need 10 more units
    EXPECT_EQ(std::u16string(line).size(), 11u) << "terminated within the buffer";
    char16_t exact[13] = u"x ";
    EXPECT_EQ(add_arg(exact, 13, u"abcdefgh"), 1);
    EXPECT_EQ(std::u16string(exact), u"x \"abcdefgh\"");
}

}  // namespace
