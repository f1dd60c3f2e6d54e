// The models of by-name entries, kept beside blacklist.tsv in a file of
// their own, one line per instance id: a line of six fields would be no
// entry in blacklist.tsv. The store reads and writes it in its locked steps.
#pragma once

#include <cstddef>
#include <cstdint>

#include "blacklist/store.h"

// The models as the last read or write of the blacklist left them: one
// per instance id that an entry of the table holds.
extern BlacklistModel g_mod[BL_MAX];
extern int g_mn;

// The model of by-name entry e's instance id, or null (always for an entry
// by id alone).
const BlacklistModel* bl_model_of(const BlacklistEntry& e);

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
