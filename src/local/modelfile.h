// The models of by-name entries, kept beside blacklist.tsv in a file of
// their own, one line per instance id: a line of six fields would be no
// entry in blacklist.tsv. Read and written only inside the blacklist's
// locked steps, which keep it in step with the entries.
#pragma once

#include <cstddef>

#include "rules/book.h"
#include "rules/entry.h"

// The file's text: parsing and formatting. An administrator may edit the
// file, and a model in it goes into Windows' policy, so every line is
// checked again as the model was chosen: an instance id that can be stored,
// a model id that names vendor and product (no class or compatible-only id,
// no control character, no surrounding space), one of the four verdicts.
// A line that fails, and both lines of an instance id given twice, are bad:
// counted, never a model. Blank lines and comments are skipped, and so is a
// UTF-8 byte-order mark.
struct ModelRead {
    int n;          // models put in t
    int bad;        // lines that are no model
    int first_bad;  // the first one's number, from 1
};
ModelRead model_parse(const char* data, size_t n, BlacklistModel* t, int max);
size_t model_format(const BlacklistModel* t, int n, char* out, size_t size);

// ---- inside a locked step of the blacklist ----
// The step starts with the file unread, at these paths (the file and its
// temporary).
void models_begin(const char16_t* path, const char16_t* tmp);
// Reads the file, once per step.
void models_read(void);
// Keeps m for its instance id; 0 when the file cannot be written over, and
// m is then kept nowhere.
int models_put(const BlacklistModel& m);
// After the blacklist was written with the n entries of t: each instance id
// they hold keeps its model, the others' go, and the file is written when
// that or a put changed it. 0 when it could not be written: the step goes
// on with the file as it stands, so that no block stands that the next
// pass, reading the file, would lift.
int models_save(const BlacklistEntry* t, int n);
// The same when the blacklist stood already: only a put is written.
int models_save_puts(void);
// The step's models, as read and changed.
const BlacklistModel* models_work(int* n);
// How the file was read (it is read only for a table with a by-name entry):
// one that cannot be read whole, or holds lines that are no model, changes
// no model block and is never written over.
SourceRead models_source(void);
