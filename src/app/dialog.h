// The removal dialogue: confirm, remove, blacklist, offer the task.
#pragma once

#include <cstdint>

#include "app/args.h"

// The removal dialogue for a selection of positions in g_dev.
void removal_dialog(const Args& a, const int* sel, int n);
// Hours for a duration line; 0 means no blacklisting.
int64_t duration_hours(const char* line);
