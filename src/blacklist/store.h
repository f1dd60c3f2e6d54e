// The blacklist table and its file blacklist.tsv beside the executable.
#pragma once

#include <cstddef>
#include <cstdint>

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
    BL_OK,      // done; the file holds the result
    BL_FULL,    // an add found the file already holding 64 entries
    BL_GONE,    // the entry to remove is no longer in the file
    BL_FAILED,  // the file could not be locked, read or written
};

// Each change is one step under the blacklist's lock: the file is read again,
// exactly this change is applied to what was read, the result is written and
// is then what g_bl/g_bn hold. On failure the table in memory stays as it was.
bl_status bl_add(const BlacklistEntry& e);
// Removes the first entry whose fields all equal e's.
bl_status bl_remove(const BlacklistEntry& e);
// Removes every entry the file holds.
bl_status bl_clear(void);
// Reads the file into the table and drops the expired entries, writing only
// when it dropped some; *dropped is how many. On FAILED the drop could not be
// written and the table holds the file as it is.
bl_status bl_prune(int* dropped);

// Parses the bytes of a blacklist file into t (at most BL_MAX entries).
// Returns the number of entries.
int bl_parse(const char* data, size_t n, BlacklistEntry* t);
// The file's bytes for a table; returns their length.
size_t bl_format(const BlacklistEntry* t, int n, char* out, size_t size);

// Room for a remaining-time text.
constexpr size_t LEFT_BYTES = 64;
// Remaining time until `until` as text, into out (LEFT_BYTES).
void fmt_left(int64_t until, char* out);
// The same for a number of seconds left.
void fmt_left_secs(int64_t secs, char* out);
