// The blacklist table and its file blacklist.tsv beside the executable.
#pragma once

#include <cstddef>
#include <cstdint>

#include "block/block.h"

// One blacklisted device.
struct BlacklistEntry {
    char name[600];   // display name, ASCII lower-cased
    char inst[1200];  // instance id as stored
    char cls[128];
    int64_t until;    // expiry, seconds since 1970 UTC; in force while now < until
    int32_t byname;   // non-zero: also matches devices whose name contains `name`
};

constexpr int BL_MAX = 64;

// The blacklist as this process last read or wrote it. Changed only through
// the functions below.
extern BlacklistEntry g_bl[BL_MAX];
extern int g_bn;

enum bl_status {
    BL_OK,          // done; the file holds the result
    BL_FULL,        // an add found the file already holding 64 entries
    BL_GONE,        // the entry to remove is no longer in the file
    BL_FAILED,      // the file could not be locked or written
    BL_UNREADABLE,  // the file exists but cannot be read: it is left alone
    BL_OVERFULL,    // the file holds more than 64 entries: only the first 64
                    // count, and nothing is written over it
};

// Each change is one step under the blacklist's lock: the file is read again,
// exactly this change is applied to what was read, the result is written and
// is then what g_bl/g_bn hold. On failure the table in memory stays as it
// was; on OVERFULL it shows the file's first 64 entries.
// An add also brings the install block in line, and *block tells what that
// did for the entry's id.
bl_status bl_add(const BlacklistEntry& e, block_outcome* block = nullptr);
// Removes the first entry whose fields all equal e's.
bl_status bl_remove(const BlacklistEntry& e);
// Removes the entries the table shows now, each found by its fields, so
// that an entry another window added meanwhile stays. Entries already gone
// are skipped.
bl_status bl_clear(void);
// Reads the file into the table and drops the expired entries, writing only
// when it dropped some; *dropped is how many. On FAILED the drop could not be
// written and the table holds the file as it is; on UNREADABLE the table is
// empty; on OVERFULL it holds the first 64 entries, expired ones included.
// `who` goes to the install block's step.
bl_status bl_prune(int* dropped, block_caller who = BLOCK_AT_CONSOLE);
// Reads the file into the table as it stands: nothing is dropped and
// nothing is written. OK, UNREADABLE or OVERFULL.
bl_status bl_read(void);
// One locked step that brings the install block in line with the file (at
// the start of every pass). An unreadable file changes no block.
bl_status bl_sync_blocks(block_caller who = BLOCK_AT_CONSOLE);
// After the task was installed from this copy: in one locked step, the task
// is recorded as running this copy, every copy's blocks are lifted and this
// copy's are written. The lifting happens even without the lock. 0 when a
// block may still stand that no pass of this copy would lift.
int bl_blocks_take_over(void);
// Before the task is deleted: the task is recorded as running no copy and
// every copy's blocks are lifted, under the lock when it can be had.
void bl_blocks_give_up(void);
// What the last read of the file found: OK, UNREADABLE or OVERFULL.
bl_status bl_last_read(void);
// How many entries of the table are in force at `now`.
int bl_in_force(int64_t now);

// Reads a blacklist file's bytes in pieces of any size, line by line.
// Entries go to t until it holds BL_MAX; `total` counts every entry line.
constexpr size_t BL_LINE_MAX = 1974;  // longer than any line a save writes
struct bl_reader {
    BlacklistEntry* t;
    int n;
    int total;
    char line[BL_LINE_MAX + 1];
    size_t k;
    int overlong;  // the current line is past BL_LINE_MAX: no part of it counts
};
void bl_read_start(bl_reader* r, BlacklistEntry* t);
void bl_read_bytes(bl_reader* r, const char* data, size_t n);
void bl_read_end(bl_reader* r);
// The same for bytes in one piece; returns the number of entries in t.
int bl_parse(const char* data, size_t n, BlacklistEntry* t);
// The file's bytes for a table; returns their length.
size_t bl_format(const BlacklistEntry* t, int n, char* out, size_t size);
