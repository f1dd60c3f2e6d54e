// The JSON documents for scripts: the device list and the blacklist.
#pragma once

#include "app/args.h"

// -s --json: the exit code.
int scan_json(const Args& a);
// --blist --json: the exit code.
int blist_json(void);
