// The simulated machine behind the Linux build: devices, the command
// interpreter, the token and the shell come from a plain-text machine file
// (named by QUILLFEN_MACHINE) or from the built-in demo machine, so that the
// whole program can run and be tested without Windows.
//
// Machine file: UTF-8, one directive per line, fields separated by TABs,
// '#' lines and blank lines ignored, LF or CR LF line ends.
//   elevated  yes|no                 token says elevated (default yes)
//   relaunch  yes|no                 the shell starts the elevated copy (default no)
//   enum-fail <code>                 every device-set open fails with <code>
//   exe       <path>                 the executable's full path (default /proc/self/exe)
//   clock     <epoch seconds>        fixed current time (default: the real clock)
//   record    <path>                 append-only file of observable events
//   run       <prefix> <code>|hang|nostart
//                                    a command (after "cmd.exe /c ") starting with
//                                    <prefix> ends so; first rule wins; else 9009
//   dev       <1|0> <friendly> <description> <class> <instance id> [ci-fail]
//                                    one device record, in enumeration order;
//                                    an empty field is a missing property, a
//                                    field "" (two quotes) an empty string
//   stdin-eof <text>                 a whole input line equal to <text> reads
//                                    as one end of input, like Ctrl+Z typed at
//                                    a console, after which input goes on
// Record lines, one per event: "enum\tall|present" for every device-set open
// (failed ones too), "run\t<command line>" for every command handed to the
// interpreter (also one that cannot start), "remove\t<instance id>" for every
// removal the class installer performs, "relaunch\trunas\t--elevated" for
// every relaunch attempt.
//
// Everything lives in fixed static storage: this file is linked into the
// program, which allocates nothing on the heap.
#include "sys/sys.h"

#include "common/text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace {

constexpr int MAX_DEVS = 4096;
constexpr int MAX_RULES = 64;
constexpr int MAX_SETS = 4;
constexpr uint32_t POOL_UNITS = 1u << 22;  // UTF-16 text of all devices (8 MB)
constexpr uint32_t NO_TEXT = 0xFFFFFFFFu;  // a missing property
constexpr int PATH_BYTES = 1024;

enum { F_FRIENDLY = 0, F_DESC = 1, F_CLASS = 2, F_INST = 3, F_COUNT = 4 };

struct Dev {
    uint32_t off[F_COUNT];
    uint32_t len[F_COUNT];  // NO_TEXT: missing
    uint8_t present;
    uint8_t gone;     // removed earlier in this process
    uint8_t ci_fail;  // the class installer refuses it
};

enum { RUN_CODE = 0, RUN_HANG = 1, RUN_NOSTART = 2 };

struct Rule {
    char prefix[512];
    int kind;
    int code;
};

char16_t g_pool[POOL_UNITS];
uint32_t g_pool_used;
Dev g_devs[MAX_DEVS];
int g_ndevs;
Rule g_rules[MAX_RULES];
int g_nrules;

int g_elevated = 1;
int g_relaunch = 0;
int g_enum_fail = 0;
uint32_t g_enum_code = 0;
char g_exe[PATH_BYTES];
int g_have_clock = 0;
int64_t g_clock = 0;
char g_record[PATH_BYTES];
char g_eof_line[64];
int g_line_start = 1;  // the next read begins a new input line

}  // namespace

struct sys_devset {
    int used;
    int count;
    int cur;  // index into members, -1 before the first sys_dev_next
    uint16_t members[MAX_DEVS];
};

namespace {

sys_devset g_sets[MAX_SETS];

// ---- text -----------------------------------------------------------------

// Stores a UTF-8 text in the pool as terminated UTF-16. A UTF-16 form never
// has more units than the UTF-8 form has bytes, so n + 1 units always hold it.
int pool_add(const char* s, size_t n, uint32_t* off, uint32_t* len) {
    if ((uint64_t)n + 1 > POOL_UNITS - g_pool_used) return 0;
    *off = g_pool_used;
    *len = (uint32_t)utf16n(s, n, g_pool + g_pool_used, n + 1);
    g_pool_used += *len + 1;
    return 1;
}

// ---- record -----------------------------------------------------------------

void record(const char* kind, const char* text) {
    if (!g_record[0]) return;
    FILE* f = fopen(g_record, "ab");
    if (!f) return;
    fputs(kind, f);
    fputc('\t', f);
    fputs(text, f);
    fputc('\n', f);
    fclose(f);
}

// ---- machine file -----------------------------------------------------------

char g_line[65536];

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
    if (errno || *end) return 0;
    *out = x;
    return 1;
}

// Returns an error text, or nullptr when the line was understood.
const char* apply_line(char* line) {
    char* field[8];
    int nf = 0;
    field[nf++] = line;
    for (char* p = line; *p; p++) {
        if (*p == '\t') {
            *p = 0;
            if (nf == 8) return "too many fields";
            field[nf++] = p + 1;
        }
    }
    const char* d = field[0];
    int64_t n;
    if (strcmp(d, "elevated") == 0 || strcmp(d, "relaunch") == 0) {
        if (nf != 2) return "expected one value";
        if (!yes_no(field[1], d[0] == 'e' ? &g_elevated : &g_relaunch))
            return "expected yes or no";
    } else if (strcmp(d, "enum-fail") == 0) {
        if (nf != 2 || !parse_int64(field[1], &n)) return "expected an error number";
        g_enum_fail = 1;
        g_enum_code = (uint32_t)n;
    } else if (strcmp(d, "exe") == 0) {
        if (nf != 2 || !field[1][0]) return "expected a path";
        scopy(g_exe, sizeof g_exe, field[1]);
    } else if (strcmp(d, "clock") == 0) {
        if (nf != 2 || !parse_int64(field[1], &n)) return "expected epoch seconds";
        g_have_clock = 1;
        g_clock = n;
    } else if (strcmp(d, "stdin-eof") == 0) {
        if (nf != 2 || !field[1][0] || strlen(field[1]) >= sizeof g_eof_line)
            return "expected a short text";
        scopy(g_eof_line, sizeof g_eof_line, field[1]);
    } else if (strcmp(d, "record") == 0) {
        if (nf != 2 || !field[1][0]) return "expected a path";
        scopy(g_record, sizeof g_record, field[1]);
    } else if (strcmp(d, "run") == 0) {
        if (nf != 3) return "expected a prefix and an exit code";
        if (g_nrules == MAX_RULES) return "too many run rules";
        Rule& r = g_rules[g_nrules];
        if (strcmp(field[2], "hang") == 0) {
            r.kind = RUN_HANG;
        } else if (strcmp(field[2], "nostart") == 0) {
            r.kind = RUN_NOSTART;
        } else if (parse_int64(field[2], &n)) {
            r.kind = RUN_CODE;
            r.code = (int)n;
        } else {
            return "expected an exit code, hang or nostart";
        }
        scopy(r.prefix, sizeof r.prefix, field[1]);
        g_nrules++;
    } else if (strcmp(d, "dev") == 0) {
        if (nf != 6 && nf != 7) return "expected 5 or 6 fields after dev";
        if (g_ndevs == MAX_DEVS) return "too many devices";
        Dev& v = g_devs[g_ndevs];
        if (strcmp(field[1], "1") == 0)
            v.present = 1;
        else if (strcmp(field[1], "0") == 0)
            v.present = 0;
        else
            return "presence must be 1 or 0";
        v.ci_fail = 0;
        if (nf == 7) {
            if (strcmp(field[6], "ci-fail") != 0) return "unknown device flag";
            v.ci_fail = 1;
        }
        v.gone = 0;
        for (int k = 0; k < F_COUNT; k++) {
            const char* t = field[2 + k];
            v.off[k] = 0;
            v.len[k] = NO_TEXT;
            if (strcmp(t, "\"\"") == 0) t = "";  // present but empty
            else if (!*t) continue;                // missing
            if (!pool_add(t, strlen(t), &v.off[k], &v.len[k]))
                return "device texts exceed the simulator's pool";
        }
        g_ndevs++;
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
// file. Elevated, everything succeeds.
const char DEMO[] =
    "run\tschtasks\t0\n"
    "run\tpnputil\t0\n"
    "dev\t1\t\tACPI x64-based PC\tComputer\tROOT\\ACPI_HAL\\0000\n"
    "dev\t1\t\tMicrosoft ACPI-Compliant System\tSystem\tACPI_HAL\\PNP0C08\\0\n"
    "dev\t1\tSmart Camera\tUSB Video Device\tCamera\tUSB\\VID_1BCF&PID_2C9A&MI_00\\6&1A2B3C4D&0&0000\n"
    "dev\t1\tHD Camera for Smart TV\tUSB Video Device\tImage\tUSB\\VID_0C45&PID_6366&MI_00\\7&2F1E0D9C&0&0000\n"
    "dev\t1\t智能摄像头\tUSB 视频设备\tCamera\tUSB\\VID_2B7E&PID_0136&MI_00\\6&3C4D5E6F&0&0000\n"
    "dev\t1\t\tSmartCam Composite Hub\tUSB\tUSB\\VID_1BCF&PID_2C9A\\5&2A1B3C4D&0&3\n"
    "dev\t1\t\tSmart Cam Virtual Device\tSystem\tROOT\\SMARTCAM\\0000\n"
    "dev\t0\tSmart Camera\tUSB Video Device\tCamera\tUSB\\VID_1BCF&PID_2C9A&MI_00\\6&9F8E7D6C&0&0000\n"
    "dev\t1\tHID Keyboard Device\tHID Keyboard Device\tKeyboard\tHID\\VID_046D&PID_C31C&MI_00\\7&1D2E3F4A&0&0000\n"
    "dev\t1\tSamsung SSD 970 EVO 1TB\tDisk drive\tDiskDrive\tSCSI\\DISK&VEN_NVME&PROD_SAMSUNG_SSD_970\\5&1F2E3D4C&0&000000\n"
    "dev\t1\tIntel(R) Ethernet Connection I219-V\tIntel(R) Ethernet Connection I219-V\tNet\tPCI\\VEN_8086&DEV_15BC&SUBSYS_08B11028&REV_10\\3&11583659&0&FE\n"
    "dev\t1\t\tGeneric USB Hub\tUSB\tUSB\\ROOT_HUB30\\4&2C6E1A3B&0&0\n"
    "dev\t0\t\t智能摄像机\tCamera\tUSB\\VID_2B7E&PID_0137\\8&5A6B7C8D&0&2\n";

int load_demo(void) {
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

// ---- devices ------------------------------------------------------------------

Dev* current(sys_devset* s) {
    if (!s || s->cur < 0 || s->cur >= s->count) return nullptr;
    return &g_devs[s->members[s->cur]];
}

// The instance id as written in the machine file, in UTF-8.
void inst_utf8(const Dev& d, char* out, size_t size) {
    if (d.len[F_INST] == NO_TEXT) {
        out[0] = 0;
        return;
    }
    utf8(g_pool + d.off[F_INST], out, size);
}

// What a successful "pnputil /remove-device" does to the machine.
void pnputil_removed(const char* command) {
    static const char PREFIX[] = "pnputil /remove-device \"";
    if (strncmp(command, PREFIX, sizeof PREFIX - 1) != 0) return;
    static char id[2048];
    scopy(id, sizeof id, command + sizeof PREFIX - 1);
    char* q = strrchr(id, '"');
    if (!q) return;
    *q = 0;
    static char inst[2048];
    for (int i = 0; i < g_ndevs; i++) {
        if (g_devs[i].gone) continue;
        inst_utf8(g_devs[i], inst, sizeof inst);
        if (inst[0] && ieq_ascii(inst, id)) g_devs[i].gone = 1;
    }
}

}  // namespace

// Loads the machine: the file named by path, or the demo machine when path is
// null. Returns 0 when the file cannot be read or holds an unknown line.
// Whatever an earlier load set up is forgotten first.
int sim_load_machine(const char* path) {
    // Each load starts from an empty machine, so one test process can load
    // several in turn.
    g_pool_used = 0;
    g_ndevs = 0;
    g_nrules = 0;
    g_elevated = 1;
    g_relaunch = 0;
    g_enum_fail = 0;
    g_enum_code = 0;
    g_exe[0] = 0;
    g_have_clock = 0;
    g_clock = 0;
    g_record[0] = 0;
    g_eof_line[0] = 0;
    g_line_start = 1;
    for (int i = 0; i < MAX_SETS; i++) g_sets[i].used = 0;
    if (path) {
        FILE* f = fopen(path, "rb");
        if (!f) {
            fprintf(stderr, "%s: cannot open the machine file\n", path);
            return 0;
        }
        int ok = load_lines(f, path);
        fclose(f);
        return ok;
    }
    return load_demo();
}

// ---- device set -----------------------------------------------------------------

sys_devset* sys_dev_open(int all, uint32_t* err) {
    record("enum", all ? "all" : "present");
    if (g_enum_fail) {
        if (err) *err = g_enum_code;
        return nullptr;
    }
    sys_devset* s = nullptr;
    for (int i = 0; i < MAX_SETS; i++)
        if (!g_sets[i].used) {
            s = &g_sets[i];
            break;
        }
    if (!s) {
        if (err) *err = 8;  // ERROR_NOT_ENOUGH_MEMORY
        return nullptr;
    }
    // A set is a snapshot, as on Windows: later removals do not shrink it.
    s->used = 1;
    s->count = 0;
    s->cur = -1;
    for (int i = 0; i < g_ndevs; i++) {
        if (g_devs[i].gone) continue;
        if (!all && !g_devs[i].present) continue;
        s->members[s->count++] = (uint16_t)i;
    }
    return s;
}

int sys_dev_next(sys_devset* s, uint32_t index) {
    if (!s || index >= (uint32_t)s->count) return 0;
    s->cur = (int)index;
    return 1;
}

int sys_dev_prop(sys_devset* s, int prop, char16_t* buf, uint32_t bytes) {
    Dev* d = current(s);
    if (!d) return 0;
    int f;
    switch (prop) {
        case SYS_PROP_FRIENDLYNAME: f = F_FRIENDLY; break;
        case SYS_PROP_DEVICEDESC: f = F_DESC; break;
        case SYS_PROP_CLASS: f = F_CLASS; break;
        default: return 0;
    }
    uint32_t len = d->len[f];
    if (len == NO_TEXT) return 0;
    if ((uint64_t)(len + 1) * 2 > bytes) return 0;
    memcpy(buf, g_pool + d->off[f], len * sizeof(char16_t));
    buf[len] = 0;
    return 1;
}

int sys_dev_id(sys_devset* s, char16_t* buf, uint32_t units) {
    Dev* d = current(s);
    if (!d || units == 0) return 0;
    uint32_t len = d->len[F_INST];
    if (len == NO_TEXT) {
        buf[0] = 0;
        return 0;
    }
    uint32_t n = len < units - 1 ? len : units - 1;
    memcpy(buf, g_pool + d->off[F_INST], n * sizeof(char16_t));
    buf[n] = 0;
    return n == len;
}

int sys_dev_present(sys_devset* s) {
    Dev* d = current(s);
    return d && d->present && !d->gone;
}

int sys_dev_remove(sys_devset* s) {
    Dev* d = current(s);
    if (!d || d->gone || d->ci_fail) return 0;
    d->gone = 1;
    static char inst[2048];
    inst_utf8(*d, inst, sizeof inst);
    record("remove", inst);
    return 1;
}

void sys_dev_close(sys_devset* s) {
    if (s) s->used = 0;
}

// ---- processes ------------------------------------------------------------------

int sys_run_hidden(const char16_t* cmdline, uint32_t timeout_ms) {
    (void)timeout_ms;  // a hanging command reports at once instead of waiting
    static char line[8192];
    utf8(cmdline, line, sizeof line);
    record("run", line);
    static const char SHELL[] = "cmd.exe /c ";
    const char* command = line;
    if (strncmp(line, SHELL, sizeof SHELL - 1) == 0) command = line + sizeof SHELL - 1;
    for (int i = 0; i < g_nrules; i++) {
        const Rule& r = g_rules[i];
        if (strncmp(command, r.prefix, strlen(r.prefix)) != 0) continue;
        if (r.kind == RUN_HANG) return 259;  // STILL_ACTIVE
        if (r.kind == RUN_NOSTART) return -1;
        if (r.code == 0 || r.code == 3010) pnputil_removed(command);
        return r.code;
    }
    return 9009;  // what cmd.exe returns for an unknown program
}

// ---- process identity -----------------------------------------------------------

int sys_is_elevated(void) { return g_elevated; }

int sys_relaunch_elevated(void) {
    record("relaunch", "runas\t--elevated");
    return g_relaunch;
}

namespace {

const char* exe_path(void) {
    if (!g_exe[0]) {
        ssize_t n = readlink("/proc/self/exe", g_exe, sizeof g_exe - 1);
        g_exe[n > 0 ? n : 0] = 0;
    }
    return g_exe;
}

}  // namespace

uint32_t sys_exe_path_a(char* buf, uint32_t bytes) {
    const char* p = exe_path();
    size_t n = strlen(p);
    if (!n || !bytes) return 0;
    // Like GetModuleFileNameA: a path that does not fit is cut and the
    // buffer size is returned.
    if (n >= bytes) {
        memcpy(buf, p, bytes - 1);
        buf[bytes - 1] = 0;
        return bytes;
    }
    memcpy(buf, p, n + 1);
    return (uint32_t)n;
}

uint32_t sys_exe_path_w(char16_t* buf, uint32_t units) {
    const char* p = exe_path();
    size_t n = strlen(p);
    if (!n || !units) return 0;
    static char16_t wide[PATH_BYTES];
    uint32_t o = (uint32_t)utf16n(p, n, wide, PATH_BYTES);
    if (o >= units) {
        memcpy(buf, wide, (units - 1) * sizeof(char16_t));
        buf[units - 1] = 0;
        return units;
    }
    memcpy(buf, wide, o * sizeof(char16_t));
    buf[o] = 0;
    return o;
}

// ---- console ----------------------------------------------------------------------

void sys_console_utf8(void) {}

void sys_out(const char* s, uint32_t n) { fwrite(s, 1, n, stdout); }

int sys_read_line(char* buf, int size) {
    // Whatever was printed (the prompt) must be out before we wait.
    fflush(stdout);
    if (size > 0) buf[0] = 0;
    if (!fgets(buf, size, stdin)) {
        if (size > 0) buf[0] = 0;
        return 0;
    }
    int start = g_line_start;
    size_t n = strlen(buf);
    g_line_start = n > 0 && buf[n - 1] == '\n';
    if (start && g_eof_line[0]) {
        size_t k = strlen(g_eof_line);
        if (strncmp(buf, g_eof_line, k) == 0 &&
            (buf[k] == 0 || (buf[k] == '\n' && buf[k + 1] == 0))) {
            buf[0] = 0;
            return 0;
        }
    }
    return 1;
}

// ---- files and time -----------------------------------------------------------------

int sys_replace_file(const char* from, const char* to) { return rename(from, to) == 0; }

uint32_t sys_pid(void) { return (uint32_t)getpid(); }

int64_t sys_now(void) { return g_have_clock ? g_clock : (int64_t)time(nullptr); }

void sys_local_time(int64_t t, int out[6]) {
    time_t tt = (time_t)t;
    struct tm tmv;
    memset(&tmv, 0, sizeof tmv);
    localtime_r(&tt, &tmv);
    out[0] = tmv.tm_year + 1900;
    out[1] = tmv.tm_mon + 1;
    out[2] = tmv.tm_mday;
    out[3] = tmv.tm_hour;
    out[4] = tmv.tm_min;
    out[5] = tmv.tm_sec;
}
