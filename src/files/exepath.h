// The program's own path: the one every data file, the trust check and the
// task go by, so that a run through a link and the task agree.
#pragma once

#include <cstddef>

enum exe_found {
    EXE_FINAL,      // every link resolved, on a volume with a drive letter
    EXE_AS_LOADED,  // the final path could not be had, or names a share
};

// The executable's path; its length, 0 when it is unknown or does not fit
// (out is then empty). *how, when given, says which path it is.
size_t exe_path(char16_t* out, size_t units, exe_found* how = nullptr);

// The path to use for a final path as the system spells it: "\\?\C:\..."
// loses its prefix unless that would make it too long for plain calls;
// "\\?\UNC\...", a volume GUID path or another device path gives 0. A path
// without the prefix (the simulated machine's) stays as it is.
size_t exe_from_final(const char16_t* final_path, char16_t* out, size_t units);
