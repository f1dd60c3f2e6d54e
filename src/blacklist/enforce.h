// The unattended pass the scheduled task runs: remove every present device
// that an unexpired blacklist entry matches.
#pragma once

#include <cstdint>

// Returns the process exit code (always 0).
int enforce_pass(void);
// Matches the scanned devices (g_dev) against the unexpired entries at `now`
// and removes and logs each hit.
void enforce_walk(int64_t now);
// The match rule for one entry and one device's ASCII-lower-cased UTF-8
// instance id and name.
int bl_matches(const struct BlacklistEntry& e, const char* lower_inst, const char* lower_name);
