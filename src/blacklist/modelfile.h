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

// The file's text: parsing (lines that are no model are skipped) and
// formatting. model_parse returns the number of models put in t.
int model_parse(const char* data, size_t n, BlacklistModel* t, int max);
size_t model_format(const BlacklistModel* t, int n, char* out, size_t size);
