// The blacklist table and its file blacklist.tsv beside the executable.
#pragma once

#include <cstddef>
#include <cstdint>

#include "block/block.h"
#include "device/device.h"

// One blacklisted device.
struct BlacklistEntry {
    char name[600];   // display name, ASCII lower-cased
    char inst[1200];  // instance id as stored
    char cls[128];
    int64_t until;    // expiry, seconds since 1970 UTC; in force while now < until
    int32_t byname;   // non-zero: also matches devices whose name contains `name`
};

constexpr int BL_MAX = 64;

// What the check of a by-name entry's model found when the entry was made.
enum model_verdict {
    MODEL_NONE,     // no hardware id names vendor and product: no model
    MODEL_OK,       // blocked while the entry is in force
    MODEL_SHARED,   // another device uses it, and no entry reaches it: never blocked
    MODEL_BUILTIN,  // a built-in/system device's: never blocked
    MODEL_UNKNOWN,  // the other devices could not be looked at: never blocked
    MODEL_NO_IDS,   // the device's hardware ids could not be read: no model
};

// The model of a by-name entry's device, by its instance id: the hardware
// id that every unit of the same model shares (blacklist-models.tsv).
struct BlacklistModel {
    char inst[sizeof(BlacklistEntry::inst)];
    char model[sizeof(BlacklistEntry::inst)];  // a hardware id, verbatim
    model_verdict verdict;                    // never NONE
};

// What the install block did for an entry: its instance id, and its model;
// model_lost: the model could not be kept beside the blacklist, and so is
// neither blocked nor reached by.
struct BlockResult {
    block_outcome instance;
    block_outcome model;
    int model_lost;
};

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
    BL_BAD_LINES,   // the file holds lines that are no entry (bl_bad_lines):
                    // its entries count, and nothing is written over it
};

// Each change is one step under the blacklist's lock: the file is read again,
// exactly this change is applied to what was read, the result is written and
// is then what g_bl/g_bn hold. On failure the table in memory stays as it
// was; on OVERFULL it shows the file's first 64 entries.
// An add also brings the install block in line, and *block tells what that
// did for the entry's id and model. A model, when given, is kept for the
// entry's instance id (replacing one kept before).
bl_status bl_add(const BlacklistEntry& e, const BlacklistModel* model = nullptr, BlockResult* block = nullptr);
enum bl_put_result { BL_PUT_ADDED, BL_PUT_EXTENDED, BL_PUT_UNCHANGED };
// For scripts that run the same command again and again: an entry with e's
// id (letter case aside), or, when e has none, one without an id and with
// e's name, stays the one entry: its expiry becomes the later of the two,
// it matches by name when e does, and it keeps its name and class; the file
// is written only when that changed it. Otherwise e is added. *entry is the
// entry as it stands afterwards, *block what the install block did for it.
bl_status bl_put(const BlacklistEntry& e, const BlacklistModel* model, bl_put_result* what, BlacklistEntry* entry,
                 BlockResult* block);
// The same on the table in memory alone, for a run that must change
// nothing: the file, the install block and the log are left alone.
bl_status bl_put_in_memory(const BlacklistEntry& e, const BlacklistModel* model, bl_put_result* what,
                           BlacklistEntry* entry);
// Removes the first entry whose fields all equal e's.
bl_status bl_remove(const BlacklistEntry& e);
// Removes each of the n entries t holds, each found by its fields; entries
// already gone are skipped.
bl_status bl_remove_each(const BlacklistEntry* t, int n);
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
// Before the task is deleted: the task is recorded as being removed, so
// that no pass writes a block again, and every copy's blocks are lifted,
// under the lock when it can be had. 0 when a block may still stand.
int bl_blocks_give_up(void);
// What the last read of the file found: OK, UNREADABLE, OVERFULL or
// BAD_LINES (which wins when both hold).
bl_status bl_last_read(void);
// How many lines the last read found that are neither an entry, a comment
// nor blank; *first gets the line number of the first (from 1).
int bl_bad_lines(int* first);
// 1 when the last read found more than BL_MAX entries.
int bl_overfull(void);
// What the last read of blacklist-models.tsv found (read only for a table
// with a by-name entry): a file that cannot be read whole, or holds lines
// that are no model, changes no model block and is never written over.
// *bad counts those lines, *first is the first one's number.
enum bl_models { BL_MODELS_OK, BL_MODELS_UNREADABLE, BL_MODELS_BAD_LINES };
bl_models bl_models_last(int* bad, int* first);
// How many entries of the table are in force at `now`.
int bl_in_force(int64_t now);

// The entry for device d, expiring at `until`, by id only: its name
// ASCII-lower-cased, its id and class as the system reports them. 1 when
// the stored name is the device's name exactly, so that it may match by
// name: a control character would be saved as a blank, and a name cut to
// fit would reach more devices than the one chosen.
int bl_entry_of(const DeviceEntry& d, int64_t until, BlacklistEntry* e);
// 1 when a name or id typed for an entry can be stored exactly: no control
// character, and it fits its field (size bytes with the terminator).
int bl_storable(const char* text, size_t size);

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
// The file's bytes for a table; returns their length.
size_t bl_format(const BlacklistEntry* t, int n, char* out, size_t size);
