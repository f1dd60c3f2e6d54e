// The number list of the command menu.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/menu.h"
#include "device/scan.h"

namespace {

std::vector<int> sel(const char* line, int n_dev, int cap = DEV_MAX) {
    static int buf[DEV_MAX + 8];
    for (int& v : buf) v = -777;
    int n = parse_selection(line, n_dev, buf, cap);
    EXPECT_GE(n, 0);
    EXPECT_LE(n, cap);
    if (n >= 0 && n < (int)(sizeof buf / sizeof buf[0])) {
        EXPECT_EQ(buf[n], -777) << "wrote past the count";
    }
    return std::vector<int>(buf, buf + (n > 0 ? n : 0));
}

using V = std::vector<int>;

TEST(Selection, SeparatorsOrderAndRepeats) {
    EXPECT_EQ(sel("2,4\n", 5), (V{1, 3}));
    EXPECT_EQ(sel("4 2\n", 5), (V{3, 1}));
    EXPECT_EQ(sel("1,1", 5), (V{0, 0}));
    EXPECT_EQ(sel("d2", 5), (V{1}));
    EXPECT_EQ(sel("第3个、第5个", 5), (V{2, 4}));
    EXPECT_EQ(sel("1;2\t3|4.5", 5), (V{0, 1, 2, 3, 4}));
}

TEST(Selection, SignsAreSeparatorsAndThereAreNoRanges) {
    EXPECT_EQ(sel("-3", 5), (V{2}));
    EXPECT_EQ(sel("+2", 5), (V{1}));
    EXPECT_EQ(sel("2-4", 5), (V{1, 3}));
    EXPECT_EQ(sel("--1--", 5), (V{0}));
}

TEST(Selection, LeadingZerosAndOutOfRange) {
    EXPECT_EQ(sel("007", 10), (V{6}));
    EXPECT_EQ(sel((std::string(300, '0') + "2").c_str(), 5), (V{1}));
    EXPECT_EQ(sel("0", 5), V{});
    EXPECT_EQ(sel("00", 5), V{});
    EXPECT_EQ(sel("6", 5), V{});
    EXPECT_EQ(sel("99 5", 5), (V{4}));
    EXPECT_EQ(sel("1", 0), V{});
    EXPECT_EQ(sel("", 5), V{});
    EXPECT_EQ(sel("\n", 5), V{});
    EXPECT_EQ(sel("abc", 5), V{});
}

TEST(Selection, RunsBeyond32BitsAreSkippedNotWrapped) {
    EXPECT_EQ(sel("4294967297", DEV_MAX), V{});            // 2^32 + 1
    EXPECT_EQ(sel("4294967296,3", DEV_MAX), (V{2}));       // 2^32
    EXPECT_EQ(sel("2147483648", DEV_MAX), V{});
    EXPECT_EQ(sel("18446744073709551617 1", DEV_MAX), (V{0}));  // 2^64 + 1
    EXPECT_EQ(sel((std::string(250, '9') + ",2").c_str(), 5), (V{1}));
}

TEST(Selection, FullLineAndCap) {
    // The longest line the menu takes: 255 bytes, "1," x 127 then "1".
    std::string line;
    for (int i = 0; i < 127; i++) line += "1,";
    line += "1";
    ASSERT_EQ(line.size(), 255u);
    V got = sel(line.c_str(), 5);
    EXPECT_EQ(got, V(128, 0));

    EXPECT_EQ(sel("1 2 3 4 5", 5, 3), (V{0, 1, 2}));
    EXPECT_EQ(sel("9 9 1 2 3", 5, 2), (V{0, 1}));  // skipped numbers do not count
    std::string many;
    for (int i = 0; i < 2100; i++) many += "7 ";
    EXPECT_EQ(sel(many.c_str(), 10).size(), (size_t)DEV_MAX);
}

}  // namespace
