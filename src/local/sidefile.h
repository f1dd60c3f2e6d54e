// A file of the PC's own rules beside the blacklist (the models file, the
// rules file): read whole and written through its temporary, only inside
// the blacklist's locked step, and never written over unless it was read
// whole, so that what an administrator wrote and nobody can read is kept.
#pragma once

#include <cstddef>

#include "rules/book.h"

struct SideFile {
    enum { UNREAD, READ, UNREADABLE, BAD_LINES, OVERFULL } state;
    int bad;        // lines that are no rule
    int first_bad;  // the first one's number, from 1
    int changed;    // the step changed what it read: to be written
    const char16_t* path;
    const char16_t* tmp;
};

// The step starts with the file unread, at these paths.
void side_begin(SideFile* f, const char16_t* path, const char16_t* tmp);
// Reads the file whole into buf: 1 with *n bytes to parse; 0 with nothing to
// parse, for a missing file (read: it holds nothing) or one that cannot be
// read whole.
int side_read(SideFile* f, char* buf, size_t size, size_t* n);
// After the parse: how many lines were bad, the first one's number, and
// whether it held more than its table.
void side_parsed(SideFile* f, int bad, int first_bad, int overfull);
// 1 when the file was read whole and so may be written over.
int side_may_write(const SideFile* f);
// Writes the bytes when the step changed the file; 1 when the file holds
// what the step wants (also when nothing was to be written).
int side_write(SideFile* f, const char* bytes, size_t n);
// How the read went, as the book tells it.
SourceRead side_source(const SideFile* f);
