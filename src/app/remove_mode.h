// --remove: remove what a scan lists, without questions, and blacklist it.
#pragma once

#include "app/args.h"

// The exit code.
int remove_mode(const Args& a);
