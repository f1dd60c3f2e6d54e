// The interactive mode: the main screen and the command menu, in turn.
#pragma once

#include "app/args.h"

// Blacklist read, banner, elevation test, then the loop; the exit code.
int interactive(const Args& a);
