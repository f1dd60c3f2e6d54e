// Console output and bounded line input for the interactive screens.
#pragma once

#include "base/text.h"

// Formatted output (our own bounded formatter; device and user text always
// go in as %s arguments, never as the format).
void out(const char* f, ...) QF_PRINTF(1, 2);
// The same to standard error.
void err(const char* f, ...) QF_PRINTF(1, 2);
void verr(const char* f, va_list ap) QF_PRINTF(1, 0);
// Reads one line into buf (at most size-1 bytes; the rest of a longer line is
// read and dropped). 0 at the end of input; once input has ended, every later
// read returns 0 at once.
int read_line(char* buf, int size);
// Whether an answer is yes: its first byte is 'y' or 'Y'.
int is_yes(const char* line);
