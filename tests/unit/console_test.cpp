// The yes/no rule of every question.
#include <gtest/gtest.h>

#include "app/console.h"

namespace {

TEST(YesNo, OnlyTheFirstByteCounts) {
    for (const char* yes : {"y", "Y", "yes", "Yx", "y\n", "YES please"}) EXPECT_TRUE(is_yes(yes)) << yes;
    for (const char* no : {"", "\n", "n", "N", " y", "1", "9", "\xEF\xBD\x99", "\xD9", "\xF9", "ny"})
        EXPECT_FALSE(is_yes(no)) << no;
}

}  // namespace
