// The command line: which mode a run performs, and the flags it sets.
#pragma once

enum { ARGS_HELP = 1, ARGS_VERSION = 2 };

// The modes a script drives without a person: remove what a scan lists,
// add an entry, lift entries, approve a model or a unit, lift an approval.
enum { DRIVE_NONE, DRIVE_REMOVE, DRIVE_BLACKLIST, DRIVE_UNBLACKLIST, DRIVE_APPROVE, DRIVE_UNAPPROVE };

constexpr int ARGS_MAX_IDS = 256;

struct Args {
    int info = 0;       // ARGS_HELP or ARGS_VERSION, whichever came first: before any mode
    int scan_all = 1;   // interactive scans include devices that are not attached
    int scan_only = 0;  // end after the first table
    int enforce = 0;
    int install_task = 0;
    int remove_task = 0;
    int check = 0;
    int blist = 0;
    int json = 0;  // a JSON document instead of the screen (-s, --blist, --check, the driven modes)
    int drive = DRIVE_NONE;
    // What the driven modes were given; a text is as typed (UTF-8), checked
    // by the mode that takes it.
    const char* hours = nullptr;       // --hours
    const char* ids[ARGS_MAX_IDS] = {};  // --id, in the order given
    int nids = 0;
    const char* name = nullptr;        // --name
    const char* model = nullptr;       // --model: a hardware id
    int by_name = 0;                   // --by-name
    int all = 0;                       // --all
    int what_if = 0;                   // --what-if
    int force = 0;         // --force: no extra question before removing a built-in device; with the
                           // driven modes, what they refuse without it
    int allow_unsafe = 0;  // --allow-unsafe-dir: create the task even where ordinary users could
                           // change what it runs
};

// What the elevated relaunch passes to the new copy, which reads nothing in it.
extern const char ARG_ELEVATED[];

// Reads the options into *a, and the keyword into g_key. 1 when
// the command line can run; 0 after a usage error (an argument it does not
// know, an option without its value, an option outside the modes that take
// it, a driven mode with another mode or without what it needs), which it
// has named on standard error, with a pointer to --help: nothing else may
// then run.
int parse_args(int argc, char** argv, Args* a);
