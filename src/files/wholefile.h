// A small data file read and written whole: read into one buffer, written
// through a temporary that then replaces it, so that a reader never sees
// half of a save.
#pragma once

#include <cstddef>

#include "sys/sys.h"

// The file's bytes into buf (size bytes), their count in *n. MISSING when
// there is no file (*n is 0); FAILED when it cannot be read, or fills the
// buffer: a file that long was not written by us and is never read in part.
sys_read whole_file_read(const char16_t* path, char* buf, size_t size, size_t* n);
// Writes the bytes to tmp and replaces path with it. 1 on success; on
// failure path holds what it held and no temporary is left behind.
int whole_file_write(const char16_t* path, const char16_t* tmp, const char* bytes, size_t n);
