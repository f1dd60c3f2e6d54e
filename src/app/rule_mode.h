// Rules without an instance id from the command line: model rules and
// approvals.
#pragma once

#include "app/args.h"
#include "app/driven.h"
#include "store/store.h"

// --blacklist --model: the exit code.
int model_rule_mode(const Args& a);
// --unblacklist --model (kind RULE_MODEL), --unapprove --model or --id
// (RULE_APPROVE_MODEL or RULE_APPROVE_ID), --unapprove --all (all_kinds):
// the exit code.
int lift_rules_mode(const Args& a, rule_kind kind, int all_kinds);
// Their lifting alone, said unless a.json (listed with a.what_if): the rules
// of the kind (and with all_kinds the approvals of units) with this id, or
// all with id null. How many; they are in *gone, and *st says whether the
// store could change the rules file.
int lift_rules(const Args& a, rule_kind kind, int all_kinds, const char* id, bl_status* st, const Rule** gone);
// A --model that is no hardware id: one [错误] line (JSON "bad_model"), exit 1.
int refuse_model(const Args& a);
// --approve: the exit code.
int approve_mode(const Args& a);
// The model rule of --model for --hours, put as --blacklist --model puts it
// (the checks made, the lines said); 1 when put, and then run->rule_after
// is the rule as it stands.
int model_rule_put(DriveRun* run, const Args& a, int64_t hours);
