// Fuzzes the registry texts the install block reads back: a record's data
// ("<instance id>\t<path>") and a list value's name (its number), from any
// UTF-16 text, and the comparison by which an id is found again.
#include <cstdint>
#include <cstdio>

#include "base/text.h"
#include "block/registry.h"
#include "fuzz.h"

namespace {

char16_t g_text[4096];
char16_t g_id[INST_UNITS];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t n = 0;
    for (; n + 1 < countof(g_text) && 2 * n + 1 < size; n++) g_text[n] = (char16_t)(data[2 * n] | data[2 * n + 1] << 8);
    g_text[n] = 0;
    size_t len = wlen(g_text);

    // A record: the id is everything before the first tab, when that fits.
    size_t tab = 0;
    while (tab < len && g_text[tab] != u'\t') tab++;
    static char16_t path[4096];
    int unsure = -1;
    int ok = block_record_parse(g_text, g_id, path, countof(path), &unsure);
    size_t second = tab + 1;
    while (second < len && g_text[second] != u'\t') second++;
    int marked = second < len;  // a tab after the path: only "?" may follow it
    int well_formed = tab < len && tab < INST_UNITS && (!marked || (second + 2 == len && g_text[second + 1] == u'?'));
    check(ok == well_formed, "a record is an id that fits, a tab, a path and perhaps the unsure mark");
    if (ok) {
        check(wlen(g_id) == tab && memcmp(g_id, g_text, tab * sizeof(char16_t)) == 0, "the id is what precedes the tab");
        check(wlen(path) == second - tab - 1 && memcmp(path, g_text + tab + 1, wlen(path) * sizeof(char16_t)) == 0,
              "the path is what follows it");
        check(unsure == marked, "the mark is read");
    }

    // A name: its number exactly when it is plain digits of 1 to 2^32-1.
    uint64_t v = 0;
    int digits = len > 0;
    for (size_t i = 0; i < len && digits; i++) {
        digits = g_text[i] >= u'0' && g_text[i] <= u'9';
        if (v <= 0xFFFFFFFFull) v = v * 10 + (g_text[i] - u'0');
    }
    uint32_t num = block_value_number(g_text);
    check(num == (digits && v >= 1 && v <= 0xFFFFFFFFull ? v : 0), "a name's number is its digits' value");
    if (num) {
        char a[16];
        snprintf(a, sizeof a, "%u", (unsigned)num);
        char16_t back[16] = {0};
        wcat8(back, countof(back), a);
        check(block_value_number(back) == num, "the number we write reads back");
    }

    // Ids compare without regard to A-Z case, both ways round.
    const char16_t* b = g_text + len / 2;
    static char16_t a[4096];
    for (size_t i = 0; i < len / 2; i++) a[i] = g_text[i];
    a[len / 2] = 0;
    check((wicmp(a, b) == 0) == (wicmp(b, a) == 0), "the comparison is symmetric");
    check(wicmp(g_text, g_text) == 0, "an id equals itself");
    if (wicmp(a, b) == 0) check(wlen(a) == wlen(b), "equal ids are as long");
    return 0;
}
