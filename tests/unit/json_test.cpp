// The JSON writer: whatever a device or a hand-edited file holds, scripts
// must get one document that parses.
#include <gtest/gtest.h>

#include <string>

#include "app/json.h"

namespace {

std::string doc_of(const char* text) {
    static char buf[1024];
    json_to_buffer(buf, sizeof buf);
    json_open();
    json_key("t");
    json_text(text);
    json_close();
    return buf;
}

TEST(JsonText, EscapesWhatWouldEndOrBreakAString) {
    EXPECT_EQ(doc_of("a\"b\\c"), "{\"t\":\"a\\\"b\\\\c\"}");
    EXPECT_EQ(doc_of("\t\r\n\x01\x1b\x1f"), "{\"t\":\"\\u0009\\u000d\\u000a\\u0001\\u001b\\u001f\"}");
    // Everything outside printable ASCII as \uXXXX, so that a shell that
    // reads the output in its console's code page gets it intact; above
    // U+FFFF a surrogate pair.
    EXPECT_EQ(doc_of("\x7f 中 \u202e \u2028 😀"), "{\"t\":\"\\u007f \\u4e2d \\u202e \\u2028 \\ud83d\\ude00\"}");
}

TEST(JsonText, BytesThatAreNotUtf8BecomeReplacementCharacters) {
    // A stray continuation byte, a lead byte without its tail, an overlong
    // form, a surrogate and a byte beyond U+10FFFF: each a U+FFFD of its own.
    EXPECT_EQ(doc_of("a\x80" "b\xE4\xB8" "c\xC0\xAF" "d\xED\xA0\x80" "e\xF5"),
              "{\"t\":\"a\\ufffdb\\ufffd\\ufffdc\\ufffd\\ufffdd\\ufffd\\ufffd\\ufffde\\ufffd\"}");
}

TEST(JsonWriter, CommasBetweenValuesAndNothingAfterTheLast) {
    static char buf[256];
    json_to_buffer(buf, sizeof buf);
    json_open();
    json_key("version");
    json_int(1);
    json_key("keyword");
    json_text(nullptr);
    json_key("list");
    json_open_array();
    for (int i = 0; i < 2; i++) {
        json_open();
        json_key("n");
        json_int(-9223372036854775807LL - 1);
        json_key("b");
        json_bool(i);
        json_close();
    }
    json_open_array();
    json_close_array();
    json_close_array();
    json_close();
    EXPECT_STREQ(buf, "{\"version\":1,\"keyword\":null,\"list\":[{\"n\":-9223372036854775808,\"b\":false},"
                      "{\"n\":-9223372036854775808,\"b\":true},[]]}");
}

TEST(JsonUtc, CalendarAtTheEdges) {
    char out[32];
    const struct {
        int64_t t;
        const char* want;
    } cases[] = {
        {0, "1970-01-01T00:00:00Z"},
        {951782400, "2000-02-29T00:00:00Z"},  // a leap day of a century divisible by 400
        {4107542399, "2100-02-28T23:59:59Z"},  // 2100 has none
        {-1, "1969-12-31T23:59:59Z"},
        {253402300799, "9999-12-31T23:59:59Z"},
        {INT64_MAX, "9999-12-31T23:59:59Z"},
        {INT64_MIN, "0000-01-01T00:00:00Z"},
    };
    for (const auto& c : cases) {
        json_utc(c.t, out);
        EXPECT_STREQ(out, c.want) << c.t;
    }
}

}  // namespace
