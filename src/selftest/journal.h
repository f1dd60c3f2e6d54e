// The journal of a run, beside the tested copy: what was saved before the
// first change, and each rule and device, written down before it is made,
// so that any later start can undo what a run left.
#pragma once

#include <cstddef>

#include "base/text.h"

// A rule a run made, as its journal names it.
struct RunRule {
    char kind[16];  // id, model, name or approve
    char text[1600];
};

// What a journal holds besides the saved trees, which go into g_saved.
struct Journal {
    char nonce[16];
    int audit;      // the Plug and Play Events setting before the run; -1 unknown
    int task_ours;  // the run installed the task
    int whole;      // the saved part was written to its end
    RunRule rules[16];  // in force, as far as the journal knows: "lifted" lines take theirs out
    int nrules;
};

// A new journal at `path` (never over one that stands): the nonce, the
// audit setting and g_saved. 0 when it could not be written whole.
int journal_begin(const char16_t* path, const char* nonce, int audit);
// One line appended: "<kind>\t<text>". 0 when it was not written.
int journal_note(const char16_t* path, const char* kind, const char* text);
// After a rule of the run was lifted: recovery need not lift it again.
int journal_lifted(const char16_t* path, const char* kind, const char* text);
// 1 with the journal in *j and its saved trees in g_saved; 0 when there
// is none; -1 when it cannot be read.
int journal_read(const char16_t* path, Journal* j);
