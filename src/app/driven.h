// What the modes that scripts drive without a person share (--remove,
// --blacklist, --unblacklist). They ask nothing, so they check everything
// before they touch anything, then report exactly what they did: on the
// screen and in the log, or as one JSON document.
#pragma once

#include <cstdint>

#include "app/args.h"
#include "base/text.h"
#include "local/models.h"
#include "store/store.h"

// One run of a driven mode: the entries it put, as they stand afterwards,
// for the document, with why a by-name one's model is not blocked (null:
// it is, or the entry is by id alone); what else it did and what failed.
// A mode keeps one in static storage (it is 130 KB) and starts it with
// drive_run_start.
struct DriveRun {
    BlacklistEntry done[BL_MAX];
    const char* done_note[BL_MAX];
    int ndone;
    int added;                              // an entry or a rule was added or extended
    int absent_removed, absent_failed;      // records of devices not attached, removed after a put
    int undecided;                          // a model's check could not be made: its block waits for the pass
    const char* bl_error;                   // why a blacklisting failed, for the document
    Rule rule_after;                        // a model rule put, as it stands afterwards
    const char* rule_note;                  // why its model is not blocked (null: it is)
};
void drive_run_start(DriveRun* run);
// Why a model checked as c is not blocked after a put that did `block`, as
// documents say it ("model_note"): null when it is.
const char* drive_note_key(const ModelCheck& c, const BlockResult& block);
// The model rule put, as --blist --json writes it, with its "model_note".
void drive_rule_json(const DriveRun& run);

// Refuses the run before anything was touched: one [错误] line, or in a
// document `error` with `key`. Returns the exit code (EXIT_FAILED).
int drive_refuse(const Args& a, const char* key, const char* f, ...) QF_PRINTF(3, 4);
// Administrator rights and, for a run that may change the blacklist, a
// blacklist that can be changed (read afresh; expired entries dropped
// unless --what-if). 0 to go on, else the exit code, with the refusal said.
int drive_start(const Args& a, int changes_blacklist);
// Refuses a --hours that is not whole hours within the rules' limits.
int refuse_hours(const Args& a);

// Puts entry e as a driven mode does: the store's put (with --what-if in
// memory alone), the screen lines, the log line "拉黑" when it was added or
// extended, and the entry kept for the document. `shown` names it on the
// screen and in the log. 1 when it was put; 0 when it failed (said).
// A by-name entry's model check, when given, is kept with the entry; why
// its model is not blocked, when it is not, is said and logged.
// sweep: the entry may reach records of devices that are not attached,
// which are then removed (listed with --what-if).
int drive_put(DriveRun* run, const Args& a, const BlacklistEntry& e, const char* shown, int64_t secs,
              const ModelCheck* model, int sweep);
// After the puts: when an entry or a rule was added or extended and the
// task is not installed, a hint with the command for it.
void drive_task_hint(const DriveRun& run, const Args& a);
// A rule of this run could not be put: its blacklisting failed.
void drive_rule_failed(DriveRun* run);
// The same, with the store's reason: the rules file cannot be changed, or is full.
void drive_rule_refused(DriveRun* run, bl_status st);

// The document: opened with what_if; drive_put_list writes the entries put
// under `key`; drive_end closes it with absent_removed, absent_failed and
// blacklist_error, and returns that.
void drive_begin(const Args& a);
void drive_put_list(const DriveRun& run, const char* key);
const char* drive_end(const DriveRun& run);
