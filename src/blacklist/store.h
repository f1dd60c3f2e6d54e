// The blacklist table and its file blacklist.tsv beside the executable.
#pragma once

#include <cstdint>
#include <cstdio>

// Empties the table and fills it from the file (a missing file: empty table).
void bl_load(void);
// Fills the table from an open file (used by bl_load).
void bl_read(FILE* fp);
// Writes the whole table: a temporary file, then one replace step. On any
// failure prints the error line and leaves the old file as it was. 1 on
// success.
int bl_save(void);
// Drops expired entries, keeping the order; saves when something was dropped.
int bl_prune(void);
// Remaining time until `until` as text, into out (64 bytes).
void fmt_left(int64_t until, char* out);
// The same for a number of seconds left.
void fmt_left_secs(int64_t secs, char* out);
