// The answer to the duration prompt.
#include <gtest/gtest.h>

#include <cstdint>

#include "app/dialog.h"

namespace {

TEST(Duration, MenuChoicesHoursAndLimits) {
    struct {
        const char* line;
        int64_t hours;
    } cases[] = {
        {"1\n", 1},      {"2\n", 6},       {"3\n", 24},        {"4", 168},       {"5\r\n", 720},
        {"6", 2160},     {"7", 4320},      {"8\n", 8760},      {"9\n", 9},       {"48\n", 48},
        {"24", 24},      {"8760", 8760},   {"8761", 8760},     {"99999\n", 8760}, {"  5x", 720},
        {"+3", 24},      {"0\n", 1},       {"-5\n", 1},        {"-2", 1},        {"x\n", 1},
        {"abc", 1},      {"   \n", 1},      {"\t\n", 1},        {" ", 1},         {"-3", 1},
        {"99999999999999999999999\n", 8760}, {"4294967305", 8760}, {"-99999999999999999999", 1},
        {"", 0},         {"\n", 0},
    };
    for (auto& c : cases) EXPECT_EQ(duration_hours(c.line), c.hours) << "line [" << c.line << "]";
}

}  // namespace
