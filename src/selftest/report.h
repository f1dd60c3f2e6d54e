// What the self-test prints, for testers and CI logs alike, and its count
// of verdicts.
#pragma once

#include "base/text.h"

enum verdict {
    VERDICT_PASS,    // Quillfen did its part and Windows did what it documents
    VERDICT_FAIL,    // Quillfen did not do what it promises
    VERDICT_CANNOT,  // this PC or its Windows cannot show it; nobody failed
};

// One line under the current step (device and user text only as arguments).
void say(const char* f, ...) QF_PRINTF(1, 2);
// A numbered step's heading.
void step(const char* title);
// The step's verdict and why, counted.
void judge(verdict v, const char* f, ...) QF_PRINTF(2, 3);
int verdicts(verdict v);
