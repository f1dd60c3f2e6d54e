// What a step of the install block reads of the registry: Windows' two deny
// lists and their switches, every copy's records of the values it wrote,
// and the values left standing; the one walk over a key's values; and the
// machine-wide lock under which a step reads and writes them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/text.h"
#include "block/ids.h"
#include "sys/sys.h"

extern const char16_t RESTRICTIONS_KEY[];

// One of Windows' lists of restrictions, and what we keep of it under our
// own key.
struct RestrictList {
    const char16_t* switch_name;  // the policy's switch, under RESTRICTIONS_KEY
    const char16_t* key;          // the list
    const char16_t* records;      // our record of each value we wrote
    const char16_t* mark;         // under PRODUCT_KEY: we turned the switch on
    const char16_t* written;      // under PRODUCT_KEY: the list key's time after our last change
    const char16_t* kept;         // values left standing that may be an administrator's
    int64_t first_build;          // the first Windows build that honours the list
    int allows;                   // it allows, and only under layered evaluation
};
// In the order of enum block_list.
extern const RestrictList LISTS[BLOCK_LISTS];

// Values of one list, of every copy's records: the whole list is read in
// one pass whatever its length up to this; a longer one is not ours to
// change.
constexpr int MAX_VALUES = 16384;
constexpr int MAX_RECORDS = 2048;
constexpr size_t NAME_UNITS_REG = 16;

struct ListValue {
    char16_t name[NAME_UNITS_REG];
    uint64_t hash;     // of its text, A-Z lower-cased; 0 when it holds no id
    uint8_t longname;  // a name longer than any we write: never one of ours
};

struct ListRecord {
    char16_t name[NAME_UNITS_REG];
    char16_t id[INST_UNITS];
    uint8_t ours;    // written for this copy's blacklist
    uint8_t unsure;  // the list changed since: the value may be someone else's
    uint8_t gone;    // deleted by this step
};

// What a step's reads found, and room for one value's name and data and a
// record's path: its owner keeps it in static storage, as together they
// are some 3 MB. Each step reads it afresh; the screens read their own
// once per drawing. The functions below read into it and ask it.
struct BlockRead {
    ListValue values[MAX_VALUES];
    int nvalues;
    int list_failed;   // a value of it could not be read, or it is too long
    uint32_t highest;  // the highest numeric name in the list
    ListRecord rec[MAX_RECORDS];
    int nrec;
    int rec_failed;    // a record could not be read: one of ours may be missing
    int kept;          // values we left that still stand
    char16_t name[256], text[INST_UNITS + PATH_UNITS + 4], path[PATH_UNITS];
    char16_t blacklist_path[PATH_UNITS];  // the path our records name, made once
};

// The values of one key in the registry's order, a cursor the caller
// advances. A key that cannot be read fails at every position: the walk
// gives up after 16 failures in a row rather than count to four billion.
struct RegWalk {
    const char16_t* key;
    char16_t* name;
    uint32_t name_units;
    char16_t* text;
    uint32_t text_units;
    sys_reg_type type;  // of the value handed out
    uint32_t index;
    int failures;       // in a row
    int failed;         // a value could not be read: one may have been missed
};
void reg_walk_open(RegWalk* w, const char16_t* key, char16_t* name, size_t name_units, char16_t* text,
                   size_t text_units);
// 1 with the next value's name, type and text; 0 at the end.
int reg_walk_next(RegWalk* w);
// The value just handed out was deleted: the next one takes its place.
void reg_walk_deleted(RegWalk* w);

// The machine-wide lock for one step; a step without it writes nothing.
// Every copy, whatever its folder or session, takes it before it reads or
// writes the block's values, so that no step sees another's half done.
struct MachineLock {
    sys_mutex* m;
    explicit MachineLock(block_caller who);
    ~MachineLock();
};

// An id's hash: A-Z lower-cased, never 0.
uint64_t hash_of(const char16_t* s);

// The whole list in one pass, into br.values: every value counts, also
// one whose name or data could not be read, for "is the list empty" and for
// the highest number.
void read_list(BlockRead& br, const RestrictList& L);
const ListValue* value_named(BlockRead& br, const char16_t* name);
// What a step changed of the list, so that its picture stays true.
void value_added(BlockRead& br, const char16_t* name, const char16_t* id);
void value_forgotten(BlockRead& br, const char16_t* name);

enum held_state { HOLDS, HOLDS_OTHER, GONE, UNKNOWN };
// What the list value `name` holds now: exactly `id`, another id, nothing,
// or UNKNOWN when that cannot be read. The list must be read.
held_state held_by(BlockRead& br, const RestrictList& L, const char16_t* name, const char16_t* id);
// Whether any value of the list holds the id.
int list_has_id(BlockRead& br, const RestrictList& L, const char16_t* id);

// Every copy's records, into br.rec.
void read_records(BlockRead& br, const RestrictList& L);
const ListRecord* our_record_of(BlockRead& br, const char16_t* id);
int records_left(BlockRead& br);
// Whether every value of the list is a record of some copy of Quillfen.
int list_is_ours(BlockRead& br);

// The values left standing that still stand as they were are counted into
// br.kept; the rest are forgotten when the step may write. The list
// must be read.
void read_kept(BlockRead& br, const RestrictList& L, int may_write);

enum switch_state { SW_ON, SW_OFF, SW_OTHER, SW_ABSENT, SW_UNTOLD };
// DWORD 1 is on, DWORD 0 an administrator's "Disabled"; anything else is an
// administrator's too, and nothing we would read as on.
switch_state read_switch(const RestrictList& L);
// Any DWORD switch of the restrictions key, read alike.
switch_state read_switch_named(const char16_t* name);
// 1 when the key holds a value, 0 when none (or there is no key), -1 when
// it cannot be read.
int key_has_values(const char16_t* key);

// The registry texts the block reads back. A record's data as we write it,
// "<instance id>\t<path of the blacklist>" with "\t?" after it when the
// value may be someone else's: 1 with the id in id (INST_UNITS units), the
// path in path (units) and *unsure; 0 when it is no such record.
int block_record_parse(const char16_t* data, char16_t* id, char16_t* path, size_t units, int* unsure);
// The number a list value's name stands for: plain decimal digits, 1 to
// 4294967295; 0 for any other name.
uint32_t block_value_number(const char16_t* name);

// The list's values as a set, each one's name and id, from the list read
// into br; 0 while it is not read whole.
uint64_t list_print(const BlockRead& br);
// Whether the list read into br is as our last change left it, by what was
// noted then: "<key time>\t<list_print>", or by versions before 2.2 the
// time alone.
int list_as_noted(const BlockRead& br, const char* noted, uint64_t key_time);
