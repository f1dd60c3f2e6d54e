// The simulated machine behind the Linux build: what a machine file (named by
// QUILLFEN_MACHINE) or the built-in demo machine declares. sim.cpp serves
// the seam from it.
//
// Machine file: UTF-8, one directive per line, fields separated by TABs,
// '#' lines and blank lines ignored, LF or CR LF line ends.
//   elevated  yes|no                 the process has administrator rights (default yes)
//   system    yes|no                 the process runs as the system account, as
//                                    the scheduled task runs it (default no)
//   relaunch  yes|no                 the elevated relaunch starts (default no)
//   enum-fail <code>                 every device-set open fails with <code>
//   exe       <path>                 the executable's path as loaded (default /proc/self/exe)
//   exe-final <path>|fail            its final path as the system spells it, every
//                                    link resolved (default: the path as loaded);
//                                    fail: it cannot be had
//   volume    <path> fixed|removable|remote|cdrom|ramdisk|unknown
//                                    the kind of the volume mounted at <path>; a
//                                    path is on the volume of the longest such
//                                    folder that holds it (default fixed)
//   safe-dll-search yes|no           the system can restrict DLL loads to the
//                                    system directory (default yes)
//   computer  <name>|fail            the computer's name (default QF-SIM); fail:
//                                    it cannot be had
//   sysdir    <path>                 the system directory (default C:\Windows\system32);
//                                    the only programs that exist are in it
//   clock     <epoch seconds>        fixed current time (default: the real clock)
//   record    <path>                 append-only file of observable events
//   run       <prefix> <codes>|hang|nostart|task
//                                    a system program whose "<name> <arguments>"
//                                    (name without directory and ".exe") starts
//                                    with <prefix> ends so; codes is one exit
//                                    code or a comma list taken by successive
//                                    runs, the last one repeating; hang: it is
//                                    stopped at the time limit (at once here);
//                                    task: 0 while the machine's task stands
//                                    (below), 1 otherwise, as "schtasks /Query"
//                                    answers; first rule wins; a program
//                                    without a rule exits 1
//   dev       <1|0> <friendly> <description> <class> <instance id> [flags [hardware ids [compatible ids [parent]]]]
//                                    one device record, in enumeration order;
//                                    the id lists are ids separated by ';'
//                                    (empty: the property is missing);
//                                    an empty field is a missing property, a
//                                    field "" (two quotes) an empty string;
//                                    flags, comma-separated: ci-fail (the class
//                                    installer refuses it), restart (its removal
//                                    needs a restart and leaves it pending),
//                                    stays (removal reports success, the device
//                                    stays), leaving (its removal is pending,
//                                    for a record that is not attached too);
//                                    parent: the instance id of its parent in
//                                    the device tree (empty or left out: none)
//   perm      <path> <owner>|unreadable [<who>:<hex mask>[:io][:oi]]...
//                                    the owner and allow entries of a file or
//                                    folder (who: system, admins, installer,
//                                    other, creator-owner; io: inherit-only,
//                                    oi: files inherit it); "unreadable":
//                                    they cannot be read. Undeclared paths
//                                    belong to admins, who alone have access.
//   stdin-eof <text>                 a whole input line equal to <text> reads
//                                    as one end of input, like Ctrl+Z typed at
//                                    a console, after which input goes on
//   registry  <path>                 the registry (HKEY_LOCAL_MACHINE): a file
//                                    read at start if it exists and rewritten
//                                    after every change; one value per line,
//                                    "<key>\t<name>\tsz|expand|dword\t<data>"
//                                    (data: the rest of the line; a DWORD in
//                                    decimal), read afresh and rewritten under
//                                    a lock by each registry call, so that
//                                    processes share it as they share Windows'
//                                    registry. Without it the registry starts
//                                    empty and lives in memory.
//                                    Each key also has a time that grows with every
//                                    change of it (sys_reg_key_time), kept in
//                                    "<registry>.times" as "<key>\t<n>" lines; a
//                                    key without one there has time 0. The
//                                    machine-wide lock (sys_mutex_take) is an
//                                    exclusive lock on "<registry>.mutex".
//   reg-deny  <key>                  writes to this key and below it fail
//   lock-held <file name>            another process holds this lock file:
//                                    every wait for it times out at once
//   events    yes|no                 record the event-log events (default no)
//   demo                             the built-in demo machine's devices, programs
//                                    and Windows version (a Windows 10 Pro in the
//                                    registry, unless a registry file replaces it)
//   delete-fails <file name>         another program holds every file of this
//                                    name open: deleting one that exists fails
//   fail      <function> <N>|<N>+    the Nth call of the seam function (from the
//                                    Nth on, with "+") fails as the real call
//                                    would (list below); "*" for the function
//                                    counts the calls of all of them together;
//                                    several lines may stand
//   pause     <function> <N> <file>  the Nth call of the seam function waits
//                                    until <file> exists, then goes on as usual
//                                    (counted as for fail; "*" counts them all),
//                                    so that tests can order processes exactly
//   program   <path> <host program>  a program that stands at <path> besides the
//                                    system directory's: sys_run starts <host
//                                    program> for real, with the command line's
//                                    arguments, the caller's working directory,
//                                    this machine file (its fail and pause lines
//                                    left out: they are the starter's) and <path>
//                                    as its executable's path, and hands back its
//                                    exit code; stopped at the time limit
//   swdev     yes|no                 software devices can be made (default yes)
//   install-policy yes|no            Windows applies the device installation
//                                    restrictions to them (default yes)
// Software devices, the scheduled task and the audit setting are the machine's,
// shared by every process of it: with a registry file they are kept in
// "<registry>.state" (locked by "<registry>.state.lock"), one per line:
//   swdev <pid> <installed 0|1> <instance id> <name> <hardware ids, ';'>
//                                    a software device's record; pid: the process
//                                    whose slot holds it (0: not present; it is
//                                    not present either once that process ended)
//   task  <command> <arguments>      the task a "schtasks /Create ... /XML" that
//                                    exited 0 was handed; "/Delete" that exits 0
//                                    drops it
//   audit-pnp <0-3>                  "Plug and Play Events" auditing: 1 success,
//                                    2 failure, 3 both
//   arrival                          the task's trigger fired; its run is due
// What Windows does with them here: a new record, or one that was never
// installed, is installed unless the restrictions under
// SOFTWARE\Policies\Microsoft\Windows\DeviceInstall\Restrictions refuse it
// ("Manage Device Installation with Group Policy"): DenyInstanceIDs (with its
// DWORD switch 1) by instance id, DenyDeviceIDs by hardware or compatible id;
// where AllowDenyLayered is 1, AllowInstanceIDs (with its switch) outranks
// every layer below the instance ids, otherwise every prevention wins. A
// record that was installed is not installed again when it returns: it
// starts. An installed device that starts is an arrival: the task, when
// there is one and its command is a program line's, runs at the next
// sys_sleep of any process (a few seconds later, as its trigger's delay
// makes it), as the system account and to its end. A refusal is event 6423 (with "events yes") while
// success auditing is on. "pnputil /scan-devices" that exits 0 installs again
// the present devices that were refused, where nothing refuses them now.
// "auditpol /backup /file:<path>" that exits 0 writes the audit policy's CSV
// with the Plug and Play Events row; "auditpol /set /subcategory:{GUID}
// /success:enable|disable /failure:enable|disable" sets it.
// The functions that fail on request, each checked once at its top:
//   sys_dev_open                     no set, error 8 (ERROR_NOT_ENOUGH_MEMORY)
//   sys_dev_open_id                  no set, as for an id no device has (the
//                                    seam knows no other failure for it)
//   sys_dev_remove                   SYS_REMOVE_FAILED; the device stays
//   sys_run, sys_relaunch_elevated   the program does not start
//   sys_file_open                    SYS_READ_FAILED, as for a file another
//                                    program holds without sharing
//   sys_file_next                    a read error
//   sys_file_append                  nothing is written
//   sys_file_create                  a create, write or flush that fails:
//                                    nothing is left behind
//   sys_file_replace                 both files stay as they were
//   sys_file_delete, sys_file_delete_wait   the file stays
//   sys_file_access                  the permission list cannot be read
//   sys_lock_take                    no lock
//   sys_dir_open                     no listing
//   sys_reg_dword, sys_reg_text, sys_reg_value_at   SYS_REG_FAILED, as for a
//                                    key that cannot be opened or read
//   sys_reg_set_dword, sys_reg_set_text, sys_reg_delete_value,
//   sys_reg_delete_key               0; the registry is unchanged
//   sys_event                        the event is not written
//   sys_mutex_take                   no lock
//   sys_reg_kind, sys_reg_key_time   SYS_REG_FAILED
//   sys_dev_ids                      the list cannot be read (an empty list)
//   sys_swdev_create                 SYS_SWDEV_FAILED: nothing is made
//   sys_dev_wait_installs            the time runs out
//   sys_reg_subkey_at                SYS_REG_FAILED
//   sys_run counts sys_run_output's calls too.
// Record lines, one per event: "enum\tall|present" for every device-set open
// (failed ones too), "open\t<id>" for every lookup of one device,
// "run\t<command line>" for every program start (also one that cannot
// start), "xml\tevents|timer[+policy]|..." for a task definition a program
// is handed with /XML (with or without the device-event trigger, and the
// policy trigger; anything else says what is wrong), "remove\t<instance id>" for every removal that took place,
// "relaunch\trunas\t<exe>\t--elevated" for every relaunch attempt, "lock-timeout\t<file
// name>" for every wait for a lock that timed out, "event\t<id>\t<type>[\t<string>]..."
// for every event written (with "events yes"), "fail\t<function>" for every
// failure made on request (in place of the call's own line), and
// "pause\t<function>" when a pause begins, "swdev\t<instance id>\tinstalled|refused|returned" for every
// software device made, "unplug\t<instance id>" for every one closed, and
// "task\t<command line>" for every time the task runs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sys/sys.h"

constexpr int SIM_MAX_DEVS = 8192;
constexpr int SIM_MAX_RULES = 64;
constexpr int SIM_MAX_CODES = 8;
constexpr size_t SIM_PATH_BYTES = 4096;
constexpr int SIM_MAX_PERMS = 32;
constexpr int SIM_PERM_ACES = 5;
// The registry holds the largest policy (5 lists of 128 values), as many
// values that keep them between passes, and the install block's lists and
// records for every id blocked, beside Windows' own values.
constexpr int SIM_MAX_REG = 4096;
constexpr int SIM_MAX_VOLUMES = 8;
constexpr int SIM_MAX_TIMES = 64;
// A value's name holds a kept policy rule's "<list>\<name>" with the longest
// name a rule may have.
constexpr size_t SIM_REG_KEY = 512, SIM_REG_NAME = 640, SIM_REG_DATA = 4200;

enum { SIM_FRIENDLY = 0, SIM_DESC = 1, SIM_CLASS = 2, SIM_INST = 3, SIM_FIELDS = 4 };
enum { SIM_RUN_CODE, SIM_RUN_HANG, SIM_RUN_NOSTART, SIM_RUN_TASK };

struct SimDev {
    const char16_t* text[SIM_FIELDS];  // nullptr: the property is missing
    const char16_t* ids[2];            // hardware and compatible ids, multi-strings; nullptr: missing
    const char16_t* parent;            // the parent's instance id; nullptr: none
    uint8_t present;
    uint8_t gone;      // removed earlier in this process
    uint8_t pending;   // its removal waits for a restart
    uint8_t ci_fail;
    uint8_t restart;
    uint8_t stays;
    uint8_t sw;         // a software device of the state file
    uint8_t installed;  // software device: its record was installed
    int pid;            // software device: the process holding it, 0 for none
};

struct SimProgram {
    char path[512];  // as the machine's programs name it
    char host[SIM_PATH_BYTES];
};
constexpr int SIM_MAX_PROGRAMS = 4;

struct SimRule {
    char prefix[512];
    int kind;
    int codes[SIM_MAX_CODES];
    int ncodes;
    int used;  // runs so far
};

struct SimPerm {
    char path[1024];
    int readable;
    principal owner;
    sys_ace aces[SIM_PERM_ACES];
    int n;
};

// One registry value; UTF-8 texts.
struct SimRegValue {
    char key[SIM_REG_KEY];
    char name[SIM_REG_NAME];
    sys_reg_type type;
    char data[SIM_REG_DATA];  // a DWORD in decimal
};

// When a registry key last changed.
struct SimKeyTime {
    char key[512];
    uint64_t n;
};

struct SimVolume {
    char path[1024];
    sys_volume kind;
};

// The seam functions that fail on request, in the order of SIM_FN_NAMES.
enum sim_fn {
    SIM_DEV_OPEN, SIM_DEV_OPEN_ID, SIM_DEV_REMOVE, SIM_RUN, SIM_RELAUNCH,
    SIM_FILE_OPEN, SIM_FILE_NEXT, SIM_FILE_APPEND, SIM_FILE_CREATE, SIM_FILE_REPLACE,
    SIM_FILE_DELETE, SIM_FILE_DELETE_WAIT, SIM_FILE_ACCESS, SIM_LOCK_TAKE, SIM_DIR_OPEN,
    SIM_REG_DWORD, SIM_REG_TEXT, SIM_REG_VALUE_AT, SIM_REG_SET_DWORD, SIM_REG_SET_TEXT,
    SIM_REG_DELETE_VALUE, SIM_REG_DELETE_KEY, SIM_EVENT, SIM_MUTEX_TAKE, SIM_REG_KIND, SIM_REG_KEY_TIME, SIM_DEV_IDS,
    SIM_DEV_PARENT, SIM_SWDEV_CREATE, SIM_DEV_WAIT, SIM_REG_SUBKEY_AT, SIM_RESCAN,
    SIM_FN_COUNT,
    SIM_FN_ANY = SIM_FN_COUNT,  // "*": every call of the functions above
};
extern const char* const SIM_FN_NAMES[SIM_FN_COUNT];

constexpr int SIM_MAX_FAULTS = 8;
// A fail or pause line: the nth call (counted from 1) of fn.
struct SimFault {
    int fn;  // sim_fn, or SIM_FN_ANY
    uint32_t nth;
    int onward;  // fail: every call from the nth on
    char file[SIM_PATH_BYTES];  // pause: what it waits for
};

struct SimMachine {
    SimDev devs[SIM_MAX_DEVS];
    int ndevs;
    SimRule rules[SIM_MAX_RULES];
    int nrules;
    int elevated;
    int system;
    int relaunch;
    int enum_fail;
    uint32_t enum_code;
    char exe[SIM_PATH_BYTES];
    char exe_final[SIM_PATH_BYTES];  // empty: the path as loaded
    int exe_final_fails;
    SimVolume volumes[SIM_MAX_VOLUMES];
    int nvolumes;
    int dll_search_unsafe;
    char delete_fails[256];
    char sysdir[SIM_PATH_BYTES];
    char computer[64];  // empty: it cannot be had
    int have_clock;
    int64_t clock;
    char record[SIM_PATH_BYTES];
    char eof_line[64];
    SimPerm perms[SIM_MAX_PERMS];
    int nperms;
    SimKeyTime times[SIM_MAX_TIMES];
    int ntimes;
    char registry[SIM_PATH_BYTES];  // the registry's file, if any
    char reg_deny[SIM_REG_KEY];
    char lock_held[256];
    int events;
    SimFault faults[SIM_MAX_FAULTS];
    int nfaults;
    SimFault pauses[SIM_MAX_FAULTS];
    int npauses;
    uint32_t calls[SIM_FN_COUNT + 1];  // calls so far, per function and of all
    SimProgram programs[SIM_MAX_PROGRAMS];
    int nprograms;
    int swdev_unavailable;
    int policy_ignored;  // "install-policy no"
    int nstatic;         // devices of the machine file; software devices follow
    char task[SIM_PATH_BYTES];  // "<command>\t<arguments>"; empty: no task
    int arrival;                // the task's trigger fired and its run is due
    int audit_pnp;
    int nreg;
    // Last: a load leaves the rows past nreg as they are (each is written
    // whole when it is added), so that rows never used cost no memory.
    SimRegValue reg[SIM_MAX_REG];
};

extern SimMachine g_sim;

// Loads the machine: the file named by path, or the demo machine for null.
// Whatever an earlier load set up is forgotten first. 0 (with a message on
// standard error) when the file cannot be read or holds an unknown line.
int sim_load_machine(const char* path);
// Appends one line "kind\ttext" to the record file, if there is one.
void sim_record(const char* kind, const char* text);
// Counts one call of fn, first waiting as a pause line asks; 1 when a fail
// line makes this call fail (recorded), 0 when it goes on as usual.
int sim_fails(sim_fn fn);
// Reads the registry's file, if there is one, into g_sim.reg (and its
// times) again, and rewrites the files from g_sim.
int sim_reload_registry(void);
void sim_save_registry(void);

// The machine's shared state ("<registry>.state"), under its lock while one
// of these is in scope; without a registry file it lives in this process.
struct SimStateLock {
    int fd;
    SimStateLock();
    ~SimStateLock();
};
// Reads the software devices (after the machine file's), the task and the
// audit setting again; no device set may be open.
void sim_state_load(void);
void sim_state_save(void);
// A software device record in g_sim.devs, made or found by instance id (UTF-8).
SimDev* sim_swdev_find(const char* inst);
SimDev* sim_swdev_add(const char* inst, const char* name, const char* hardware_ids);
// Drops a software device's record from the state file, whatever this
// process loaded of it.
void sim_state_forget(const char* inst);
// Ids of a multi-string joined by ';', as the state file and the machine
// file write them, into out.
size_t sim_ids_text(const char16_t* multi, char* out, size_t size);
