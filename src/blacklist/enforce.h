// The unattended pass the scheduled task runs: remove every present device
// that an unexpired blacklist entry matches.
#pragma once

// Returns the process exit code (always 0).
int enforce_pass(void);
