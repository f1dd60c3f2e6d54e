// The main screen: banner, elevation check, and the device table.
#pragma once

#include "app/args.h"

// The banner with the keywords, the risk setting (--force) and the
// blacklist's count.
void banner(const Args& a);
// Offers an elevated restart when the process is not elevated; 1 when this
// process is to end because the elevated copy took over.
int elevation_check(void);
// Scan, table, scan log line.
void loop_head(const Args& a);
// The two lines every end of the interactive mode prints.
void closing_lines(void);
