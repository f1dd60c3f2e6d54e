// The activity log: one timestamped line per event, appended to
// device_cleanup_log.txt beside the executable, and the same event in the
// system's event log.
#pragma once

#include <cstdint>

#include "base/text.h"

// The ids under which the lines reach the event log. Event Viewer shows
// them and administrators filter on them, so they are a public interface:
// a number never changes meaning, and a new line takes the next free id of
// its type. The thousands give the type: 1 information, 2 warning, 3 error.
// Each id's text, with its arguments as %1, %2..., is in events.mc.
enum log_event : uint16_t {
    LOG_FILE_ONLY = 0,  // the scan count: the file alone

    EV_REMOVED = 1001,
    EV_BLACKLISTED = 1002,
    EV_TASK_INSTALLED = 1003,
    EV_TASK_REMOVED = 1004,
    EV_CLEARED = 1005,
    EV_LIFTED = 1006,
    EV_HIT = 1007,
    EV_ENFORCED = 1008,
    EV_EXPIRED = 1009,
    EV_BLOCKED = 1010,
    EV_UNBLOCKED = 1011,
    EV_DRIVEN_REMOVAL = 1012,
    EV_BY_NAME_REACH = 1013,
    EV_ABSENT_REMOVED = 1014,
    EV_MODEL_RULE = 1015,
    EV_MODEL_RULE_LIFTED = 1016,
    EV_APPROVED = 1017,
    EV_UNAPPROVED = 1018,
    EV_ALLOWED = 1019,
    EV_UNALLOWED = 1020,
    EV_LAYERING_ON = 1021,
    EV_LAYERING_OFF = 1022,
    EV_SPARED = 1023,
    EV_RULE_ENDED = 1024,
    EV_POLICY_RULE_NEW = 1025,
    EV_POLICY_RULE_GONE = 1026,

    EV_REMOVED_RESTART = 2001,
    EV_ENFORCED_RESTART = 2002,
    EV_TASK_UNSAFE = 2003,
    EV_TASK_REFUSED = 2004,
    EV_BLOCK_REWRITTEN = 2005,
    EV_BLOCK_FAILED = 2006,
    EV_BLOCK_UNSUPPORTED = 2007,
    EV_TASK_XML_LEFT = 2008,
    EV_BLOCK_DISABLED = 2009,
    EV_TASK_NO_POLICY = 2010,
    EV_TASK_PATH_TOO_LONG = 2011,
    EV_BLOCK_KEPT = 2012,
    EV_BLOCK_NOT_ON = 2013,
    EV_BLOCK_LOCK_BUSY = 2014,
    EV_TASK_RECORD_LEFT = 2015,
    EV_MODEL_NONE = 2016,
    EV_MODEL_SHARED = 2017,
    EV_MODEL_BUILTIN = 2018,
    EV_MODEL_UNKNOWN = 2019,
    EV_MODEL_LOST = 2020,
    EV_LIFT_STILL_REACHED = 2021,
    EV_ABSENT_REMOVED_RESTART = 2022,
    EV_ADMIN_ALLOWS = 2023,
    EV_POLICY_BAD_VALUE = 2024,
    EV_AUDIT_WOULD_REMOVE = 2025,
    EV_ALLOW_REWRITTEN = 2026,
    EV_ALLOW_KEPT = 2027,
    EV_MODEL_GIVEN_UP = 2028,
    EV_LIFT_STILL_BY_RULE = 2029,

    EV_REMOVE_FAILED = 3001,
    EV_ENFORCE_FAILED = 3002,
    EV_BLACKLIST_FAILED = 3003,
    EV_ENUM_FAILED = 3004,
    EV_BLACKLIST_UNREADABLE = 3005,
    EV_PROGRAM_TIMEOUT = 3006,
    EV_TASK_INSTALL_FAILED = 3007,
    EV_BLACKLIST_BAD_LINES = 3008,
    EV_UNBLOCK_FAILED = 3009,
    EV_TASK_REMAINS = 3010,
    EV_MODELS_UNREADABLE = 3011,
    EV_MODELS_BAD_LINES = 3012,
    EV_ABSENT_REMOVE_FAILED = 3013,
    EV_POLICY_UNREADABLE = 3014,
    EV_RULES_UNREADABLE = 3015,
    EV_RULES_BAD_LINES = 3016,
    EV_ALLOW_FAILED = 3017,
    EV_UNALLOW_FAILED = 3018,
    EV_IDS_UNREADABLE = 3019,
    EV_RULES_OVERFULL = 3020,
    EV_BLACKLIST_OVERFULL = 3021,
};

// The event source our events are written under: the name of its key under
// the Application log, which tells Event Viewer where their texts are.
extern const char16_t EVENT_SOURCE[];

// One line, printf-style (our own formatter: %d %lld %s ...). The event
// gets the line's arguments as its insertion strings, in order. Failures
// are silent.
void logline(log_event ev, const char* f, ...) QF_PRINTF(2, 3);

// From now on no line is written, neither to the file nor as an event: for
// --check, which must leave no trace of its own.
void log_off(void);
