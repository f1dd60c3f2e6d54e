// Fuzzes the answers typed at the prompts: a number list, yes/no, a
// duration, a blacklist menu command and a keyword. The first byte is the
// number of rows shown, the rest one line as the console hands it over.
#include <cstdint>

#include "app/blmenu.h"
#include "app/console.h"
#include "app/dialog.h"
#include "app/menu.h"
#include "base/text.h"
#include "device/scan.h"
#include "fuzz.h"

namespace {

char g_line[512];
int g_sel[256];

// The digit runs of the line, in order, as numbers (-1: past 32 bits).
int runs(const char* s, long long* out, int cap) {
    int n = 0;
    while (*s && n < cap) {
        if (*s < '0' || *s > '9') {
            s++;
            continue;
        }
        long long v = 0;
        for (; *s >= '0' && *s <= '9'; s++) v = v > 2147483647LL ? v : v * 10 + (*s - '0');
        out[n++] = v > 2147483647LL ? -1 : v;
    }
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    quiet();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size >= sizeof g_line) return 0;
    int shown = data[0];
    memcpy(g_line, data + 1, size - 1);
    g_line[size - 1] = 0;
    // A line ends at its first line feed, as the console reads it.
    if (char* lf = strchr(g_line, '\n')) lf[1] = 0;

    // Every position picked is a row shown, in the order typed.
    int cap = 1 + data[0] % 64;
    int n = parse_selection(g_line, shown, g_sel, cap);
    check(n >= 0 && n <= cap, "no more picks than room");
    static long long typed[512];
    int nt = runs(g_line, typed, 512);
    for (int i = 0, t = 0; i < n; i++, t++) {
        check(g_sel[i] >= 0 && g_sel[i] < shown, "a pick is a row shown");
        while (t < nt && typed[t] != g_sel[i] + 1) t++;
        check(t < nt, "a pick is a number typed, in order");
    }

    check(is_yes(g_line) == (g_line[0] == 'y' || g_line[0] == 'Y'), "yes is y or Y");

    int64_t hours = duration_hours(g_line);
    check(hours >= 0 && hours <= 8760, "a duration is at most a year");
    check((hours == 0) == (g_line[0] == 0 || g_line[0] == '\n'), "only an empty line is no duration");

    int index;
    bl_command c = bl_command_of(g_line, shown, &index);
    check(index >= -1 && index < shown, "a lift names a row shown, or none");
    check(c != BLC_LIFT || g_line[0] == 'd' || g_line[0] == 'D', "only d lifts");
    check(c == BLC_LIFT || index == -1, "only a lift names a row");

    set_key(g_line);
    check(memchr(g_key, 0, sizeof g_key) != nullptr, "the keyword is terminated");
    for (const char16_t* k = g_key; *k; k++) check(*k < u'A' || *k > u'Z', "the keyword is lower-cased");
    set_key("");

    int64_t lo = (int8_t)data[0], hi = lo + data[size - 1];
    int64_t v = parse_int(g_line, lo, hi);
    check(v >= lo && v <= hi, "a number read stays within its bounds");
    return 0;
}
