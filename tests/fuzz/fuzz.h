// What the fuzz harnesses share: a broken invariant stops the run with its
// name, and the program's own output goes nowhere, so that the fuzzer's
// reports stay readable and fast.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

inline void check(bool ok, const char* what) {
    if (ok) return;
    // Straight to the descriptor: the streams below are silenced.
    (void)!write(2, "invariant broken: ", 18);
    (void)!write(2, what, strlen(what));
    (void)!write(2, "\n", 1);
    abort();
}

// libFuzzer and the sanitizers keep their own handle on standard error.
inline void quiet(void) {
    FILE* null = fopen("/dev/null", "w");
    if (null) stdout = stderr = null;
}
