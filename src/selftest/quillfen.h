// The copy of Quillfen under test: running it as an administrator would,
// and reading what it says in its JSON documents.
#pragma once

#include <cstddef>
#include <initializer_list>

#include "base/text.h"

struct Tested {
    char16_t exe[PATH_UNITS];
    char16_t dir[PATH_UNITS];  // its folder, with the separator after it
    char exe8[PATH_UNITS * 3];
};

// The copy at `exe`: 0 when its path has no folder or is too long.
int tested_at(Tested* t, const char16_t* exe);
// A file beside it, named `name`.
int tested_file(const Tested& t, const char* name, char16_t* out, size_t units);

// Runs it with these arguments, each one argument to it, and prints the
// command and how it ended. Its exit code; -1 when it did not run to its end.
// What it printed is in qf_output() until the next run.
int qf_run(const Tested& t, std::initializer_list<const char*> args);
const char* qf_output(void);
// Lifts a rule of a run: kind id, model or name (blocks) or approve (an
// approval of one unit), with its id or name. Its exit code, as qf_run.
int qf_lift(const Tested& t, const char* kind, const char* text);
// Deletes the file its output went to.
void qf_forget_output(const Tested& t);

// Whether the scheduled task is installed, as `quillfen --check --json`
// (which changes nothing) says: 1 yes, 0 no, -1 it cannot tell.
int qf_task_installed(const Tested& t);

// Reading a JSON document as Quillfen writes it. The object that holds
// "key":"value" (A-Z taken as a-z), its end in *end; nullptr when none does.
const char* peek_object(const char* doc, const char* key, const char* value, const char** end);
// A member of [obj, end): 1 true, 0 false, -1 missing or not a boolean.
int peek_bool(const char* obj, const char* end, const char* key);
// A text member into out: 1 a text, 0 null, -1 missing.
int peek_text(const char* obj, const char* end, const char* key, char* out, size_t size);
