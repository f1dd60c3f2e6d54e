// blacklist.tsv's text: the line reader, the formatter, and what an entry
// can hold exactly.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rules/entry.h"
#include "device/device.h"

// Reads a blacklist file's bytes in pieces of any size, line by line, after
// a UTF-8 byte-order mark if the file starts with one. A line is an entry
// only with exactly five tab-separated fields, its expiry and flag decimal
// numbers, and no field longer than a save writes; blank lines (nothing but
// spaces and tabs) and comments ('#' first) are skipped; every other line
// is bad. Entries go to t until it holds BL_MAX; `total` counts every entry.
constexpr size_t BL_LINE_MAX = 1974;  // longer than any line a save writes
struct bl_reader {
    BlacklistEntry* t;
    int n;
    int total;
    int bad;        // lines that are no entry, comment or blank
    int first_bad;  // the first one's number
    int lineno;     // the current line's number
    char line[BL_LINE_MAX + 1];
    size_t k;
    int overlong;   // the current line is past BL_LINE_MAX: no part of it is an entry
    int blank;      // only spaces and tabs so far
    int after_cr;   // a LF now ends no line: CR LF is one line end
    int bom;        // bytes of a byte-order mark matched at the start; -1 past it
};
void bl_read_start(bl_reader* r, BlacklistEntry* t);
void bl_read_bytes(bl_reader* r, const char* data, size_t n);
void bl_read_end(bl_reader* r);
// The same for bytes in one piece; returns the number of entries in t.
int bl_parse(const char* data, size_t n, BlacklistEntry* t);
// The file's bytes for a table; returns their length (0 when they do not fit).
size_t bl_format(const BlacklistEntry* t, int n, char* out, size_t size);

// The entry for device d, expiring at `until`, by id only: its name
// ASCII-lower-cased, its id and class as the system reports them. 1 when
// the stored name is the device's name exactly, so that it may match by
// name: a control character would be saved as a blank, and a name cut to
// fit would reach more devices than the one chosen.
int bl_entry_of(const DeviceEntry& d, int64_t until, BlacklistEntry* e);
// 1 when a name or id typed for an entry can be stored exactly: no control
// character, and it fits its field (size bytes with the terminator).
int bl_storable(const char* text, size_t size);

// What the side files beside the blacklist (models, rules) share with it.
// Their lines, from bytes in one piece after a UTF-8 byte-order mark: each
// ends at CR, LF or CR LF, and the end of the data ends the last.
struct tsv_lines {
    const char* data;
    size_t n, i;
    int lineno;    // the line just read, from 1
    int overlong;  // it did not fit its buffer: no part of it is to be read
};
void tsv_lines_start(tsv_lines* l, const char* data, size_t n);
// The next line into buf (size bytes, terminated); 0 past the last.
int tsv_line(tsv_lines* l, char* buf, size_t size);
// 1 for a line with nothing to read: only spaces and tabs, or a comment.
int tsv_skipped(const char* line);
// Cuts a line at its tabs, in place, into at most max fields; the number of
// fields, or max + 1 when there are more.
int tsv_split(char* line, char** field, int max);
// A decimal number as a save writes it: digits, after a minus sign for a
// negative one. A date, a blank or an exponent is not one.
int tsv_number(const char* s);
