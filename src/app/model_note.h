// What a blacklisting tells of its install block, and a by-name entry's
// model as the removal modes tell it: its hardware ids read before the
// device goes, the check, and the lines for what it found.
#pragma once

#include "block/block.h"
#include "local/models.h"
#include "store/store.h"

// Removes device d as remove_dev does, keeping its hardware ids in *hw for
// the entry that may follow; model_read_ids reads those of a device that
// stays.
sys_removal model_remove(const DeviceEntry& d, HardwareIds* hw);
void model_read_ids(const DeviceEntry& d, HardwareIds* hw);
// The check for d's entry e, about to be made by name, from its ids `hw`
// read before its removal, against the rules of the book.
void model_check_for(const RuleBook& b, const DeviceEntry& d, const HardwareIds& hw, const BlacklistEntry& e,
                     ModelCheck* c);
// Why no model block will be written, when none will: a [提示] line unless
// quiet, and, when log, the log line. `shown` names the device.
void model_note(const ModelCheck& c, const char* shown, int quiet, int log);
// Whether by-name entry e may reach records beyond its own device's: its
// name reaches `others`, or its model may be blocked and reaches others or
// a composite device. Only then is a sweep worth its walk.
int reaches_further(const BlacklistEntry& e, int others, const ModelCheck& c);
// Right after entry e was saved (the book shows it): the records of
// devices that are not attached that it reaches are removed (listed only,
// with what_if), each said on the screen unless quiet. Adds to *removed
// and *failed.
void sweep_after(const RuleBook& b, const BlacklistEntry& e, int what_if, int quiet, int* removed, int* failed);
// The same right after rule `index` of the book's rules was saved.
void sweep_after_rule(const RuleBook& b, int index, int what_if, int quiet, int* removed, int* failed);
// After the entry was put: what the block did for its id and its model,
// and, when the model could not be kept, that and its log line. quiet: the
// log line alone.
void block_lines(const RuleBook& book, const BlockResult& b, const ModelCheck& c, const char* shown, int quiet = 0);
