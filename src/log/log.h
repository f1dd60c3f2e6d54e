// The activity log: one timestamped line per event, appended to
// device_cleanup_log.txt beside the executable.
#pragma once

#include "base/text.h"

// printf-style (our own formatter: %d %lld %s ...). Failures are silent.
void logline(const char* f, ...) QF_PRINTF(1, 2);
