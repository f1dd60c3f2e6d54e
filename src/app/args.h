// The command line: which mode a run performs, and the flags it sets.
#pragma once

enum { ARGS_HELP = 1, ARGS_VERSION = 2 };

struct Args {
    int info = 0;       // ARGS_HELP or ARGS_VERSION, whichever came first: before any mode
    int scan_all = 1;   // interactive scans include devices that are not attached
    int scan_only = 0;  // end after the first table
    int enforce = 0;
    int install_task = 0;
    int remove_task = 0;
    int check = 0;
    int blist = 0;
    int json = 0;  // a JSON document instead of the screen (-s, --blist, --check)
};

// What the elevated relaunch passes to the new copy, which reads nothing in it.
extern const char ARG_ELEVATED[];

// --force: no extra question before removing a built-in device.
extern int g_force;
// --allow-unsafe-dir: create the task even where ordinary users could change
// what it runs.
extern int g_allow_unsafe;

// Reads the options; sets g_force, g_allow_unsafe and g_key directly. 1 when
// the command line can run; 0 after a usage error (an argument it does not
// know, an option without its value), which it has named on standard error,
// with a pointer to --help: nothing else may then run.
int parse_args(int argc, char** argv, Args* a);
