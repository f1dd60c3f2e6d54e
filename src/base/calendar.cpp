// Days since 1970 to a civil date and back (proleptic Gregorian), by eras of
// 400 years.
#include "base/calendar.h"

void utc_calendar(int64_t t, int out[6]) {
    // 0000-01-01 and 9999-12-31 23:59:59, in seconds since 1970.
    const int64_t lo = -62167219200LL, hi = 253402300799LL;
    if (t < lo) t = lo;
    if (t > hi) t = hi;
    int64_t days = t >= 0 ? t / 86400 : -((-t + 86399) / 86400);
    int64_t secs = t - days * 86400;
    int64_t z = days + 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = yoe + era * 400;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int64_t d = doy - (153 * mp + 2) / 5 + 1;
    int64_t m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) y++;
    out[0] = (int)y;
    out[1] = (int)m;
    out[2] = (int)d;
    out[3] = (int)(secs / 3600);
    out[4] = (int)(secs % 3600 / 60);
    out[5] = (int)(secs % 60);
}

int64_t utc_days(int year, int month, int day) {
    int64_t y = month <= 2 ? year - 1 : year;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t mp = month > 2 ? month - 3 : month + 9;
    int64_t doy = (153 * mp + 2) / 5 + day - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}
