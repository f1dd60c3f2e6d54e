// The text helpers sit under every buffer bound of the program: a wrong cut
// here shows up as torn characters on the console, in the log and in the
// blacklist file.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "base/text.h"
#include "support.h"

namespace {

using qt::rep;

std::u16string rep16(const std::u16string& s, int n) {
    std::u16string r;
    for (int i = 0; i < n; i++) r += s;
    return r;
}

bool is_high(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// ---- utf8 -----------------------------------------------------------------

TEST(Utf8, ConvertsEveryLengthClass) {
    char out[64];
    EXPECT_EQ(utf8(u"aé中😀", out, sizeof out), 10u);
    EXPECT_STREQ(out, "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
}

TEST(Utf8, CutsOnlyAtWholeCharacters) {
    char out[16];
    // "中文" needs 6 bytes + NUL.
    EXPECT_EQ(utf8(u"中文", out, 7), 6u);
    EXPECT_STREQ(out, "中文");
    EXPECT_EQ(utf8(u"中文", out, 6), 3u);
    EXPECT_STREQ(out, "中");
    EXPECT_EQ(utf8(u"中文", out, 3), 0u);
    EXPECT_STREQ(out, "");
    // A surrogate pair is one 4-byte character: never half of it.
    for (size_t size = 2; size <= 5; size++) {
        memset(out, 'Z', sizeof out);
        EXPECT_EQ(utf8(u"a😀b", out, size), 1u) << size;
        EXPECT_STREQ(out, "a");
    }
    EXPECT_EQ(utf8(u"a😀b", out, 6), 5u);
    EXPECT_STREQ(out, "a😀");
}

TEST(Utf8, ZeroAndOneByteBuffers) {
    char out[2] = {'X', 'X'};
    EXPECT_EQ(utf8(u"abc", out, 0), 0u);
    EXPECT_EQ(out[0], 'X');  // nothing may be written into a 0-byte buffer
    EXPECT_EQ(utf8(u"abc", out, 1), 0u);
    EXPECT_EQ(out[0], 0);
}

TEST(Utf8, UnpairedSurrogatesBecomeReplacementCharacter) {
    char out[32];
    const std::string fffd = "\xEF\xBF\xBD";
    const char16_t lone_high[] = {u'a', 0xD83D, u'b', 0};
    utf8(lone_high, out, sizeof out);
    EXPECT_EQ(std::string(out), "a" + fffd + "b");
    const char16_t lone_low[] = {0xDE00, u'x', 0};
    utf8(lone_low, out, sizeof out);
    EXPECT_EQ(std::string(out), fffd + "x");
    // A high surrogate as the very last unit must not read past the terminator.
    const char16_t high_at_end[] = {u'z', 0xD800, 0, u'Q', 0};
    utf8(high_at_end, out, sizeof out);
    EXPECT_EQ(std::string(out), "z" + fffd);
    // Two high surrogates in a row: each is unpaired.
    const char16_t two_high[] = {0xD800, 0xD800, 0xDC00, 0};
    utf8(two_high, out, sizeof out);
    EXPECT_EQ(std::string(out), fffd + "\xF0\x90\x80\x80");
}

// ---- utf16 / utf16n ---------------------------------------------------------

TEST(Utf16, ConvertsAndReplacesInvalidBytesWithoutSwallowingValidOnes) {
    char16_t out[32];
    EXPECT_EQ(utf16("aé中😀", out, 32), 5u);
    EXPECT_EQ(std::u16string(out), u"aé中😀");

    // A torn 3-byte sequence followed by ASCII keeps the ASCII.
    size_t n = utf16("\xE4\xB8" "A", out, 32);
    ASSERT_GE(n, 2u);
    EXPECT_EQ(out[0], 0xFFFD);
    EXPECT_EQ(out[n - 1], u'A');
    for (size_t i = 0; i + 1 < n; i++) EXPECT_EQ(out[i], 0xFFFD);

    // Overlong forms and encoded surrogates are not characters.
    for (const char* bad : {"\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF", "\x80"}) {
        n = utf16(bad, out, 32);
        ASSERT_GE(n, 1u) << bad;
        for (size_t i = 0; i < n; i++) {
            EXPECT_EQ(out[i], 0xFFFD) << "input " << bad << " unit " << i;
        }
    }
}

TEST(Utf16, NeverSplitsAPairAtThe127UnitBound) {
    char16_t out[128];
    // 126 ASCII units then an astral character: the pair would need units
    // 126 and 127, and unit 127 is the terminator.
    std::string s = rep("a", 126) + "😀";
    EXPECT_EQ(utf16(s.c_str(), out, 128), 126u);
    EXPECT_EQ(out[126], 0);
    EXPECT_EQ(std::u16string(out), rep16(u"a", 126));

    s = rep("a", 125) + "😀";
    EXPECT_EQ(utf16(s.c_str(), out, 128), 127u);
    EXPECT_EQ(out[125], 0xD83D);
    EXPECT_EQ(out[126], 0xDE00);
    EXPECT_EQ(out[127], 0);

    s = rep("😀", 64);  // 128 units: only 63 characters fit
    EXPECT_EQ(utf16(s.c_str(), out, 128), 126u);
    EXPECT_FALSE(is_high(out[125]));
    EXPECT_EQ(out[126], 0);

    s = rep("中", 200);
    EXPECT_EQ(utf16(s.c_str(), out, 128), 127u);
    EXPECT_EQ(std::u16string(out), rep16(u"中", 127));
}

TEST(Utf16, BoundedRunStopsAtItsLength) {
    char16_t out[16];
    EXPECT_EQ(utf16n("abcdef", 3, out, 16), 3u);
    EXPECT_EQ(std::u16string(out), u"abc");
    // A run that ends inside a character does not borrow the byte after it.
    const char* zh = "中文";
    size_t n = utf16n(zh, 4, out, 16);
    ASSERT_GE(n, 1u);
    EXPECT_EQ(out[0], u'中');
    for (size_t i = 1; i < n; i++) EXPECT_EQ(out[i], 0xFFFD);
    // Same pair rule as utf16.
    std::string s = rep("b", 14) + "😀";
    EXPECT_EQ(utf16n(s.data(), s.size(), out, 16), 14u);
    EXPECT_EQ(out[14], 0);
    EXPECT_EQ(utf16n("x", 1, out, 0), 0u);
}

// ---- utf8_whole ---------------------------------------------------------------

TEST(Utf8Whole, DropsOnlyATornLastCharacter) {
    const std::string s = "a中😀b";  // 1 + 3 + 4 + 1 bytes
    const size_t expect[] = {0, 1, 1, 1, 4, 4, 4, 4, 8, 9};
    for (size_t n = 0; n <= s.size(); n++) EXPECT_EQ(utf8_whole(s.data(), n), expect[n]) << "n=" << n;
    EXPECT_EQ(utf8_whole("abc", 2), 2u);
    // Two-byte character torn after its lead byte.
    EXPECT_EQ(utf8_whole("x\xC3\xA9", 2), 1u);
    EXPECT_EQ(utf8_whole("x\xC3\xA9", 3), 3u);
}

// ---- parse_int ------------------------------------------------------------------

TEST(ParseInt, ReadsLikeAtoi) {
    EXPECT_EQ(parse_int("42", INT64_MIN, INT64_MAX), 42);
    EXPECT_EQ(parse_int("  \t\n\v\f\r+7", INT64_MIN, INT64_MAX), 7);
    EXPECT_EQ(parse_int("-0012x", INT64_MIN, INT64_MAX), -12);
    EXPECT_EQ(parse_int("12 34", INT64_MIN, INT64_MAX), 12);
    EXPECT_EQ(parse_int("5abc", INT64_MIN, INT64_MAX), 5);
    EXPECT_EQ(parse_int("", INT64_MIN, INT64_MAX), 0);
    EXPECT_EQ(parse_int("x5", INT64_MIN, INT64_MAX), 0);
    EXPECT_EQ(parse_int("+", INT64_MIN, INT64_MAX), 0);
    EXPECT_EQ(parse_int("- 5", INT64_MIN, INT64_MAX), 0);   // a sign must touch its digits
    EXPECT_EQ(parse_int("+-5", INT64_MIN, INT64_MAX), 0);   // one sign only
    EXPECT_EQ(parse_int("\xC2\xA0" "5", INT64_MIN, INT64_MAX), 0);  // no-break space is not white space
}

TEST(ParseInt, ClampsInsteadOfOverflowing) {
    EXPECT_EQ(parse_int("9223372036854775807", INT64_MIN, INT64_MAX), INT64_MAX);
    EXPECT_EQ(parse_int("9223372036854775808", INT64_MIN, INT64_MAX), INT64_MAX);
    EXPECT_EQ(parse_int("-9223372036854775808", INT64_MIN, INT64_MAX), INT64_MIN);
    EXPECT_EQ(parse_int("-9223372036854775809", INT64_MIN, INT64_MAX), INT64_MIN);
    EXPECT_EQ(parse_int("-9223372036854775807", INT64_MIN, INT64_MAX), INT64_MIN + 1);
    EXPECT_EQ(parse_int("18446744073709551617", INT64_MIN, INT64_MAX), INT64_MAX);  // 2^64 + 1 must not wrap

    std::string huge = rep("9", 5000);
    EXPECT_EQ(parse_int(huge.c_str(), INT64_MIN, INT64_MAX), INT64_MAX);
    EXPECT_EQ(parse_int(("-" + huge).c_str(), INT64_MIN, INT64_MAX), INT64_MIN);
    // Leading zeros do not count towards the size of the number.
    EXPECT_EQ(parse_int((rep("0", 3000) + "17").c_str(), INT64_MIN, INT64_MAX), 17);

    EXPECT_EQ(parse_int("2147483647", INT32_MIN, INT32_MAX), INT32_MAX);
    EXPECT_EQ(parse_int("2147483648", INT32_MIN, INT32_MAX), INT32_MAX);
    EXPECT_EQ(parse_int("-2147483649", INT32_MIN, INT32_MAX), INT32_MIN);
    EXPECT_EQ(parse_int("4294967297", INT32_MIN, INT32_MAX), INT32_MAX);  // not 1
    EXPECT_EQ(parse_int("-3", 1, 8760), 1);
    EXPECT_EQ(parse_int("20000", 1, 8760), 8760);
}

// ---- fmt --------------------------------------------------------------------------

// The longest prefix of s that ends on a character boundary and fits in max bytes.
std::string whole_prefix(const std::string& s, size_t max) {
    size_t cut = 0, i = 0;
    while (i < s.size()) {
        unsigned char b = (unsigned char)s[i];
        size_t len = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
        if (i + len > max) break;
        i += len;
        cut = i;
    }
    return s.substr(0, cut);
}

// The formats come from a table here, so that each meets every value.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
TEST(Fmt, NumbersAgreeWithPrintf) {
    const char* formats[] = {"%d", "%5d", "%-5d|", "%05d", "%02d", "%04d", "%012d", "%-012d|", "%1d"};
    const int values[] = {0, 7, -7, 42, -42, 12345, INT32_MAX, INT32_MIN};
    for (const char* f : formats) {
        for (int v : values) {
            char want[64], got[64];
            snprintf(want, sizeof want, f, v);
            fmt(got, sizeof got, f, v);
            EXPECT_STREQ(got, want) << "format " << f << " value " << v;
        }
    }
    char got[64];
    fmt(got, sizeof got, "%lld|%lld", (long long)INT64_MIN, (long long)INT64_MAX);
    EXPECT_STREQ(got, "-9223372036854775808|9223372036854775807");
    fmt(got, sizeof got, "%llu %u %lu", (unsigned long long)UINT64_MAX, 4294967295u, 3ul);
    EXPECT_STREQ(got, "18446744073709551615 4294967295 3");
    fmt(got, sizeof got, "%ld %c%%", -5l, 'x');
    EXPECT_STREQ(got, "-5 x%");
}
#pragma GCC diagnostic pop

TEST(Fmt, WidthsCountBytesAndNeverCut) {
    char got[128];
    fmt(got, sizeof got, "[%-8s]", "中文");  // 6 bytes: two bytes of padding
    EXPECT_STREQ(got, "[中文  ]");
    fmt(got, sizeof got, "[%8s]", "中文");
    EXPECT_STREQ(got, "[  中文]");
    fmt(got, sizeof got, "[%3s]", "abcdef");
    EXPECT_STREQ(got, "[abcdef]");
    fmt(got, sizeof got, "[%-32s]", "");
    EXPECT_EQ(std::string(got), "[" + std::string(32, ' ') + "]");
}

TEST(Fmt, BoundedOutputIsAWholeCharacterPrefix) {
    const std::string full = "名称：智能摄像头 😀 USB\\VID_0000 -42";
    for (size_t size = 1; size <= full.size() + 2; size++) {
        char buf[128];
        memset(buf, 'Z', sizeof buf);
        size_t n = fmt(buf, size, "%s：%s %s %s %d", "名称", "智能摄像头", "😀", "USB\\VID_0000", -42);
        std::string want = whole_prefix(full, size - 1);
        EXPECT_EQ(std::string(buf), want) << "size " << size;
        EXPECT_EQ(n, want.size()) << "size " << size;
        EXPECT_EQ(buf[size], 'Z') << "wrote past the buffer, size " << size;
    }
    char one = 'Z';
    EXPECT_EQ(fmt(&one, 0, "abc"), 0u);
    EXPECT_EQ(one, 'Z');
}

TEST(Fmt, PaddingIsCutLikeText) {
    char buf[6];
    EXPECT_EQ(fmt(buf, sizeof buf, "%8d", 1), 5u);
    EXPECT_STREQ(buf, "     ");
    EXPECT_EQ(fmt(buf, sizeof buf, "%-3s%s", "a", "中"), 3u);  // "a  " then no room for 3 bytes
    EXPECT_STREQ(buf, "a  ");
}

// An unknown conversion used to be skipped and its argument handed to the
// next one: "%zu %s" read the number as a text.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
#pragma GCC diagnostic ignored "-Wformat-extra-args"
TEST(Fmt, StopsAtAConversionItDoesNotImplement) {
    char got[64];
    size_t z = 7;
    EXPECT_EQ(fmt(got, sizeof got, "a%zu %s", z, "x"), 1u);
    EXPECT_STREQ(got, "a");
    fmt(got, sizeof got, "b%ls|%x|%.3s", u"w", 1, "abc");
    EXPECT_STREQ(got, "b");
    fmt(got, sizeof got, "c%%%d%q", 5, 6);
    EXPECT_STREQ(got, "c%5");
}
#pragma GCC diagnostic pop

// ---- blanking ----------------------------------------------------------------

std::string blanked(std::string s) {
    blank_controls(s.data());
    return s.c_str();
}

TEST(Blank, EveryCharacterThatCanReshapeAScreenOrALogBecomesOneBlank) {
    // C0 and DEL; C1 as characters and as stray bytes; separators;
    // directional marks, embeddings, overrides and isolates.
    EXPECT_EQ(blanked("a\tb\r\n\x1b[2J\x7f"), "a b   [2J ");
    EXPECT_EQ(blanked("a\u0080b\u0085c\u009Fd"), "a b c d");
    EXPECT_EQ(blanked("x\x85y\x9bz"), "x y z");
    EXPECT_EQ(blanked("1\u20282\u20293"), "1 2 3");
    EXPECT_EQ(blanked("\u200E\u200F\u202A\u202B\u202C\u202D\u202E\u2066\u2067\u2068\u2069"), std::string(11, ' '));
    // Their neighbours, and everything else, stay as they are.
    const std::string kept = "\u00A0\u200D\u2010\u2027\u202F\u2065\u206A中文😀\xC3\xA9\xA0\xFF";
    EXPECT_EQ(blanked(kept), kept);
}

}  // namespace
