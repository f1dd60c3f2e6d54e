// --blacklist and --unblacklist: add or lift entries from the command line,
// also for devices that are not here.
#pragma once

#include "app/args.h"

// The exit codes.
int blacklist_mode(const Args& a);
int unblacklist_mode(const Args& a);
