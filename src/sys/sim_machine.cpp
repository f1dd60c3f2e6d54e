// Reading a machine file (or the built-in demo machine) into g_sim.
// Everything lives in fixed static storage: this file is linked into the
// program, which allocates nothing on the heap.
#include "sys/sim_machine.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/text.h"

SimMachine g_sim;

const char* const SIM_FN_NAMES[SIM_FN_COUNT] = {
    "sys_dev_open", "sys_dev_open_id", "sys_dev_remove", "sys_run", "sys_relaunch_elevated",
    "sys_file_open", "sys_file_next", "sys_file_append", "sys_file_create", "sys_file_replace",
    "sys_file_delete", "sys_file_delete_wait", "sys_file_access", "sys_lock_take", "sys_dir_open",
    "sys_reg_dword", "sys_reg_text", "sys_reg_value_at", "sys_reg_set_dword", "sys_reg_set_text",
    "sys_reg_delete_value", "sys_reg_delete_key", "sys_event", "sys_mutex_take", "sys_reg_kind", "sys_reg_key_time",
    "sys_dev_ids", "sys_dev_parent", "sys_swdev_create", "sys_dev_wait_installs", "sys_reg_subkey_at",
    "sys_rescan",
};

namespace {

constexpr uint32_t POOL_UNITS = 1u << 22;  // UTF-16 text of all devices (8 MB)

char16_t g_pool[POOL_UNITS];
uint32_t g_pool_used;
uint32_t g_pool_static;  // the machine file's texts end here; the state's follow
char g_line[65536];

// Stores a UTF-8 text in the pool as terminated UTF-16. A UTF-16 form never
// has more units than the UTF-8 form has bytes, so n + 1 units always hold it.
const char16_t* pool_add(const char* s, size_t n) {
    if ((uint64_t)n + 1 > POOL_UNITS - g_pool_used) return nullptr;
    char16_t* at = g_pool + g_pool_used;
    g_pool_used += (uint32_t)utf16n(s, n, at, n + 1) + 1;
    return at;
}

int yes_no(const char* v, int* out) {
    if (strcmp(v, "yes") == 0) {
        *out = 1;
        return 1;
    }
    if (strcmp(v, "no") == 0) {
        *out = 0;
        return 1;
    }
    return 0;
}

int parse_int64(const char* v, int64_t* out) {
    if (!*v) return 0;
    char* end = nullptr;
    errno = 0;
    long long x = strtoll(v, &end, 10);
    if (errno || (*end && *end != ',')) return 0;
    *out = x;
    return 1;
}

const char* parse_rule(char* prefix, const char* what) {
    if (g_sim.nrules == SIM_MAX_RULES) return "too many run rules";
    SimRule& r = g_sim.rules[g_sim.nrules];
    r = SimRule{};
    if (strcmp(what, "hang") == 0) {
        r.kind = SIM_RUN_HANG;
    } else if (strcmp(what, "nostart") == 0) {
        r.kind = SIM_RUN_NOSTART;
    } else if (strcmp(what, "task") == 0) {
        r.kind = SIM_RUN_TASK;
    } else {
        r.kind = SIM_RUN_CODE;
        for (const char* p = what;; p++) {
            int64_t n;
            if (r.ncodes == SIM_MAX_CODES || !parse_int64(p, &n)) return "expected exit codes, hang, nostart or task";
            r.codes[r.ncodes++] = (int)n;
            p = strchr(p, ',');
            if (!p) break;
        }
    }
    scopy(r.prefix, sizeof r.prefix, prefix);
    g_sim.nrules++;
    return nullptr;
}

const char* parse_dev_flags(char* flags, SimDev* v) {
    for (char* f = flags; *f;) {
        char* end = strchr(f, ',');
        if (end) *end = 0;
        if (strcmp(f, "ci-fail") == 0) v->ci_fail = 1;
        else if (strcmp(f, "restart") == 0) v->restart = 1;
        else if (strcmp(f, "stays") == 0) v->stays = 1;
        else if (strcmp(f, "leaving") == 0) v->pending = 1;
        else if (*f) return "unknown device flag";
        if (!end) break;
        f = end + 1;
    }
    return nullptr;
}

// A ';' list of ids as a multi-string in the pool.
const char16_t* pool_add_ids(const char* s) {
    size_t n = strlen(s);
    if ((uint64_t)n + 2 > POOL_UNITS - g_pool_used) return nullptr;
    char16_t* at = g_pool + g_pool_used;
    size_t k = utf16n(s, n, at, n + 1);
    for (size_t i = 0; i < k; i++)
        if (at[i] == u';') at[i] = 0;
    at[k] = 0;
    at[k + 1] = 0;
    g_pool_used += (uint32_t)k + 2;
    return at;
}

const char* parse_dev(char** field, int nf) {
    if (nf < 6 || nf > 10) return "expected 5 to 9 fields after dev";
    if (g_sim.ndevs == SIM_MAX_DEVS) return "too many devices";
    SimDev& v = g_sim.devs[g_sim.ndevs];
    v = SimDev{};
    if (strcmp(field[1], "1") == 0) v.present = 1;
    else if (strcmp(field[1], "0") != 0) return "presence must be 1 or 0";
    if (nf >= 7) {
        const char* err = parse_dev_flags(field[6], &v);
        if (err) return err;
    }
    for (int k = 0; k < 2 && 7 + k < nf; k++)
        if (field[7 + k][0] && !(v.ids[k] = pool_add_ids(field[7 + k]))) return "device texts exceed the simulator's pool";
    if (nf == 10 && field[9][0] && !(v.parent = pool_add(field[9], strlen(field[9]))))
        return "device texts exceed the simulator's pool";
    for (int k = 0; k < SIM_FIELDS; k++) {
        const char* t = field[2 + k];
        if (strcmp(t, "\"\"") == 0) t = "";  // present but empty
        else if (!*t) continue;              // missing
        v.text[k] = pool_add(t, strlen(t));
        if (!v.text[k]) return "device texts exceed the simulator's pool";
    }
    g_sim.ndevs++;
    return nullptr;
}

int who_named(const char* name, principal* who) {
    // In the order of enum principal.
    static const char* const NAMES[] = {"system", "admins", "installer", "other", "creator-owner"};
    for (int i = 0; i < (int)countof(NAMES); i++)
        if (strcmp(name, NAMES[i]) == 0) {
            *who = (principal)i;
            return 1;
        }
    return 0;
}

const char* parse_perm(char** field, int nf) {
    if (nf < 3 || !field[1][0]) return "expected a path and an owner";
    if (g_sim.nperms == SIM_MAX_PERMS) return "too many perm lines";
    SimPerm& p = g_sim.perms[g_sim.nperms];
    p = SimPerm{};
    scopy(p.path, sizeof p.path, field[1]);
    p.readable = strcmp(field[2], "unreadable") != 0;
    if (p.readable && !who_named(field[2], &p.owner)) return "unknown owner";
    for (int i = 3; i < nf; i++) {
        char* mask = strchr(field[i], ':');
        if (!mask) return "expected who:mask";
        *mask++ = 0;
        sys_ace& a = p.aces[p.n++];
        if (!who_named(field[i], &a.who)) return "unknown principal";
        char* end = nullptr;
        a.mask = (uint32_t)strtoul(mask, &end, 16);
        if (end == mask) return "expected a hex mask";
        for (char* f = end; *f; f += 3) {
            if (strncmp(f, ":io", 3) == 0) a.inherit_only = 1;
            else if (strncmp(f, ":oi", 3) == 0) a.files_inherit = 1;
            else return "expected :io or :oi after the mask";
        }
    }
    g_sim.nperms++;
    return nullptr;
}

const char* parse_volume(char** field, int nf) {
    static const char* const KINDS[] = {"unknown", "fixed", "removable", "remote", "cdrom", "ramdisk"};
    if (nf != 3 || !field[1][0]) return "expected a path and a kind";
    if (g_sim.nvolumes == SIM_MAX_VOLUMES) return "too many volume lines";
    SimVolume& v = g_sim.volumes[g_sim.nvolumes];
    for (int k = 0; k < (int)countof(KINDS); k++)
        if (strcmp(field[2], KINDS[k]) == 0) {
            v.kind = (sys_volume)k;  // in the order of enum sys_volume
            scopy(v.path, sizeof v.path, field[1]);
            g_sim.nvolumes++;
            return nullptr;
        }
    return "unknown volume kind";
}

// "fail <function> <N>[+]" and "pause <function> <N> <file>".
const char* parse_fault(char** field, int nf, int pause) {
    if (nf != (pause ? 4 : 3)) return pause ? "expected a function, a call number and a file" : "expected a function and a call number";
    SimFault* list = pause ? g_sim.pauses : g_sim.faults;
    int* n = pause ? &g_sim.npauses : &g_sim.nfaults;
    if (*n == SIM_MAX_FAULTS) return "too many fail or pause lines";
    SimFault f{};
    f.fn = -1;
    if (strcmp(field[1], "*") == 0) f.fn = SIM_FN_ANY;
    for (int i = 0; i < SIM_FN_COUNT; i++)
        if (strcmp(field[1], SIM_FN_NAMES[i]) == 0) f.fn = i;
    if (f.fn < 0) return "not a seam function that fails on request";
    char* end = nullptr;
    unsigned long nth = strtoul(field[2], &end, 10);
    if (!pause && end && *end == '+') f.onward = 1, end++;
    if (end == field[2] || *end || nth == 0 || nth > 0xFFFFFFFFul) return "expected a call number from 1";
    f.nth = (uint32_t)nth;
    if (pause) {
        if (!field[3][0]) return "expected a file";
        scopy(f.file, sizeof f.file, field[3]);
    }
    list[(*n)++] = f;
    return nullptr;
}

const char* path_value(char** field, int nf, char* to) {
    if (nf != 2 || !field[1][0]) return "expected a path";
    scopy(to, SIM_PATH_BYTES, field[1]);
    return nullptr;
}

int load_demo(void);

// Returns an error text, or nullptr when the line was understood.
const char* apply_line(char* line) {
    char* field[10];
    int nf = 0;
    field[nf++] = line;
    for (char* p = line; *p; p++) {
        if (*p == '\t') {
            *p = 0;
            if (nf == 10) return "too many fields";
            field[nf++] = p + 1;
        }
    }
    const char* d = field[0];
    int64_t n;
    if (strcmp(d, "elevated") == 0 || strcmp(d, "relaunch") == 0 || strcmp(d, "system") == 0) {
        if (nf != 2) return "expected one value";
        int* flag = d[0] == 'e' ? &g_sim.elevated : d[0] == 'r' ? &g_sim.relaunch : &g_sim.system;
        if (!yes_no(field[1], flag)) return "expected yes or no";
    } else if (strcmp(d, "enum-fail") == 0) {
        if (nf != 2 || !parse_int64(field[1], &n)) return "expected an error number";
        g_sim.enum_fail = 1;
        g_sim.enum_code = (uint32_t)n;
    } else if (strcmp(d, "exe") == 0) {
        return path_value(field, nf, g_sim.exe);
    } else if (strcmp(d, "exe-final") == 0) {
        if (nf == 2 && strcmp(field[1], "fail") == 0) g_sim.exe_final_fails = 1;
        else return path_value(field, nf, g_sim.exe_final);
    } else if (strcmp(d, "volume") == 0) {
        return parse_volume(field, nf);
    } else if (strcmp(d, "safe-dll-search") == 0) {
        int safe;
        if (nf != 2 || !yes_no(field[1], &safe)) return "expected yes or no";
        g_sim.dll_search_unsafe = !safe;
    } else if (strcmp(d, "delete-fails") == 0) {
        if (nf != 2 || !field[1][0]) return "expected a file name";
        scopy(g_sim.delete_fails, sizeof g_sim.delete_fails, field[1]);
    } else if (strcmp(d, "computer") == 0) {
        if (nf != 2 || !field[1][0] || strlen(field[1]) >= sizeof g_sim.computer) return "expected a short name";
        if (strcmp(field[1], "fail") == 0) g_sim.computer[0] = 0;
        else scopy(g_sim.computer, sizeof g_sim.computer, field[1]);
    } else if (strcmp(d, "sysdir") == 0) {
        return path_value(field, nf, g_sim.sysdir);
    } else if (strcmp(d, "record") == 0) {
        return path_value(field, nf, g_sim.record);
    } else if (strcmp(d, "clock") == 0) {
        if (nf != 2 || !parse_int64(field[1], &n)) return "expected epoch seconds";
        g_sim.have_clock = 1;
        g_sim.clock = n;
    } else if (strcmp(d, "stdin-eof") == 0) {
        if (nf != 2 || !field[1][0] || strlen(field[1]) >= sizeof g_sim.eof_line) return "expected a short text";
        scopy(g_sim.eof_line, sizeof g_sim.eof_line, field[1]);
    } else if (strcmp(d, "registry") == 0) {
        return path_value(field, nf, g_sim.registry);
    } else if (strcmp(d, "reg-deny") == 0) {
        if (nf != 2 || !field[1][0]) return "expected a key";
        scopy(g_sim.reg_deny, sizeof g_sim.reg_deny, field[1]);
    } else if (strcmp(d, "lock-held") == 0) {
        if (nf != 2 || !field[1][0]) return "expected a file name";
        scopy(g_sim.lock_held, sizeof g_sim.lock_held, field[1]);
    } else if (strcmp(d, "demo") == 0) {
        if (nf != 1) return "expected no value";
        return load_demo() ? nullptr : "the demo machine did not load";
    } else if (strcmp(d, "events") == 0) {
        if (nf != 2 || !yes_no(field[1], &g_sim.events)) return "expected yes or no";
    } else if (strcmp(d, "fail") == 0 || strcmp(d, "pause") == 0) {
        return parse_fault(field, nf, d[0] == 'p');
    } else if (strcmp(d, "program") == 0) {
        if (nf != 3 || !field[1][0] || !field[2][0]) return "expected a path and a host program";
        if (g_sim.nprograms == SIM_MAX_PROGRAMS) return "too many program lines";
        SimProgram& pr = g_sim.programs[g_sim.nprograms++];
        scopy(pr.path, sizeof pr.path, field[1]);
        scopy(pr.host, sizeof pr.host, field[2]);
    } else if (strcmp(d, "swdev") == 0 || strcmp(d, "install-policy") == 0) {
        int yes;
        if (nf != 2 || !yes_no(field[1], &yes)) return "expected yes or no";
        if (d[0] == 's') g_sim.swdev_unavailable = !yes;
        else g_sim.policy_ignored = !yes;
    } else if (strcmp(d, "run") == 0) {
        if (nf != 3) return "expected a prefix and an exit code";
        return parse_rule(field[1], field[2]);
    } else if (strcmp(d, "dev") == 0) {
        return parse_dev(field, nf);
    } else if (strcmp(d, "perm") == 0) {
        return parse_perm(field, nf);
    } else {
        return "unknown directive";
    }
    return nullptr;
}

int load_lines(FILE* f, const char* name) {
    int lineno = 0;
    while (fgets(g_line, sizeof g_line, f)) {
        lineno++;
        size_t n = strlen(g_line);
        if (n == sizeof g_line - 1 && g_line[n - 1] != '\n') {
            fprintf(stderr, "%s:%d: line too long\n", name, lineno);
            return 0;
        }
        while (n && (g_line[n - 1] == '\n' || g_line[n - 1] == '\r')) g_line[--n] = 0;
        if (n == 0 || g_line[0] == '#') continue;
        const char* err = apply_line(g_line);
        if (err) {
            fprintf(stderr, "%s:%d: %s\n", name, lineno, err);
            return 0;
        }
    }
    return 1;
}

// The demo machine: what `quillfen` shows when run by hand without a machine
// file. Elevated, everything succeeds, and it is a Windows 10 Pro on which
// a blacklisting also writes the install block.
// Its cameras and hubs carry hardware and compatible ids as Windows lists
// them, so that a by-name blacklisting also blocks the model.
#define UVC "\tUSB\\Class_0E&SubClass_03&Prot_00;USB\\Class_0E&SubClass_03;USB\\Class_0E"
const char DEMO[] =
    "run\tschtasks\t0\n"
    "run\tpnputil\t0\n"
    "dev\t1\t\tACPI x64-based PC\tComputer\tROOT\\ACPI_HAL\\0000\n"
    "dev\t1\t\tMicrosoft ACPI-Compliant System\tSystem\tACPI_HAL\\PNP0C08\\0\n"
    "dev\t1\tSmart Camera\tUSB Video Device\tCamera\tUSB\\VID_1BCF&PID_2C9A&MI_00\\6&1A2B3C4D&0&0000"
    "\t\tUSB\\VID_1BCF&PID_2C9A&REV_0100&MI_00;USB\\VID_1BCF&PID_2C9A&MI_00" UVC "\n"
    "dev\t1\tHD Camera for Smart TV\tUSB Video Device\tImage\tUSB\\VID_0C45&PID_6366&MI_00\\7&2F1E0D9C&0&0000\n"
    "dev\t1\t智能摄像头\tUSB 视频设备\tCamera\tUSB\\VID_2B7E&PID_0136&MI_00\\6&3C4D5E6F&0&0000"
    "\t\tUSB\\VID_2B7E&PID_0136&REV_0100&MI_00;USB\\VID_2B7E&PID_0136&MI_00" UVC "\n"
    "dev\t1\t\tSmartCam Composite Hub\tUSB\tUSB\\VID_1BCF&PID_2C9A\\5&2A1B3C4D&0&3"
    "\t\tUSB\\VID_1BCF&PID_2C9A&REV_0100;USB\\VID_1BCF&PID_2C9A"
    "\tUSB\\DevClass_00&SubClass_00&Prot_00;USB\\DevClass_00&SubClass_00;USB\\DevClass_00;USB\\COMPOSITE\n"
    "dev\t1\t\tSmart Cam Virtual Device\tSystem\tROOT\\SMARTCAM\\0000\n"
    "dev\t0\tSmart Camera\tUSB Video Device\tCamera\tUSB\\VID_1BCF&PID_2C9A&MI_00\\6&9F8E7D6C&0&0000"
    "\t\tUSB\\VID_1BCF&PID_2C9A&REV_0100&MI_00;USB\\VID_1BCF&PID_2C9A&MI_00" UVC "\n"
    "dev\t1\tHID Keyboard Device\tHID Keyboard Device\tKeyboard\tHID\\VID_046D&PID_C31C&MI_00\\7&1D2E3F4A&0&0000"
    "\t\tHID\\VID_046D&PID_C31C&REV_6400&MI_00;HID\\VID_046D&PID_C31C&MI_00;HID_DEVICE_SYSTEM_KEYBOARD"
    "\tHID_DEVICE_UP:0001_U:0006;HID_DEVICE\n"
    "dev\t1\tSamsung SSD 970 EVO 1TB\tDisk drive\tDiskDrive\tSCSI\\DISK&VEN_NVME&PROD_SAMSUNG_SSD_970\\5&1F2E3D4C&0&000000\n"
    "dev\t1\tIntel(R) Ethernet Connection I219-V\tIntel(R) Ethernet Connection I219-V\tNet"
    "\tPCI\\VEN_8086&DEV_15BC&SUBSYS_08B11028&REV_10\\3&11583659&0&FE"
    "\t\tPCI\\VEN_8086&DEV_15BC&SUBSYS_08B11028&REV_10;PCI\\VEN_8086&DEV_15BC&SUBSYS_08B11028"
    "\tPCI\\VEN_8086&DEV_15BC&REV_10;PCI\\VEN_8086&DEV_15BC;PCI\\VEN_8086&CC_020000;PCI\\VEN_8086\n"
    "dev\t1\t\tGeneric USB Hub\tUSB\tUSB\\ROOT_HUB30\\4&2C6E1A3B&0&0\n"
    "dev\t0\t\t智能摄像机\tCamera\tUSB\\VID_2B7E&PID_0137\\8&5A6B7C8D&0&2"
    "\t\tUSB\\VID_2B7E&PID_0137&REV_0200;USB\\VID_2B7E&PID_0137\n";
#undef UVC

const char* const DEMO_VERSION[][2] = {{"CurrentBuildNumber", "19045"}, {"EditionID", "Professional"}};

int load_demo(void) {
    for (const auto& v : DEMO_VERSION) {
        if (g_sim.nreg == SIM_MAX_REG) return 0;
        SimRegValue& r = g_sim.reg[g_sim.nreg++];
        scopy(r.key, sizeof r.key, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion");
        scopy(r.name, sizeof r.name, v[0]);
        r.type = SYS_REG_SZ;
        scopy(r.data, sizeof r.data, v[1]);
    }
    const char* p = DEMO;
    while (*p) {
        size_t n = 0;
        while (p[n] && p[n] != '\n') n++;
        if (n >= sizeof g_line) return 0;
        memcpy(g_line, p, n);
        g_line[n] = 0;
        const char* err = apply_line(g_line);
        if (err) {
            fprintf(stderr, "demo machine: %s\n", err);
            return 0;
        }
        p += n + (p[n] == '\n');
    }
    return 1;
}

const char* const REG_TYPES[] = {"sz", "expand", "dword", "other"};

// Loads the registry's file; a missing file is an empty registry.
int load_registry(void) {
    FILE* f = fopen(g_sim.registry, "rb");
    if (!f) return 1;
    int lineno = 0, ok = 1;
    while (ok && fgets(g_line, sizeof g_line, f)) {
        lineno++;
        size_t n = strlen(g_line);
        while (n && (g_line[n - 1] == '\n' || g_line[n - 1] == '\r')) g_line[--n] = 0;
        if (n == 0 || g_line[0] == '#') continue;
        char* field[4];
        field[0] = g_line;
        int nf = 1;
        for (char* p = g_line; *p && nf < 4; p++)
            if (*p == '\t') *p = 0, field[nf++] = p + 1;
        int type = -1;
        for (int t = 0; nf == 4 && t < 4; t++)
            if (strcmp(field[2], REG_TYPES[t]) == 0) type = t;
        if (type < 0 || g_sim.nreg == SIM_MAX_REG) {
            fprintf(stderr, "%s:%d: expected key, name, sz|expand|dword|other and data\n", g_sim.registry, lineno);
            ok = 0;
            break;
        }
        SimRegValue& v = g_sim.reg[g_sim.nreg++];
        scopy(v.key, sizeof v.key, field[0]);
        scopy(v.name, sizeof v.name, field[1]);
        v.type = (sys_reg_type)type;
        scopy(v.data, sizeof v.data, field[3]);
    }
    fclose(f);
    return ok;
}

// The keys' times: "<key>\t<n>" lines; a missing file: every time 0.
void load_times(void) {
    static char path[SIM_PATH_BYTES + 8];
    fmt(path, sizeof path, "%s.times", g_sim.registry);
    FILE* f = fopen(path, "rb");
    if (!f) return;
    while (g_sim.ntimes < SIM_MAX_TIMES && fgets(g_line, sizeof g_line, f)) {
        char* tab = strchr(g_line, '\t');
        if (!tab) continue;
        *tab = 0;
        SimKeyTime& t = g_sim.times[g_sim.ntimes++];
        scopy(t.key, sizeof t.key, g_line);
        t.n = strtoull(tab + 1, nullptr, 10);
    }
    fclose(f);
}

}  // namespace

int sim_reload_registry(void) {
    g_sim.nreg = 0;
    g_sim.ntimes = 0;
    if (!g_sim.registry[0]) return 1;
    load_times();
    return load_registry();
}

// Written whole beside it and renamed over it (under the registry's lock),
// so that a process killed half-way leaves the old registry, not a cut one.
void sim_save_registry(void) {
    if (!g_sim.registry[0]) return;
    static char tmp[SIM_PATH_BYTES + 8];
    fmt(tmp, sizeof tmp, "%s.tmp", g_sim.registry);
    FILE* f = fopen(tmp, "wb");
    if (!f) return;
    for (int i = 0; i < g_sim.nreg; i++) {
        const SimRegValue& v = g_sim.reg[i];
        fprintf(f, "%s\t%s\t%s\t%s\n", v.key, v.name, REG_TYPES[v.type], v.data);
    }
    if (fclose(f) != 0 || rename(tmp, g_sim.registry) != 0) remove(tmp);
    static char times[SIM_PATH_BYTES + 8];
    fmt(times, sizeof times, "%s.times", g_sim.registry);
    if (g_sim.ntimes == 0) {
        remove(times);  // the last key with a time was deleted
        return;
    }
    f = fopen(tmp, "wb");
    if (!f) return;
    for (int i = 0; i < g_sim.ntimes; i++)
        fprintf(f, "%s\t%llu\n", g_sim.times[i].key, (unsigned long long)g_sim.times[i].n);
    if (fclose(f) != 0 || rename(tmp, times) != 0) remove(tmp);
}

int sim_load_machine(const char* path) {
    // Each load starts from an empty machine, so one test process can load
    // several in turn; the registry's rows need only their count.
    static const SimMachine empty{};
    memcpy(static_cast<void*>(&g_sim), &empty, offsetof(SimMachine, reg));
    g_sim.elevated = 1;
    scopy(g_sim.sysdir, sizeof g_sim.sysdir, "C:\\Windows\\system32");
    scopy(g_sim.computer, sizeof g_sim.computer, "QF-SIM");
    g_pool_used = 0;
    if (!path) return load_demo();
    FILE* f = fopen(path, "rb");
    if (!f) {
        fprintf(stderr, "%s: cannot open the machine file\n", path);
        return 0;
    }
    int ok = load_lines(f, path);
    fclose(f);
    g_sim.nstatic = g_sim.ndevs;
    g_pool_static = g_pool_used;
    // Started by another process of this machine through a program line: its
    // own path, and none of the starter's failures.
    if (const char* as = getenv("QUILLFEN_SIM_EXE")) {
        scopy(g_sim.exe, sizeof g_sim.exe, as);
        g_sim.nfaults = g_sim.npauses = 0;
        if (getenv("QUILLFEN_SIM_SYSTEM")) g_sim.system = 1;
    }
    if (ok && g_sim.registry[0]) {
        SimStateLock lock;
        sim_state_load();
    }
    return ok && (!g_sim.registry[0] || sim_reload_registry());
}

// ---- the shared state -----------------------------------------------------------

namespace {

void state_path(char* out, size_t size, const char* ext) { fmt(out, size, "%s.state%s", g_sim.registry, ext); }

// One state line's fields, split in place at TABs.
// Whether the process holding a software device still runs.
int sim_alive(int pid) { return pid > 0 && (pid == getpid() || kill(pid, 0) == 0); }

int split_tabs(char* line, char** field, int max) {
    int nf = 0;
    field[nf++] = line;
    for (char* p = line; *p && nf < max; p++)
        if (*p == '\t') *p = 0, field[nf++] = p + 1;
    return nf;
}

}  // namespace

SimStateLock::SimStateLock() : fd(-1) {
    if (!g_sim.registry[0]) return;
    static char path[SIM_PATH_BYTES + 16];
    state_path(path, sizeof path, ".lock");
    fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) flock(fd, LOCK_EX);
}

SimStateLock::~SimStateLock() {
    if (fd >= 0) close(fd);
}

size_t sim_ids_text(const char16_t* multi, char* out, size_t size) {
    size_t n = 0;
    for (const char16_t* id = multi; *id && n + 1 < size; id += wlen(id) + 1) {
        if (n) out[n++] = ';';
        n += utf8(id, out + n, size - n);
    }
    out[n] = 0;
    return n;
}

SimDev* sim_swdev_find(const char* inst) {
    static char have[2048];
    for (int i = g_sim.nstatic; i < g_sim.ndevs; i++) {
        SimDev& d = g_sim.devs[i];
        utf8(d.text[SIM_INST], have, sizeof have);
        if (!d.gone && ieq_ascii(have, inst)) return &d;
    }
    return nullptr;
}

SimDev* sim_swdev_add(const char* inst, const char* name, const char* hardware_ids) {
    if (g_sim.ndevs == SIM_MAX_DEVS) return nullptr;
    SimDev& v = g_sim.devs[g_sim.ndevs];
    v = SimDev{};
    v.sw = 1;
    v.text[SIM_INST] = pool_add(inst, strlen(inst));
    v.text[SIM_FRIENDLY] = pool_add(name, strlen(name));
    v.text[SIM_DESC] = v.text[SIM_FRIENDLY];
    v.ids[0] = pool_add_ids(hardware_ids);
    // What Windows adds to every software device's compatible ids.
    v.ids[1] = pool_add_ids("SWD\\Generic");
    if (!v.text[SIM_INST] || !v.text[SIM_FRIENDLY] || !v.ids[0] || !v.ids[1]) return nullptr;
    g_sim.ndevs++;
    return &v;
}

void sim_state_load(void) {
    if (!g_sim.registry[0]) return;
    g_sim.ndevs = g_sim.nstatic;
    g_pool_used = g_pool_static;
    g_sim.task[0] = 0;
    g_sim.audit_pnp = 0;
    g_sim.arrival = 0;
    static char path[SIM_PATH_BYTES + 16];
    state_path(path, sizeof path, "");
    FILE* f = fopen(path, "rb");
    if (!f) return;
    while (fgets(g_line, sizeof g_line, f)) {
        size_t n = strlen(g_line);
        while (n && (g_line[n - 1] == '\n' || g_line[n - 1] == '\r')) g_line[--n] = 0;
        char* field[6];
        int nf = split_tabs(g_line, field, 6);
        if (nf == 6 && strcmp(field[0], "swdev") == 0) {
            SimDev* d = sim_swdev_add(field[3], field[4], field[5]);
            if (!d) break;
            d->pid = atoi(field[1]);
            d->installed = field[2][0] == '1';
            d->present = sim_alive(d->pid);
        } else if (nf == 3 && strcmp(field[0], "task") == 0) {
            fmt(g_sim.task, sizeof g_sim.task, "%s\t%s", field[1], field[2]);
        } else if (nf == 2 && strcmp(field[0], "audit-pnp") == 0) {
            g_sim.audit_pnp = atoi(field[1]);
        } else if (nf == 1 && strcmp(field[0], "arrival") == 0) {
            g_sim.arrival = 1;
        }
    }
    fclose(f);
}

void sim_state_forget(const char* inst) {
    if (!g_sim.registry[0]) return;
    static char path[SIM_PATH_BYTES + 16], tmp[SIM_PATH_BYTES + 16], split[sizeof g_line];
    state_path(path, sizeof path, "");
    state_path(tmp, sizeof tmp, ".tmp");
    FILE* in = fopen(path, "rb");
    FILE* out = in ? fopen(tmp, "wb") : nullptr;
    while (out && fgets(g_line, sizeof g_line, in)) {
        // "swdev\t<pid>\t<installed>\t<instance id>\t...": the fourth field.
        scopy(split, sizeof split, g_line);
        char* field[6];
        int nf = split_tabs(split, field, 6);
        if (!(nf >= 4 && strcmp(field[0], "swdev") == 0 && ieq_ascii(field[3], inst))) fputs(g_line, out);
    }
    if (in) fclose(in);
    if (out && (fclose(out) != 0 || rename(tmp, path) != 0)) remove(tmp);
}

// Written whole beside it and renamed over it, as the registry is.
void sim_state_save(void) {
    if (!g_sim.registry[0]) return;
    static char path[SIM_PATH_BYTES + 16], tmp[SIM_PATH_BYTES + 16], inst[2048], name[2048], ids[8192];
    state_path(path, sizeof path, "");
    state_path(tmp, sizeof tmp, ".tmp");
    FILE* f = fopen(tmp, "wb");
    if (!f) return;
    for (int i = g_sim.nstatic; i < g_sim.ndevs; i++) {
        const SimDev& d = g_sim.devs[i];
        if (d.gone) continue;
        utf8(d.text[SIM_INST], inst, sizeof inst);
        utf8(d.text[SIM_FRIENDLY], name, sizeof name);
        sim_ids_text(d.ids[0], ids, sizeof ids);
        fprintf(f, "swdev\t%d\t%d\t%s\t%s\t%s\n", d.present ? d.pid : 0, d.installed, inst, name, ids);
    }
    if (g_sim.task[0]) fprintf(f, "task\t%s\n", g_sim.task);
    if (g_sim.arrival) fprintf(f, "arrival\n");
    fprintf(f, "audit-pnp\t%d\n", g_sim.audit_pnp);
    if (fclose(f) != 0 || rename(tmp, path) != 0) remove(tmp);
}

int sim_fails(sim_fn fn) {
    uint32_t nth = ++g_sim.calls[fn];
    uint32_t any = ++g_sim.calls[SIM_FN_ANY];
    for (int i = 0; i < g_sim.npauses; i++) {
        const SimFault& p = g_sim.pauses[i];
        if ((p.fn == SIM_FN_ANY ? any : p.fn == fn ? nth : 0) != p.nth) continue;
        sim_record("pause", SIM_FN_NAMES[fn]);
        struct stat st;
        while (stat(p.file, &st) != 0) {
            struct timespec ts{0, 5 * 1000000L};
            nanosleep(&ts, nullptr);
        }
    }
    for (int i = 0; i < g_sim.nfaults; i++) {
        const SimFault& f = g_sim.faults[i];
        uint32_t n = f.fn == SIM_FN_ANY ? any : f.fn == fn ? nth : 0;
        if (n == f.nth || (f.onward && n > f.nth)) {
            sim_record("fail", SIM_FN_NAMES[fn]);
            return 1;
        }
    }
    return 0;
}

void sim_record(const char* kind, const char* text) {
    if (!g_sim.record[0]) return;
    FILE* f = fopen(g_sim.record, "ab");
    if (!f) return;
    fprintf(f, "%s\t%s\n", kind, text);
    fclose(f);
}
