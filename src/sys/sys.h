// The operating-system seam: every call the program makes into the platform
// goes through one of these plain functions. Two implementations exist:
// win32.cpp (the real Windows API) and sim.cpp (a simulated machine used by
// the Linux build and its tests). No platform type crosses this header.
#pragma once

#include <cstdint>

// ---- device set -----------------------------------------------------------
// One set is open at a time; a member becomes "current" through sys_dev_next
// and the property readers below act on the current member.
struct sys_devset;

enum sys_prop { SYS_PROP_FRIENDLYNAME = 0, SYS_PROP_DEVICEDESC = 1, SYS_PROP_CLASS = 2 };

// all != 0: every device record of every class, present or not;
// all == 0: present devices only. On failure returns nullptr and sets *err
// to the system error number.
sys_devset* sys_dev_open(int all, uint32_t* err);
// Fetches member `index` (counted from 0) and makes it current; 0 past the end.
int sys_dev_next(sys_devset* s, uint32_t index);
// Reads a string property of the current member into buf (bytes = buffer size
// in bytes). 1 on success; 0 (buffer untouched) when missing or too big.
int sys_dev_prop(sys_devset* s, int prop, char16_t* buf, uint32_t bytes);
// Reads the current member's instance id (units = buffer size in units).
int sys_dev_id(sys_devset* s, char16_t* buf, uint32_t units);
// 1 when the current member is attached to the running system now.
int sys_dev_present(sys_devset* s);
// Removes the current member through its class installer (global scope).
// 1 when both attaching the parameters and the installer call succeeded.
int sys_dev_remove(sys_devset* s);
void sys_dev_close(sys_devset* s);

// ---- processes --------------------------------------------------------------
// Starts `cmdline` (a complete command line, e.g. "cmd.exe /c ...") without a
// window or inherited handles and waits at most timeout_ms. Returns its exit
// code, 259 when it is still running after the wait (it is left running), and
// -1 when it cannot be started or its exit code cannot be read.
int sys_run_hidden(const char16_t* cmdline, uint32_t timeout_ms);

// ---- process identity -------------------------------------------------------
// 1 when the process token says the process is elevated; 0 otherwise or on
// any failure.
int sys_is_elevated(void);
// Starts the running executable again through the shell with the verb
// "runas", the single parameter "--elevated" and the current directory.
// 1 when the shell reports that the copy was started.
int sys_relaunch_elevated(void);
// Full path of the running executable: ANSI form (bytes) and UTF-16 form
// (units). Return the length, 0 on failure.
uint32_t sys_exe_path_a(char* buf, uint32_t bytes);
uint32_t sys_exe_path_w(char16_t* buf, uint32_t units);

// ---- console ---------------------------------------------------------------
// Switches the console's output and input code pages to UTF-8 (failures are
// ignored: there may be no console at all).
void sys_console_utf8(void);
// Writes UTF-8 bytes to standard output.
void sys_out(const char* s, uint32_t n);
// Bounded line read from standard input, like fgets: at most size-1 bytes,
// stopping after a line feed; always terminated. 0 at the end of input.
int sys_read_line(char* buf, int size);

// ---- files and time --------------------------------------------------------
// Replaces `to` with `from` in one step (the old file stays whole on failure).
int sys_replace_file(const char* from, const char* to);
// The running process's id (keeps temporary file names of two processes apart).
uint32_t sys_pid(void);
// Seconds since 1970-01-01 UTC.
int64_t sys_now(void);
// Local calendar time of t: year, month 1-12, day, hour, minute, second.
void sys_local_time(int64_t t, int out[6]);
