// Where the data files live: beside the executable, whatever its path. Their
// names are spelled here once.
#pragma once

#include <cstddef>

#include "base/text.h"

enum data_file {
    DATA_BLACKLIST,       // blacklist.tsv
    DATA_BLACKLIST_TMP,   // its next content, before it replaces it
    DATA_BLACKLIST_LOCK,  // held by every change of the blacklist
    DATA_LOG,             // device_cleanup_log.txt
    DATA_LOG_LOCK,        // held by every line appended to the log
    DATA_TASK_XML,        // the task's definition, while schtasks reads it
    DATA_MODELS,          // blacklist-models.tsv: the models of by-name entries
    DATA_MODELS_TMP,      // its next content
    DATA_RULES,           // blacklist-rules.tsv: model rules and approvals
    DATA_RULES_TMP,       // its next content
    DATA_POLICY,          // policy-snapshot.tsv: the policy key as last read
    DATA_POLICY_TMP,      // its next content
};

// The file's name, ASCII.
const char* data_file_name(data_file f);
// The full path of the data file beside the running executable (exe_path).
// 0 when the executable's path is unknown or the result does not fit: a
// data file must never silently land somewhere else.
int data_path(char16_t* out, size_t units, data_file f);
// The folder itself, with its trailing separator.
int data_dir(char16_t* out, size_t units);
