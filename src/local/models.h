// Which model a by-name entry blocks, and whether it may: the device's own
// hardware ids, read before it is removed, and every other device record
// that uses the same id.
#pragma once

#include "rules/book.h"
#include "device/device.h"
#include "device/walk.h"

struct ModelCheck {
    model_verdict verdict;
    char16_t id[INST_UNITS];
    char text[DEV_TEXT_BYTES];  // the same as UTF-8: a model id holds no control character to blank
    // A USB function's composite device, blocked with it: its id, as UTF-8
    // (empty when the model is no function's).
    char parent[DEV_TEXT_BYTES];
    int others;     // other device records, present or not, that have it among their ids
    int unreached;  // of those, the ones no entry in force (nor `coming`) reaches
};

// The model of device d, whose hardware ids (and parent) were read before
// it went: checked against every device record but its own and its
// parent's, which the rules in force of the book reach or not (judge.h),
// where `coming` (the entry about to be made, by name) counts as in force. A USB function's model covers its composite device's id too:
// Windows blocks a device whole only by the id of the device itself, and
// another unit's composite device is of the same model. MODEL_NO_IDS when
// it has no hardware ids that could be read, MODEL_UNKNOWN when the device
// list or another device's ids cannot be.
void bl_model_check(const RuleBook& b, const DeviceEntry& d, const HardwareIds& hardware, const BlacklistEntry& coming,
                    ModelCheck* out);
// A model rule's check, when it is made: every device record, present or
// not, whose instance id starts with the model's bus and vendor is looked
// at. Those holding the id among their hardware ids are its units (`others`;
// a composite device by its own id is one too); one that holds it among its
// compatible ids alone is outside the rule, and the model is SHARED, never
// blocked; a built-in unit makes it BUILTIN unless `force`; a list that
// cannot be read whole leaves it UNKNOWN. The same for a function model's
// composite id.
void bl_model_rule_check(const char16_t* id, int force, ModelCheck* out);
// The model record to keep for entry e, from a check; 0 when there is none
// to keep.
int bl_model_record(const BlacklistEntry& e, const ModelCheck& c, BlacklistModel* out);

// Inside a locked step that may write: the checks that could not be made
// (MODEL_UNKNOWN: the device list or an id list could not be read) are made
// again, the rules file's model rules' and the models of the entries t[0..n)
// in force at `now`, and a verdict found is kept in its file for the step
// to save, so that no block stays off for a read that once failed. How
// many were decided.
int models_recheck(const RuleBook& b, const BlacklistEntry* t, int n, int64_t now);
