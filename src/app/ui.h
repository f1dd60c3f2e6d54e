// The interactive screens, menus and dialogues, and the command line.
#pragma once

#include <cstddef>
#include <cstdint>

#include "blacklist/store.h"
#include "task/task.h"

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

// --force: no extra question before removing a built-in device.
extern int g_force;

// Reads the options; sets g_force, g_allow_unsafe and g_key directly, and
// names each argument it does not know on standard error.
void parse_args(int argc, char** argv, Args* a);

// Interactive mode: blacklist load, banner, elevation test, then the loop.
int interactive(const Args& a);
// Loop head: scan, table, scan log line.
void loop_head(const Args& a);
// One command of the main menu; 0 when the program is to end.
int menu_step(void);
void closing_lines(void);

// Turns a number list into zero-based positions (at most cap). Returns the count.
int parse_selection(const char* line, int n_dev, int* sel, int cap);
// The removal dialogue for a selection.
void removal_dialog(const int* sel, int n);
// Hours for a duration line; 0 means no blacklisting.
int64_t duration_hours(const char* line);
// First byte says yes ('y' or 'Y').
int is_yes(const char* line);
// The line every failed blacklist change prints.
void save_failed(void);
// The line for a blacklist that cannot be read, or holds more than 64 entries.
void unreadable_line(void);
void overfull_line(void);
// The line for a change that the store refused (FAILED, UNREADABLE, OVERFULL).
void refused_line(bl_status st);
// Device text for the screen: UTF-8, control characters blanked.
void shown_text(const char16_t* w, char* out, size_t size);
// The same for UTF-8 text (an entry read from a file anyone with rights may
// have edited); returns buf.
const char* shown_text8(const char* s, char* buf, size_t size);

// Set by --allow-unsafe-dir: create the task even where ordinary users could
// change what it runs.
extern int g_allow_unsafe;
// Creates the task for the menu or the dialogue, which print their own
// success line; failures and refusals are printed here (TASK_FAILED). Every
// install and every deletion of the task is logged by these functions.
task_result install_task_ui(void);
// After the success line, when the task could only be created with its
// five-minute timer.
void timer_only_hint(void);
// --install-task: the exit code.
int install_task_mode(void);
// --remove-task and the menu's u: deletes the task, logs that, and removes
// the event log source; 1 when the task was deleted.
int uninstall_task(void);

void bl_menu(void);
int blist_mode(void);

// The documents for scripts: the device list (-s --json) and the blacklist
// (--blist --json). Both return the exit code.
int scan_json(const Args& a);
int blist_json(void);
// --check: whether the blacklist holds on this machine; the exit code.
int check_mode(int json);
