// The operating-system seam: every call the program makes into the platform
// goes through one of these plain functions. Two implementations exist:
// win32.cpp (the real platform) and sim.cpp (a simulated machine used by the
// Linux build and its tests). No platform type crosses this header.
//
// Sizes: UTF-16 buffers are given in units, byte buffers in bytes, both
// including the terminator. Paths are UTF-16.
#pragma once

#include <cstdint>

#include "base/security.h"

// What a read found: the whole thing, nothing there, or a failure.
enum sys_read { SYS_READ_OK, SYS_READ_MISSING, SYS_READ_FAILED };

// ---- device set -----------------------------------------------------------
// One set is open at a time; opening a second fails. A member becomes
// "current" through sys_dev_next (or at once, for sys_dev_open_id), and the
// readers below act on the current member.
struct sys_devset;

enum sys_prop { SYS_PROP_FRIENDLYNAME, SYS_PROP_DEVICEDESC, SYS_PROP_CLASS };

enum sys_presence {
    SYS_ABSENT = 0,   // a record of a device that is not attached
    SYS_PRESENT = 1,  // attached to the running system
    SYS_LEAVING = 2,  // attached, but its removal is already pending
};

enum sys_removal {
    SYS_REMOVE_FAILED = 0,
    SYS_REMOVED = 1,
    SYS_REMOVED_RESTART = 2,  // done, but a restart finishes it
};

// all != 0: every device record of every class, present or not;
// all == 0: present devices only. nullptr on failure, with the system's
// error number in *err.
sys_devset* sys_dev_open(int all, uint32_t* err);
// A set holding the one device with this instance id (letter case aside),
// already current. nullptr when no such device is known (or a set is open).
sys_devset* sys_dev_open_id(const char16_t* id);
// Fetches member `index` (counted from 0) and makes it current; 0 past the end.
int sys_dev_next(sys_devset* s, uint32_t index);
// Reads a text property of the current member. 1 with the whole text in buf;
// 0, buf untouched, when the property is missing or does not fit.
int sys_dev_prop(sys_devset* s, sys_prop prop, char16_t* buf, uint32_t units);
// Reads one of the current member's id lists, the multi-strings Windows
// matches its installation policies against: texts each ended by a 0, the
// list by a second 0. OK with the whole list in buf; otherwise buf is an
// empty list: MISSING when the device has no such list, FAILED when it
// cannot be read or does not fit (a list read in part would hide ids).
enum sys_ids { SYS_IDS_HARDWARE, SYS_IDS_COMPATIBLE };
sys_read sys_dev_ids(sys_devset* s, sys_ids which, char16_t* buf, uint32_t units);
// Reads the current member's instance id. 1 with the whole id in buf; 0 with
// buf empty when it cannot be read or does not fit.
int sys_dev_id(sys_devset* s, char16_t* buf, uint32_t units);
sys_presence sys_dev_presence(sys_devset* s);
// The instance id of the current member's parent in the device tree, such
// as the composite device a USB function belongs to. 1 with the whole id in
// buf; 0 with buf empty when it has none or it cannot be had.
int sys_dev_parent(sys_devset* s, char16_t* buf, uint32_t units);
// Removes the current member from the system, in every hardware profile,
// without any user interface.
sys_removal sys_dev_remove(sys_devset* s);
void sys_dev_close(sys_devset* s);
// Asks Plug and Play to enumerate every device again from the root of the
// tree, without waiting, so that one a lifted block had refused installs
// now. 1 when it was asked.
int sys_rescan(void);

// What the current member's record says of its installation: not attached,
// started with its driver, or attached without one running (a problem
// code, such as 28 for "the drivers for this device are not installed", in
// *problem, or none yet).
enum sys_dev_state { SYS_DEV_NOT_PRESENT, SYS_DEV_STARTED, SYS_DEV_PROBLEM, SYS_DEV_NOT_STARTED };
sys_dev_state sys_dev_state_of(sys_devset* s, uint32_t* problem);
// Waits at most timeout_ms until the system has no device installation
// pending. 1 when none was pending at that moment (a new one may start at
// once after), 0 when the time ran out or it cannot be told.
int sys_dev_wait_installs(uint32_t timeout_ms);

// ---- software devices -------------------------------------------------------
// Devices the self-test makes and unplugs: "SWD\<enumerator>\<instance>"
// under the root of the device tree, present while their slot is open (and
// while the process lives). The record they leave when closed is a device
// record like any other: sys_dev_open_id and sys_dev_remove uninstall it.
constexpr int SYS_SWDEV_SLOTS = 16;
// 1 when this system can make software devices at all; nothing is made.
int sys_swdev_available(void);
enum sys_swdev_made { SYS_SWDEV_MADE, SYS_SWDEV_UNAVAILABLE, SYS_SWDEV_FAILED };
// Makes one with these hardware ids (a multi-string; the system adds its own
// generic compatible ids) and `name` as its description and friendly name,
// and waits at most timeout_ms until the system has enumerated it. MADE puts
// its slot in *slot and the instance id the system gave it in id: the
// system may decorate the name, so the id is never built by the caller.
sys_swdev_made sys_swdev_create(const char16_t* enumerator, const char16_t* instance, const char16_t* hardware_ids,
                                const char16_t* name, uint32_t timeout_ms, int* slot, char16_t* id, uint32_t units);
// Unplugs the device of the slot and frees the slot: "not present", its
// record left as it was, installed or not.
void sys_swdev_close(int slot);

// ---- processes --------------------------------------------------------------
// The system directory, where the system programs live. Returns its length;
// 0 (buf empty) on failure or when it does not fit.
uint32_t sys_system_dir(char16_t* buf, uint32_t units);
// Starts `program` (a full path; nothing is searched) with the complete
// command line `cmdline` in the working directory `cwd`, without a window or
// inherited handles, and waits at most timeout_ms. A program still running
// then is stopped, with whatever it started. EXITED puts its exit code in
// *code (any number: a program may itself exit with 259).
enum sys_run_result { SYS_RUN_EXITED, SYS_RUN_TIMEOUT, SYS_RUN_FAILED };
sys_run_result sys_run(const char16_t* program, const char16_t* cmdline, const char16_t* cwd, uint32_t timeout_ms,
                       int* code);
// The same, with the program's standard output and standard error written
// to the file out_path, made anew (a file standing there is replaced).
sys_run_result sys_run_output(const char16_t* program, const char16_t* cmdline, const char16_t* cwd,
                              uint32_t timeout_ms, int* code, const char16_t* out_path);
// Waits ms milliseconds.
void sys_sleep(uint32_t ms);
// From now on Ctrl+C, Ctrl+Break and closing the console only raise a flag,
// which sys_interrupted reads: the program ends itself, after its cleanup.
void sys_interrupt_catch(void);
int sys_interrupted(void);

// ---- process identity -------------------------------------------------------
// 1 when the process runs with administrator rights; 0 otherwise or on any
// failure.
int sys_is_elevated(void);
// 1 when the process runs as the system account (LocalSystem), as the
// scheduled task runs it; 0 otherwise or on any failure.
int sys_is_system(void);
// Starts the executable `exe` again with administrator rights, with the
// command line `args` and the current directory. 1 when the copy was
// started.
int sys_relaunch_elevated(const char16_t* exe, const char16_t* args);
// The running executable's path as it was loaded, which may pass through a
// link or a junction. Returns its length; 0 (buf empty) on failure or when
// it does not fit.
uint32_t sys_exe_loaded_path(char16_t* buf, uint32_t units);
// Its final path, every link resolved, as the system spells it (on Windows
// "\\?\C:\...", or "\\?\UNC\..." for a share). Returns its length; 0 (buf
// empty) when it cannot be had, as for a volume without a drive letter, or
// does not fit.
uint32_t sys_exe_final_path(char16_t* buf, uint32_t units);
// The computer's NetBIOS name. Returns its length; 0 (buf empty) on failure
// or when it does not fit.
uint32_t sys_computer_name(char16_t* buf, uint32_t units);
// Later DLL loads search the system directory only. 0 when the system
// cannot promise that for the DLLs' own dependencies.
int sys_restrict_dll_search(void);

enum sys_volume {
    SYS_VOLUME_UNKNOWN,  // it cannot be told
    SYS_VOLUME_FIXED,
    SYS_VOLUME_REMOVABLE,
    SYS_VOLUME_REMOTE,
    SYS_VOLUME_CDROM,
    SYS_VOLUME_RAMDISK,
};
// The kind of the volume that holds `path` (a volume mounted in a folder
// counts as itself, not as the volume of the folder).
sys_volume sys_volume_type(const char16_t* path);

// ---- console ---------------------------------------------------------------
// Prepares the console: UTF-8 both ways (failures are ignored: there may be
// no console at all) and standard output without a buffer of its own, so
// that every prompt shows before the program waits. The code pages it
// found come back with sys_console_restore, or when Ctrl+C, Ctrl+Break or
// closing the console ends the process.
void sys_console_init(void);
// Gives the console back the code pages sys_console_init found.
void sys_console_restore(void);
// Writes UTF-8 bytes to standard output / standard error.
void sys_out(const char* s, uint32_t n);
void sys_err(const char* s, uint32_t n);
// Bounded line read from standard input: at most size-1 bytes, stopping
// after a line feed; always terminated. 0 at the end of input. A line that
// ends in CR LF comes out ending in LF alone, from a console, a file or a
// pipe alike; a CR anywhere else stays.
int sys_read_line(char* buf, uint32_t size);

// ---- files ------------------------------------------------------------------
// Files are created with a permission list that lets only the system and
// administrators in.
// A file open for reading, from its start. One is open at a time.
struct sys_file;
// nullptr with *r MISSING when there is no such file, FAILED when what
// stands there cannot be read (no access, a directory in its place).
sys_file* sys_file_open(const char16_t* path, sys_read* r);
// The next bytes: 1 with *got of them in buf (0 at the end of the file);
// 0 on a read error.
int sys_file_next(sys_file* f, char* buf, uint32_t size, uint32_t* got);
void sys_file_close(sys_file* f);
// Appends the bytes in one write to a handle that can only append, creating
// the file when needed. 1 when all were written.
int sys_file_append(const char16_t* path, const char* data, uint32_t n);
// Creates a new file (never opens an existing one), writes the bytes and
// flushes them to the disk. 1 on success; on failure nothing is left behind
// except a file that already stood there.
int sys_file_create(const char16_t* path, const char* data, uint32_t n);
// Replaces `to` with `from` in one step, retrying for about a second while
// another program holds `to` open. The old file stays whole on failure.
int sys_file_replace(const char16_t* from, const char16_t* to);
// Deletes a plain file with a single link, read-only or not; a symbolic
// link is never followed, and a directory, a link or a file with more than
// one link is left alone (0). 1 when the file is gone afterwards (also when
// it never existed).
int sys_file_delete(const char16_t* path);
// The same, retrying for at most wait_ms while another program holds the
// file open or denies access for a moment.
int sys_file_delete_wait(const char16_t* path, uint32_t wait_ms);
// 1 when a file or directory stands at path.
int sys_file_exists(const char16_t* path);

// One allow entry: whom, which access rights, whether it only passes to
// objects created inside (then it grants nothing on this one), and whether
// files created inside inherit it.
struct sys_ace {
    principal who;
    uint32_t mask;
    int inherit_only;
    int files_inherit = 0;
};
constexpr int SYS_MAX_ACES = 64;
// The owner and the allow entries of a file's or folder's permission list
// (deny entries are left out). 0 when they cannot be read completely.
int sys_file_access(const char16_t* path, principal* owner, sys_ace* aces, int* n);

// An exclusive lock on a lock file (created when needed, never deleted),
// honoured by every process of ours. Waits at most wait_ms; nullptr when it
// could not be had. Two locks can be held at once.
struct sys_lock;
sys_lock* sys_lock_take(const char16_t* path, uint32_t wait_ms);
void sys_lock_drop(sys_lock* l);

// A lock of the whole machine, by name (such as u"Global\\Name"), honoured
// by every process of ours whatever its folder or session. Waits at most
// wait_ms; nullptr when it could not be had. One is held at a time, besides
// the two file locks.
struct sys_mutex;
sys_mutex* sys_mutex_take(const char16_t* name, uint32_t wait_ms);
void sys_mutex_drop(sys_mutex* m);

// The names in a directory, one at a time. One listing is open at a time.
struct sys_dir;
sys_dir* sys_dir_open(const char16_t* dir);
// 1 with the next name in buf; 0 at the end (names that do not fit are skipped).
int sys_dir_next(sys_dir* d, char16_t* buf, uint32_t units);
void sys_dir_close(sys_dir* d);

// ---- registry --------------------------------------------------------------
// Keys are paths under HKEY_LOCAL_MACHINE, such as u"SOFTWARE\\Quillfen", in
// the 64-bit view. Key and value names compare without regard to case.
enum sys_reg_type { SYS_REG_SZ, SYS_REG_EXPAND_SZ, SYS_REG_DWORD, SYS_REG_OTHER };
enum sys_reg { SYS_REG_OK, SYS_REG_MISSING, SYS_REG_FAILED };
// A DWORD value. MISSING: no such key or value; FAILED: it cannot be read
// or is of another type.
sys_reg sys_reg_dword(const char16_t* key, const char16_t* name, uint32_t* v);
// A string value (REG_SZ, or REG_EXPAND_SZ unexpanded), whole, into buf;
// FAILED when it is of another type or does not fit.
sys_reg sys_reg_text(const char16_t* key, const char16_t* name, char16_t* buf, uint32_t units);
// The value at position `index` of a key, counted from 0: its name, its
// type and, for a string, its text (empty when it does not fit). MISSING
// past the last value or when the key does not exist. Changing the key
// changes the positions.
sys_reg sys_reg_value_at(const char16_t* key, uint32_t index, char16_t* name, uint32_t name_units, sys_reg_type* type,
                         char16_t* text, uint32_t text_units);
// The type of a value. MISSING: no such key or value; FAILED: it cannot be
// read.
sys_reg sys_reg_kind(const char16_t* key, const char16_t* name, sys_reg_type* type);
// When the key, or any of its values, last changed: a number that only
// grows, to compare with an earlier reading of the same key, and read as
// the system's clock would stamp it (100-ns units since 1601 UTC), which a
// simulated machine's small counts are long before. MISSING when there is
// no such key.
sys_reg sys_reg_key_time(const char16_t* key, uint64_t* t);
// Writing creates the key when needed. 1 on success.
int sys_reg_set_dword(const char16_t* key, const char16_t* name, uint32_t v);
int sys_reg_set_text(const char16_t* key, const char16_t* name, const char16_t* text, sys_reg_type type);
// 1 when the value, or the key (which must have no subkeys), is gone
// afterwards, also when it never existed.
int sys_reg_delete_value(const char16_t* key, const char16_t* name);
int sys_reg_delete_key(const char16_t* key);
// The name of the subkey at position `index` of a key, counted from 0.
// MISSING past the last one or when the key does not exist; FAILED when it
// cannot be read or the name does not fit.
sys_reg sys_reg_subkey_at(const char16_t* key, uint32_t index, char16_t* name, uint32_t units);

// ---- event log -----------------------------------------------------------------
enum sys_event_type { SYS_EVENT_INFO, SYS_EVENT_WARNING, SYS_EVENT_ERROR };
// Writes one event of the event source `source` to the Application log, with
// its insertion strings (%1, %2, ...). Failures are ignored. A process
// writes under one source.
void sys_event(const char16_t* source, uint16_t id, sys_event_type type, const char16_t* const* strings, int n);
// Looks in the event log `channel` (u"Application", u"Security") for an
// event of `provider` with this id, written in the last within_s seconds,
// whose rendering holds `text` (A-Z taken as a-z). 1 found, 0 not found, -1
// when the log cannot be read.
int sys_event_seen(const char16_t* channel, const char16_t* provider, uint16_t id, const char16_t* text,
                   uint32_t within_s);

// ---- time ---------------------------------------------------------------------
// Seconds since 1970-01-01 UTC.
int64_t sys_now(void);
// Local calendar time of t: year, month 1-12, day, hour, minute, second.
void sys_local_time(int64_t t, int out[6]);
