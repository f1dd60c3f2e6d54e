// Starting the system programs: by their full path in the system
// directory, with arguments quoted for the programs' own parser.
#pragma once

#include <cstddef>

#include "base/text.h"


// Room for a command line: the program's path, and at most one path or
// instance id as an argument.
constexpr size_t RUN_LINE_UNITS = 2 * PATH_UNITS + 512;

// Runs the system program `program` (a file name such as "schtasks.exe") from
// the system directory, by its full path, with the arguments `args`; waits at
// most 30 s. 1 when it ran to its end, with its exit code in *code; 0 when it
// could not be started or was stopped at the time limit (which is logged).
int run_silent(const char* program, const char16_t* args, int* code);
// 1 when a program of this process was stopped at the time limit: whatever
// it was asked, the run failed.
int run_timed_out(void);
// Appends `arg` to the command line `line` (cap units) as one argument for
// the programs' own parser: quoted, with quotes and the backslashes before
// them escaped. 0 when it does not fit (the line is then unusable).
int add_arg(char16_t* line, size_t cap, const char16_t* arg);
