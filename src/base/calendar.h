// The civil calendar in UTC, computed by our own code, so that both builds
// agree for every instant, whatever the runtime's range.
#pragma once

#include <cstdint>

// Seconds since 1970 UTC to year, month 1-12, day, hour, minute, second,
// held at 0000-01-01 00:00:00 and 9999-12-31 23:59:59.
void utc_calendar(int64_t t, int out[6]);
// Days since 1970-01-01 of a civil date; a month or day out of its range
// gives another date, which utc_calendar then tells apart.
int64_t utc_days(int year, int month, int day);
