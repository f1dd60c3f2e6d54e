// The remaining time shown for a blacklist entry.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/show.h"
#include "support.h"

namespace {

std::string left_secs(int64_t secs) {
    char out[64];
    memset(out, 'Z', sizeof out);
    fmt_left_secs(secs, out);
    EXPECT_NE(memchr(out, 0, sizeof out), nullptr);
    return out;
}

TEST(FmtLeft, EveryBoundary) {
    EXPECT_EQ(left_secs(-5), "已过期");
    EXPECT_EQ(left_secs(0), "已过期");
    EXPECT_EQ(left_secs(1), "剩余 1分钟");
    EXPECT_EQ(left_secs(59), "剩余 1分钟");
    EXPECT_EQ(left_secs(60), "剩余 1分钟");
    EXPECT_EQ(left_secs(119), "剩余 1分钟");
    EXPECT_EQ(left_secs(120), "剩余 2分钟");
    EXPECT_EQ(left_secs(3599), "剩余 59分钟");
    EXPECT_EQ(left_secs(3600), "剩余 1小时0分");
    EXPECT_EQ(left_secs(3660), "剩余 1小时1分");
    EXPECT_EQ(left_secs(86399), "剩余 23小时59分");
    EXPECT_EQ(left_secs(86400), "剩余 1天0小时");
    EXPECT_EQ(left_secs(90061), "剩余 1天1小时");
    EXPECT_EQ(left_secs(365LL * 86400), "剩余 365天0小时");
    EXPECT_EQ(left_secs(INT64_MIN), "已过期");
    EXPECT_EQ(left_secs(INT64_MAX), "剩余 106751991167300天15小时");
}

TEST(FmtLeft, MeasuresFromTheClockWithoutOverflow) {
    qt::Machine m;
    m.load();
    char out[64];
    fmt_left(qt::T0 + 3600, out);
    EXPECT_STREQ(out, "剩余 1小时0分");
    fmt_left(qt::T0, out);
    EXPECT_STREQ(out, "已过期");
    fmt_left(qt::T0 + 1, out);
    EXPECT_STREQ(out, "剩余 1分钟");
    fmt_left(INT64_MIN, out);  // until - now would overflow
    EXPECT_STREQ(out, "已过期");
    fmt_left(INT64_MAX, out);
    EXPECT_EQ(std::string(out).rfind("剩余 ", 0), 0u) << out;
    EXPECT_NE(std::string(out).find("天"), std::string::npos) << out;
}

}  // namespace
