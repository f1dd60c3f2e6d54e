// Where the data files live: beside the executable, whatever its path.
#pragma once

#include <cstddef>

// Room for the longest path we accept, in UTF-16 units with the terminator.
constexpr size_t PATH_UNITS = 1024;

// The full path of `file` (ASCII) beside the running executable (exe_path).
// 0 when the executable's path is unknown or the result does not fit: a
// data file must never silently land somewhere else.
int data_path(char16_t* out, size_t units, const char* file);
