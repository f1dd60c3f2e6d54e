// The seam on the simulated machine (sim_machine.h): devices, programs, the
// token and the shell come from the machine; files, locks and the console
// are the real ones of the Linux host. It keeps the real seam's contract,
// one open device set included.
#include "sys/sys.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/text.h"
#include "sys/sim_machine.h"

namespace {

// A path in the host's encoding.
const char* host(const char16_t* path, char* buf, size_t size) {
    utf8(path, buf, size);
    return buf[0] ? buf : ".";
}

const char* base_name(const char* p) {
    const char* b = p;
    for (; *p; p++)
        if (*p == '/' || *p == '\\') b = p + 1;
    return b;
}

void sleep_ms(long ms) {
    struct timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
}

// A program line's program, by the path it stands at (defined with the
// software devices, below).
const SimProgram* program_at(const char* path);

}  // namespace

// ---- device set -----------------------------------------------------------------

struct sys_devset {
    int open;
    int count;
    int cur;  // index into members, -1 before the first sys_dev_next
    uint16_t members[SIM_MAX_DEVS];
};

namespace {

sys_devset g_set;

SimDev* current(sys_devset* s) {
    if (!s || !s->open || s->cur < 0 || s->cur >= s->count) return nullptr;
    return &g_sim.devs[s->members[s->cur]];
}

// The instance id as written in the machine file, in UTF-8.
void inst_utf8(const SimDev& d, char* out, size_t size) {
    if (!d.text[SIM_INST]) out[0] = 0;
    else utf8(d.text[SIM_INST], out, size);
}

int open_set(void) {
    if (g_set.open) return 0;  // the real seam holds one set too
    {
        // The software devices as the machine holds them now.
        SimStateLock lock;
        sim_state_load();
    }
    g_set.open = 1;
    g_set.count = 0;
    g_set.cur = -1;
    return 1;
}

// What a removal does to the machine; the result it reports. A software
// device's record leaves the machine's state at once.
sys_removal remove_dev(SimDev* d) {
    if (d->stays) return SYS_REMOVED;
    if (d->restart) {
        d->pending = 1;
        return SYS_REMOVED_RESTART;
    }
    d->gone = 1;
    if (d->sw) {
        static char inst[2048];
        inst_utf8(*d, inst, sizeof inst);
        SimStateLock lock;
        sim_state_forget(inst);
    }
    return SYS_REMOVED;
}

}  // namespace

// What a failure made on request reports for a device set, as the system
// does when it is short of memory.
constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;

sys_devset* sys_dev_open(int all, uint32_t* err) {
    if (sim_fails(SIM_DEV_OPEN)) {
        if (err) *err = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    sim_record("enum", all ? "all" : "present");
    if (g_sim.enum_fail) {
        if (err) *err = g_sim.enum_code;
        return nullptr;
    }
    if (!open_set()) {
        if (err) *err = 170;  // ERROR_BUSY
        return nullptr;
    }
    // A set is a snapshot, as on Windows: later removals do not shrink it.
    for (int i = 0; i < g_sim.ndevs; i++) {
        if (g_sim.devs[i].gone) continue;
        if (!all && !g_sim.devs[i].present) continue;
        g_set.members[g_set.count++] = (uint16_t)i;
    }
    return &g_set;
}

sys_devset* sys_dev_open_id(const char16_t* id) {
    if (sim_fails(SIM_DEV_OPEN_ID)) return nullptr;
    static char want[2048], inst[2048];
    utf8(id, want, sizeof want);
    sim_record("open", want);
    if (!want[0] || !open_set()) return nullptr;
    for (int i = 0; i < g_sim.ndevs; i++) {
        if (g_sim.devs[i].gone) continue;
        inst_utf8(g_sim.devs[i], inst, sizeof inst);
        if (!ieq_ascii(inst, want)) continue;
        g_set.members[0] = (uint16_t)i;
        g_set.count = 1;
        g_set.cur = 0;
        return &g_set;
    }
    g_set.open = 0;
    return nullptr;
}

int sys_dev_next(sys_devset* s, uint32_t index) {
    if (!s || !s->open || index >= (uint32_t)s->count) return 0;
    s->cur = (int)index;
    return 1;
}

int sys_dev_prop(sys_devset* s, sys_prop prop, char16_t* buf, uint32_t units) {
    SimDev* d = current(s);
    if (!d) return 0;
    const char16_t* t = d->text[prop == SYS_PROP_FRIENDLYNAME ? SIM_FRIENDLY : prop == SYS_PROP_DEVICEDESC ? SIM_DESC : SIM_CLASS];
    if (!t) return 0;
    size_t len = wlen(t);
    if (len + 1 > units) return 0;
    memcpy(buf, t, (len + 1) * sizeof(char16_t));
    return 1;
}

sys_read sys_dev_ids(sys_devset* s, sys_ids which, char16_t* buf, uint32_t units) {
    if (units < 2) return SYS_READ_FAILED;
    buf[0] = buf[1] = 0;
    if (sim_fails(SIM_DEV_IDS)) return SYS_READ_FAILED;
    SimDev* d = current(s);
    if (!d) return SYS_READ_FAILED;
    const char16_t* ids = d->ids[which == SYS_IDS_HARDWARE ? 0 : 1];
    if (!ids) return SYS_READ_MISSING;
    size_t n = 0;
    while (ids[n]) n += wlen(ids + n) + 1;
    if (n + 1 > units) return SYS_READ_FAILED;
    memcpy(buf, ids, (n + 1) * sizeof(char16_t));
    return SYS_READ_OK;
}

int sys_dev_parent(sys_devset* s, char16_t* buf, uint32_t units) {
    if (units == 0) return 0;
    buf[0] = 0;
    if (sim_fails(SIM_DEV_PARENT)) return 0;
    SimDev* d = current(s);
    if (!d || !d->parent) return 0;
    size_t len = wlen(d->parent);
    if (len + 1 > units) return 0;
    memcpy(buf, d->parent, (len + 1) * sizeof(char16_t));
    return 1;
}

int sys_dev_id(sys_devset* s, char16_t* buf, uint32_t units) {
    if (units == 0) return 0;
    buf[0] = 0;
    SimDev* d = current(s);
    if (!d || !d->text[SIM_INST]) return 0;
    size_t len = wlen(d->text[SIM_INST]);
    if (len + 1 > units) return 0;
    memcpy(buf, d->text[SIM_INST], (len + 1) * sizeof(char16_t));
    return 1;
}

sys_dev_state sys_dev_state_of(sys_devset* s, uint32_t* problem) {
    *problem = 0;
    SimDev* d = current(s);
    if (!d || d->gone || !d->present) return SYS_DEV_NOT_PRESENT;
    if (d->sw && !d->installed) {
        *problem = 28;  // CM_PROB_FAILED_INSTALL: no driver installed
        return SYS_DEV_PROBLEM;
    }
    return SYS_DEV_STARTED;
}

int sys_dev_wait_installs(uint32_t timeout_ms) {
    (void)timeout_ms;  // installs here are done before the call that starts them returns
    return !sim_fails(SIM_DEV_WAIT);
}

sys_presence sys_dev_presence(sys_devset* s) {
    SimDev* d = current(s);
    if (!d || d->gone) return SYS_ABSENT;
    if (d->pending) return SYS_LEAVING;
    return d->present ? SYS_PRESENT : SYS_ABSENT;
}

sys_removal sys_dev_remove(sys_devset* s) {
    if (sim_fails(SIM_DEV_REMOVE)) return SYS_REMOVE_FAILED;
    SimDev* d = current(s);
    if (!d || d->gone || d->ci_fail) return SYS_REMOVE_FAILED;
    sys_removal r = remove_dev(d);
    static char inst[2048];
    inst_utf8(*d, inst, sizeof inst);
    sim_record("remove", inst);
    return r;
}

int sys_rescan(void) {
    if (sim_fails(SIM_RESCAN)) return 0;
    sim_record("rescan", "");
    return 1;
}

void sys_dev_close(sys_devset* s) {
    if (s) s->open = 0;
}

// ---- processes --------------------------------------------------------------------

namespace {

// Splits off the next argument of a command line by the rules of the
// programs' own argument parser: quotes group, 2n backslashes before a quote
// are n backslashes, 2n+1 make the quote literal. Returns where it stopped.
const char* next_arg(const char* p, char* out, size_t size) {
    size_t o = 0;
    while (*p == ' ' || *p == '\t') p++;
    int quoted = 0;
    while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
        size_t bs = 0;
        while (*p == '\\') bs++, p++;
        if (*p == '"') {
            for (size_t i = 0; i < bs / 2 && o + 1 < size; i++) out[o++] = '\\';
            if (bs % 2) {
                if (o + 1 < size) out[o++] = '"';
            } else {
                quoted = !quoted;
            }
            p++;
        } else {
            for (size_t i = 0; i < bs && o + 1 < size; i++) out[o++] = '\\';
            if (*p && (quoted || (*p != ' ' && *p != '\t'))) {
                if (o + 1 < size) out[o++] = *p;
                p++;
            }
        }
    }
    out[o] = 0;
    return p;
}

// What "pnputil /remove-device <id>" does to the machine when it succeeds.
void pnputil_removed(const char* args, int restart) {
    static char word[2048], id[2048], inst[2048];
    const char* p = next_arg(args, word, sizeof word);
    if (strcmp(word, "/remove-device") != 0) return;
    next_arg(p, id, sizeof id);
    for (int i = 0; i < g_sim.ndevs; i++) {
        SimDev& d = g_sim.devs[i];
        if (d.gone) continue;
        inst_utf8(d, inst, sizeof inst);
        if (!inst[0] || !ieq_ascii(inst, id)) continue;
        if (restart) d.pending = 1;
        else remove_dev(&d);
    }
}

// What a task definition handed over with "/XML <file>" holds, as schtasks
// would find it: "events" or "timer" for a UTF-16 definition with or
// without the device-event trigger, and "+policy" after it for one with
// the policy trigger. Its command and arguments, "<command>\t<arguments>",
// go into `task` (empty when there is none).
void record_definition(const char* args, char* task, size_t size) {
    static char word[SIM_PATH_BYTES], text[65536];
    static unsigned char raw[65536];
    task[0] = 0;
    const char* p = args;
    while (*p) {
        p = next_arg(p, word, sizeof word);
        if (strcmp(word, "/XML") != 0) continue;
        next_arg(p, word, sizeof word);
        FILE* f = fopen(word, "rb");
        size_t n = f ? fread(raw, 1, sizeof raw, f) : 0;
        if (f) fclose(f);
        const char* what = "missing";
        if (f) what = "not a UTF-16 task definition";
        if (n >= 2 && raw[0] == 0xFF && raw[1] == 0xFE) {
            static char16_t wide[sizeof raw / 2 + 1];
            size_t k = 0;
            for (size_t i = 2; i + 1 < n; i += 2) wide[k++] = (char16_t)(raw[i] | raw[i + 1] << 8);
            wide[k] = 0;
            utf8(wide, text, sizeof text);
            if (strncmp(text, "<?xml", 5) == 0) {
                int devices = strstr(text, "Microsoft-Windows-Kernel-PnP/Configuration") != nullptr;
                int policy = strstr(text, "Microsoft-Windows-GroupPolicy") != nullptr;
                what = devices ? policy ? "events+policy" : "events" : policy ? "timer+policy" : "timer";
                static const char CMD[] = "<Command>", ARGS[] = "<Arguments>";
                const char* c = strstr(text, CMD);
                const char* c_end = c ? strstr(c, "</Command>") : nullptr;
                const char* a = strstr(text, ARGS);
                const char* a_end = a ? strstr(a, "</Arguments>") : nullptr;
                if (c_end && a_end) {
                    c += sizeof CMD - 1;
                    a += sizeof ARGS - 1;
                    size_t cl = (size_t)(c_end - c), al = (size_t)(a_end - a);
                    if (cl + al + 2 <= size) {
                        memcpy(task, c, cl);
                        task[cl] = '\t';
                        memcpy(task + cl + 1, a, al);
                        task[cl + 1 + al] = 0;
                    }
                }
            }
        }
        sim_record("xml", what);
        return;
    }
}

}  // namespace

uint32_t sys_system_dir(char16_t* buf, uint32_t units) {
    if (units == 0) return 0;
    static char16_t wide[SIM_PATH_BYTES];
    size_t n = utf16(g_sim.sysdir, wide, countof(wide));
    if (n + 1 > units) {
        buf[0] = 0;
        return 0;
    }
    memcpy(buf, wide, (n + 1) * sizeof(char16_t));
    return (uint32_t)n;
}

namespace {

// Defined with the software devices, below.
sys_run_result start_program(const SimProgram& p, const char* as, const char* args, const char* cwd, int system,
                             const char* out, uint32_t timeout_ms, int* code);
void system_program_done(const char* key, int code, const char* task);

sys_run_result run_any(const char16_t* program, const char16_t* cmdline, const char16_t* cwd, uint32_t timeout_ms,
                       int* code, const char16_t* out_path) {
    if (sim_fails(SIM_RUN)) return SYS_RUN_FAILED;
    static char line[8192], prog[SIM_PATH_BYTES], first[SIM_PATH_BYTES], key[8192], out[SIM_PATH_BYTES],
        dir[SIM_PATH_BYTES], task[SIM_PATH_BYTES];
    utf8(cmdline, line, sizeof line);
    utf8(program, prog, sizeof prog);
    sim_record("run", line);
    if (out_path) host(out_path, out, sizeof out);
    // The command line must name the program it starts.
    const char* args = next_arg(line, first, sizeof first);
    if (strcmp(first, prog) != 0) return SYS_RUN_FAILED;
    if (const SimProgram* p = program_at(prog))
        return start_program(*p, prog, args, cwd ? host(cwd, dir, sizeof dir) : nullptr, 0, out_path ? out : nullptr,
                             timeout_ms, code);
    // Besides those, only the system directory's programs exist; they print
    // nothing here.
    size_t dl = strlen(g_sim.sysdir);
    if (strncmp(prog, g_sim.sysdir, dl) != 0 || prog[dl] != '\\') return SYS_RUN_FAILED;
    if (out_path) {
        FILE* f = fopen(out, "wb");
        if (f) fclose(f);
    }
    record_definition(args, task, sizeof task);
    // "<name> <arguments>" is what the rules match.
    scopy(key, sizeof key, prog + dl + 1);
    size_t kl = strlen(key);
    if (kl > 4 && ieq_ascii(key + kl - 4, ".exe")) key[kl - 4] = 0;
    size_t at = strlen(key);
    scopy(key + at, sizeof key - at, args);
    for (int i = 0; i < g_sim.nrules; i++) {
        SimRule& r = g_sim.rules[i];
        if (strncmp(key, r.prefix, strlen(r.prefix)) != 0) continue;
        if (r.kind == SIM_RUN_HANG) return SYS_RUN_TIMEOUT;  // stopped at once instead of after the wait
        if (r.kind == SIM_RUN_NOSTART) return SYS_RUN_FAILED;
        if (r.kind == SIM_RUN_TASK) {
            SimStateLock lock;
            sim_state_load();
            *code = g_sim.task[0] ? 0 : 1;
            return SYS_RUN_EXITED;
        }
        *code = r.codes[r.used < r.ncodes ? r.used : r.ncodes - 1];
        r.used++;
        if (strncmp(key, "pnputil ", 8) == 0 && (*code == 0 || *code == 3010)) pnputil_removed(key + 8, *code == 3010);
        system_program_done(key, *code, task);
        return SYS_RUN_EXITED;
    }
    *code = 1;
    return SYS_RUN_EXITED;
}

}  // namespace

sys_run_result sys_run(const char16_t* program, const char16_t* cmdline, const char16_t* cwd, uint32_t timeout_ms,
                       int* code) {
    return run_any(program, cmdline, cwd, timeout_ms, code, nullptr);
}

sys_run_result sys_run_output(const char16_t* program, const char16_t* cmdline, const char16_t* cwd,
                              uint32_t timeout_ms, int* code, const char16_t* out_path) {
    return run_any(program, cmdline, cwd, timeout_ms, code, out_path);
}

namespace {
volatile sig_atomic_t g_interrupted = 0;
void on_interrupt(int) { g_interrupted = 1; }
}  // namespace

void sys_interrupt_catch(void) {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_interrupt;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

int sys_interrupted(void) { return g_interrupted != 0; }

// ---- process identity -----------------------------------------------------------

int sys_is_elevated(void) { return g_sim.elevated; }

int sys_is_system(void) { return g_sim.system; }

int sys_relaunch_elevated(const char16_t* exe, const char16_t* args) {
    if (sim_fails(SIM_RELAUNCH)) return 0;
    static char p[SIM_PATH_BYTES], a[SIM_PATH_BYTES], line[2 * SIM_PATH_BYTES + 16];
    utf8(exe, p, sizeof p);
    utf8(args, a, sizeof a);
    fmt(line, sizeof line, "runas\t%s\t%s", p, a);
    sim_record("relaunch", line);
    return g_sim.relaunch;
}

namespace {

// A UTF-8 path of the machine into buf; its length, 0 when empty or too long.
uint32_t wide_path(const char* path, char16_t* buf, uint32_t units) {
    if (units == 0) return 0;
    buf[0] = 0;
    size_t bytes = strlen(path);
    if (bytes == 0) return 0;
    static char16_t wide[SIM_PATH_BYTES];
    size_t n = utf16n(path, bytes, wide, SIM_PATH_BYTES);
    if (n + 1 > units) return 0;  // a cut path would name another file
    memcpy(buf, wide, (n + 1) * sizeof(char16_t));
    return (uint32_t)n;
}

}  // namespace

uint32_t sys_exe_loaded_path(char16_t* buf, uint32_t units) {
    if (!g_sim.exe[0]) {
        ssize_t n = readlink("/proc/self/exe", g_sim.exe, sizeof g_sim.exe - 1);
        g_sim.exe[n > 0 ? n : 0] = 0;
    }
    return wide_path(g_sim.exe, buf, units);
}

uint32_t sys_exe_final_path(char16_t* buf, uint32_t units) {
    if (g_sim.exe_final_fails) {
        if (units) buf[0] = 0;
        return 0;
    }
    if (!g_sim.exe_final[0]) return sys_exe_loaded_path(buf, units);
    return wide_path(g_sim.exe_final, buf, units);
}

int sys_restrict_dll_search(void) { return !g_sim.dll_search_unsafe; }

uint32_t sys_computer_name(char16_t* buf, uint32_t units) { return wide_path(g_sim.computer, buf, units); }

sys_volume sys_volume_type(const char16_t* path) {
    static char p[SIM_PATH_BYTES];
    utf8(path, p, sizeof p);
    // The innermost mount point that holds the path, as GetVolumePathNameW finds it.
    sys_volume kind = SYS_VOLUME_FIXED;
    size_t best = 0;
    for (int i = 0; i < g_sim.nvolumes; i++) {
        const SimVolume& v = g_sim.volumes[i];
        size_t n = strlen(v.path);
        int holds = strncmp(p, v.path, n) == 0 &&
                    (p[n] == 0 || p[n] == '/' || p[n] == '\\' || v.path[n - 1] == '/' || v.path[n - 1] == '\\');
        if (holds && n > best) {
            best = n;
            kind = v.kind;
        }
    }
    return kind;
}

// ---- console ----------------------------------------------------------------------

void sys_console_init(void) { setvbuf(stdout, nullptr, _IONBF, 0); }

void sys_console_restore(void) {}  // a terminal here has no code pages

void sys_out(const char* s, uint32_t n) { fwrite(s, 1, n, stdout); }

void sys_err(const char* s, uint32_t n) {
    fflush(stdout);
    fwrite(s, 1, n, stderr);
}

int sys_read_line(char* buf, uint32_t size) {
    static int line_start = 1;  // the next read begins a new input line
    // Whatever was printed (the prompt) must be out before we wait.
    fflush(stdout);
    if (size > 0) buf[0] = 0;
    if (size > 0x7FFFFFFF || !fgets(buf, (int)size, stdin)) {
        if (size > 0) buf[0] = 0;
        return 0;
    }
    int start = line_start;
    size_t n = strlen(buf);
    line_start = n > 0 && buf[n - 1] == '\n';
    // As Windows' text mode does: CR LF ends a line as LF alone.
    if (n >= 2 && buf[n - 2] == '\r' && buf[n - 1] == '\n') {
        buf[n - 2] = '\n';
        buf[n - 1] = 0;
    }
    if (start && g_sim.eof_line[0]) {
        size_t k = strlen(g_sim.eof_line);
        if (strncmp(buf, g_sim.eof_line, k) == 0 && (buf[k] == 0 || (buf[k] == '\n' && buf[k + 1] == 0))) {
            buf[0] = 0;
            return 0;
        }
    }
    return 1;
}

// ---- files ------------------------------------------------------------------------
// Files we create are for their owner alone, as on Windows they are for the
// system and administrators alone.

struct sys_file {
    int fd;
};

namespace {
sys_file g_file{-1};
}

sys_file* sys_file_open(const char16_t* path, sys_read* r) {
    static char p[SIM_PATH_BYTES];
    *r = SYS_READ_FAILED;
    if (sim_fails(SIM_FILE_OPEN)) return nullptr;
    if (g_file.fd >= 0) return nullptr;  // the real seam holds one too
    int fd = open(host(path, p, sizeof p), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) *r = SYS_READ_MISSING;
        return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return nullptr;
    }
    *r = SYS_READ_OK;
    g_file.fd = fd;
    return &g_file;
}

int sys_file_next(sys_file* f, char* buf, uint32_t size, uint32_t* got) {
    *got = 0;
    if (sim_fails(SIM_FILE_NEXT) || !f || f->fd < 0) return 0;
    for (;;) {
        ssize_t k = read(f->fd, buf, size);
        if (k < 0 && errno == EINTR) continue;
        if (k < 0) return 0;
        *got = (uint32_t)k;
        return 1;
    }
}

void sys_file_close(sys_file* f) {
    if (!f || f->fd < 0) return;
    close(f->fd);
    f->fd = -1;
}

int sys_file_append(const char16_t* path, const char* data, uint32_t n) {
    if (sim_fails(SIM_FILE_APPEND)) return 0;
    static char p[SIM_PATH_BYTES];
    int fd = open(host(path, p, sizeof p), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return 0;
    ssize_t k = write(fd, data, n);
    close(fd);
    return k == (ssize_t)n;
}

int sys_file_create(const char16_t* path, const char* data, uint32_t n) {
    if (sim_fails(SIM_FILE_CREATE)) return 0;
    static char p[SIM_PATH_BYTES];
    host(path, p, sizeof p);
    int fd = open(p, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return 0;
    int ok = 1;
    for (uint32_t done = 0; ok && done < n;) {
        ssize_t k = write(fd, data + done, n - done);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) ok = 0;
        else done += (uint32_t)k;
    }
    if (ok && fsync(fd) != 0) ok = 0;
    if (close(fd) != 0) ok = 0;
    if (!ok) unlink(p);
    return ok;
}

int sys_file_replace(const char16_t* from, const char16_t* to) {
    if (sim_fails(SIM_FILE_REPLACE)) return 0;
    static char a[SIM_PATH_BYTES], b[SIM_PATH_BYTES];
    return rename(host(from, a, sizeof a), host(to, b, sizeof b)) == 0;
}

namespace {

int delete_file(const char16_t* path) {
    static char p[SIM_PATH_BYTES];
    struct stat st;
    if (lstat(host(path, p, sizeof p), &st) != 0) return errno == ENOENT;
    // As on Windows: only a plain file with one link, never a link's target.
    if (!S_ISREG(st.st_mode) || st.st_nlink != 1) return 0;
    if (g_sim.delete_fails[0] && strcmp(base_name(p), g_sim.delete_fails) == 0) return 0;
    return unlink(p) == 0 || errno == ENOENT;
}

}  // namespace

int sys_file_delete(const char16_t* path) { return !sim_fails(SIM_FILE_DELETE) && delete_file(path); }

int sys_file_delete_wait(const char16_t* path, uint32_t wait_ms) {
    (void)wait_ms;  // a file held open stays held: the wait would pass in vain
    return !sim_fails(SIM_FILE_DELETE_WAIT) && delete_file(path);
}

int sys_file_exists(const char16_t* path) {
    static char p[SIM_PATH_BYTES];
    struct stat st;
    return stat(host(path, p, sizeof p), &st) == 0 || program_at(p);
}

int sys_file_access(const char16_t* path, principal* owner, sys_ace* aces, int* n) {
    static char p[SIM_PATH_BYTES];
    utf8(path, p, sizeof p);
    *n = 0;
    if (sim_fails(SIM_FILE_ACCESS)) return 0;
    for (int i = 0; i < g_sim.nperms; i++) {
        const SimPerm& perm = g_sim.perms[i];
        if (strcmp(perm.path, p) != 0) continue;
        if (!perm.readable) return 0;
        *owner = perm.owner;
        for (int k = 0; k < perm.n; k++) aces[(*n)++] = perm.aces[k];
        return 1;
    }
    *owner = PRINCIPAL_ADMINS;
    aces[(*n)++] = sys_ace{PRINCIPAL_ADMINS, 0x001F01FF, 0};
    return 1;
}

struct sys_lock {
    int fd;
};

namespace {
sys_lock g_locks[2] = {{-1}, {-1}};
}

sys_lock* sys_lock_take(const char16_t* path, uint32_t wait_ms) {
    if (sim_fails(SIM_LOCK_TAKE)) return nullptr;
    sys_lock* l = g_locks[0].fd < 0 ? &g_locks[0] : g_locks[1].fd < 0 ? &g_locks[1] : nullptr;
    if (!l) return nullptr;
    static char p[SIM_PATH_BYTES];
    int fd = open(host(path, p, sizeof p), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;  // no lock file can be made: waiting will not help
    // A lock the machine says another process holds: the wait's time passes
    // at once, as a hanging program's does.
    int held = g_sim.lock_held[0] && strcmp(base_name(p), g_sim.lock_held) == 0;
    for (uint32_t waited = 0;; waited += 10) {
        if (!held && flock(fd, LOCK_EX | LOCK_NB) == 0) {
            l->fd = fd;
            return l;
        }
        if ((!held && errno != EWOULDBLOCK) || waited >= wait_ms) break;
        if (!held) sleep_ms(10);
    }
    if (wait_ms > 0) sim_record("lock-timeout", base_name(p));
    close(fd);
    return nullptr;
}

struct sys_mutex {
    int fd;
    int held;  // without a registry file: this process's registry alone
};

namespace {
sys_mutex g_mutex{-1, 0};
}

sys_mutex* sys_mutex_take(const char16_t* name, uint32_t wait_ms) {
    if (sim_fails(SIM_MUTEX_TAKE) || g_mutex.held) return nullptr;
    static char n[256];
    utf8(name, n, sizeof n);
    if (!g_sim.registry[0]) {
        g_mutex.held = 1;
        return &g_mutex;
    }
    static char p[SIM_PATH_BYTES + 8];
    fmt(p, sizeof p, "%s.mutex", g_sim.registry);
    int fd = open(p, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    for (uint32_t waited = 0;; waited += 10) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            g_mutex.fd = fd;
            g_mutex.held = 1;
            return &g_mutex;
        }
        if (errno != EWOULDBLOCK || waited >= wait_ms) break;
        sleep_ms(10);
    }
    if (wait_ms > 0) sim_record("lock-timeout", n);
    close(fd);
    return nullptr;
}

void sys_mutex_drop(sys_mutex* m) {
    if (!m || !m->held) return;
    if (m->fd >= 0) {
        flock(m->fd, LOCK_UN);
        close(m->fd);
    }
    m->fd = -1;
    m->held = 0;
}

void sys_lock_drop(sys_lock* l) {
    if (!l || l->fd < 0) return;
    flock(l->fd, LOCK_UN);
    close(l->fd);
    l->fd = -1;
}

struct sys_dir {
    DIR* d;
};

namespace {
sys_dir g_dir;
}

sys_dir* sys_dir_open(const char16_t* dir) {
    static char p[SIM_PATH_BYTES];
    if (g_dir.d || sim_fails(SIM_DIR_OPEN)) return nullptr;
    g_dir.d = opendir(host(dir, p, sizeof p));
    return g_dir.d ? &g_dir : nullptr;
}

int sys_dir_next(sys_dir* d, char16_t* buf, uint32_t units) {
    if (!d || !d->d) return 0;
    static char16_t wide[1024];
    while (struct dirent* e = readdir(d->d)) {
        size_t n = utf16(e->d_name, wide, countof(wide));
        if (n + 1 >= countof(wide) || n + 1 > units) continue;  // names that do not fit are skipped
        memcpy(buf, wide, (n + 1) * sizeof(char16_t));
        return 1;
    }
    return 0;
}

void sys_dir_close(sys_dir* d) {
    if (!d || !d->d) return;
    closedir(d->d);
    d->d = nullptr;
}

// ---- registry ---------------------------------------------------------------------
// The machine's registry: g_sim.reg, saved to its file after each change.

namespace {

struct RegKey {
    char key[SIM_REG_KEY];
    char name[SIM_REG_NAME];
};

RegKey g_rk;

// One registry call: the file, when there is one, is read afresh and changed
// under an exclusive lock, as one process's change of Windows' registry is
// at once what the others read.
struct RegCall {
    int fd = -1;
    RegCall() {
        if (!g_sim.registry[0]) return;
        static char lock[SIM_PATH_BYTES + 8];
        fmt(lock, sizeof lock, "%s.lock", g_sim.registry);
        fd = open(lock, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0) flock(fd, LOCK_EX);
        (void)sim_reload_registry();
    }
    ~RegCall() {
        if (fd >= 0) close(fd);
    }
};

void reg_names(const char16_t* key, const char16_t* name) {
    utf8(key, g_rk.key, sizeof g_rk.key);
    if (name) utf8(name, g_rk.name, sizeof g_rk.name);
    else g_rk.name[0] = 0;
}

SimRegValue* reg_find(void) {
    for (int i = 0; i < g_sim.nreg; i++)
        if (ieq_ascii(g_sim.reg[i].key, g_rk.key) && ieq_ascii(g_sim.reg[i].name, g_rk.name)) return &g_sim.reg[i];
    return nullptr;
}

int reg_denied(void) {
    size_t n = strlen(g_sim.reg_deny);
    if (!n) return 0;
    static char head[SIM_REG_KEY];
    scopy(head, n + 1 < sizeof head ? n + 1 : sizeof head, g_rk.key);
    return ieq_ascii(head, g_sim.reg_deny) && (g_rk.key[n] == 0 || g_rk.key[n] == '\\');
}

SimKeyTime* time_of(const char* key) {
    for (int i = 0; i < g_sim.ntimes; i++)
        if (ieq_ascii(g_sim.times[i].key, key)) return &g_sim.times[i];
    return nullptr;
}

// A change of the key: its time is later than any other's, as a clock's would be.
void touch(void) {
    uint64_t latest = 0;
    for (int i = 0; i < g_sim.ntimes; i++)
        if (g_sim.times[i].n > latest) latest = g_sim.times[i].n;
    SimKeyTime* t = time_of(g_rk.key);
    if (!t) {
        if (g_sim.ntimes == SIM_MAX_TIMES) return;
        t = &g_sim.times[g_sim.ntimes++];
        scopy(t->key, sizeof t->key, g_rk.key);
    }
    t->n = latest + 1;
}

int reg_put(sys_reg_type type, const char* data) {
    if (reg_denied()) return 0;
    SimRegValue* v = reg_find();
    if (!v) {
        if (g_sim.nreg == SIM_MAX_REG) return 0;
        v = &g_sim.reg[g_sim.nreg++];
        scopy(v->key, sizeof v->key, g_rk.key);
        scopy(v->name, sizeof v->name, g_rk.name);
    }
    v->type = type;
    scopy(v->data, sizeof v->data, data);
    touch();
    sim_save_registry();
    return 1;
}

int key_exists(void) {
    for (int i = 0; i < g_sim.nreg; i++)
        if (ieq_ascii(g_sim.reg[i].key, g_rk.key)) return 1;
    return 0;
}

// The name of the key just below g_rk.key that `key` lies in, into `child`;
// 0 when `key` is not below it.
int child_of(const char* key, char* child, size_t size) {
    static char head[SIM_REG_KEY];
    size_t n = strlen(g_rk.key);
    if (strlen(key) <= n + 1 || key[n] != '\\') return 0;
    scopy(head, n + 1 < sizeof head ? n + 1 : sizeof head, key);
    if (!ieq_ascii(head, g_rk.key)) return 0;
    scopy(child, size, key + n + 1);
    if (char* cut = strchr(child, '\\')) *cut = 0;
    return 1;
}

// 1 when a key lies below this one: one with a value, or one that was
// changed and not deleted since.
int key_has_subkey(void) {
    char child[SIM_REG_KEY];
    for (int i = 0; i < g_sim.nreg; i++)
        if (child_of(g_sim.reg[i].key, child, sizeof child)) return 1;
    for (int i = 0; i < g_sim.ntimes; i++)
        if (child_of(g_sim.times[i].key, child, sizeof child)) return 1;
    return 0;
}

}  // namespace

sys_reg sys_reg_dword(const char16_t* key, const char16_t* name, uint32_t* v) {
    if (sim_fails(SIM_REG_DWORD)) return SYS_REG_FAILED;
    RegCall call;
    reg_names(key, name);
    const SimRegValue* r = reg_find();
    if (!r) return SYS_REG_MISSING;
    if (r->type != SYS_REG_DWORD) return SYS_REG_FAILED;
    *v = (uint32_t)strtoul(r->data, nullptr, 10);
    return SYS_REG_OK;
}

namespace {

// The whole text of a value, or 0 when it does not fit in units.
int reg_copy_text(const char* data, char16_t* buf, uint32_t units) {
    static char16_t whole[SIM_REG_DATA];
    size_t n = utf16(data, whole, countof(whole));
    if (n + 1 > units) return 0;
    memcpy(buf, whole, (n + 1) * sizeof(char16_t));
    return 1;
}

}  // namespace

sys_reg sys_reg_text(const char16_t* key, const char16_t* name, char16_t* buf, uint32_t units) {
    if (units == 0) return SYS_REG_FAILED;
    buf[0] = 0;
    if (sim_fails(SIM_REG_TEXT)) return SYS_REG_FAILED;
    RegCall call;
    reg_names(key, name);
    const SimRegValue* r = reg_find();
    if (!r) return SYS_REG_MISSING;
    if (r->type != SYS_REG_SZ && r->type != SYS_REG_EXPAND_SZ) return SYS_REG_FAILED;
    return reg_copy_text(r->data, buf, units) ? SYS_REG_OK : SYS_REG_FAILED;
}

sys_reg sys_reg_value_at(const char16_t* key, uint32_t index, char16_t* name, uint32_t name_units, sys_reg_type* type,
                         char16_t* text, uint32_t text_units) {
    if (sim_fails(SIM_REG_VALUE_AT)) return SYS_REG_FAILED;
    RegCall call;
    reg_names(key, nullptr);
    uint32_t k = 0;
    for (int i = 0; i < g_sim.nreg; i++) {
        const SimRegValue& r = g_sim.reg[i];
        if (!ieq_ascii(r.key, g_rk.key) || k++ != index) continue;
        if (!reg_copy_text(r.name, name, name_units)) return SYS_REG_FAILED;
        *type = r.type;
        if (text_units && ((r.type != SYS_REG_SZ && r.type != SYS_REG_EXPAND_SZ) || !reg_copy_text(r.data, text, text_units)))
            text[0] = 0;
        return SYS_REG_OK;
    }
    return SYS_REG_MISSING;
}

int sys_reg_set_dword(const char16_t* key, const char16_t* name, uint32_t v) {
    if (sim_fails(SIM_REG_SET_DWORD)) return 0;
    RegCall call;
    reg_names(key, name);
    char data[16];
    fmt(data, sizeof data, "%u", (unsigned)v);
    return reg_put(SYS_REG_DWORD, data);
}

int sys_reg_set_text(const char16_t* key, const char16_t* name, const char16_t* text, sys_reg_type type) {
    if (sim_fails(SIM_REG_SET_TEXT)) return 0;
    RegCall call;
    reg_names(key, name);
    static char data[SIM_REG_DATA];
    utf8(text, data, sizeof data);
    return reg_put(type == SYS_REG_EXPAND_SZ ? SYS_REG_EXPAND_SZ : SYS_REG_SZ, data);
}

int sys_reg_delete_value(const char16_t* key, const char16_t* name) {
    if (sim_fails(SIM_REG_DELETE_VALUE)) return 0;
    RegCall call;
    reg_names(key, name);
    SimRegValue* v = reg_find();
    if (!v) return 1;
    if (reg_denied()) return 0;
    int at = (int)(v - g_sim.reg);
    for (int i = at; i + 1 < g_sim.nreg; i++) g_sim.reg[i] = g_sim.reg[i + 1];
    g_sim.nreg--;
    touch();
    sim_save_registry();
    return 1;
}

int sys_reg_delete_key(const char16_t* key) {
    if (sim_fails(SIM_REG_DELETE_KEY)) return 0;
    RegCall call;
    reg_names(key, nullptr);
    if (key_has_subkey()) return 0;  // as on Windows, a key with subkeys stays
    SimKeyTime* t = time_of(g_rk.key);
    if (!key_exists() && !t) return 1;
    if (reg_denied()) return 0;
    int w = 0;
    for (int i = 0; i < g_sim.nreg; i++)
        if (!ieq_ascii(g_sim.reg[i].key, g_rk.key)) g_sim.reg[w++] = g_sim.reg[i];
    g_sim.nreg = w;
    // Gone, it has no time: a reader that compares times sees it went.
    if (t) *t = g_sim.times[--g_sim.ntimes];
    sim_save_registry();
    return 1;
}

sys_reg sys_reg_kind(const char16_t* key, const char16_t* name, sys_reg_type* type) {
    if (sim_fails(SIM_REG_KIND)) return SYS_REG_FAILED;
    RegCall call;
    reg_names(key, name);
    const SimRegValue* r = reg_find();
    if (!r) return SYS_REG_MISSING;
    *type = r->type;
    return SYS_REG_OK;
}

sys_reg sys_reg_key_time(const char16_t* key, uint64_t* t) {
    if (sim_fails(SIM_REG_KEY_TIME)) return SYS_REG_FAILED;
    RegCall call;
    reg_names(key, nullptr);
    const SimKeyTime* kt = time_of(g_rk.key);
    // A key exists here while it or a key below it has a value, or once it
    // was changed: a policy key may hold nothing but its lists.
    if (!kt && !key_exists() && !key_has_subkey()) return SYS_REG_MISSING;
    *t = kt ? kt->n : 0;
    return SYS_REG_OK;
}

sys_reg sys_reg_subkey_at(const char16_t* key, uint32_t index, char16_t* name, uint32_t units) {
    if (units == 0) return SYS_REG_FAILED;
    name[0] = 0;
    if (sim_fails(SIM_REG_SUBKEY_AT)) return SYS_REG_FAILED;
    RegCall call;
    reg_names(key, nullptr);
    // The keys a value or a time lies in, each once, in the order first met.
    static char seen[64][SIM_REG_KEY];
    int nseen = 0;
    for (int i = 0; i < g_sim.nreg + g_sim.ntimes && nseen < (int)countof(seen); i++) {
        const char* k = i < g_sim.nreg ? g_sim.reg[i].key : g_sim.times[i - g_sim.nreg].key;
        if (!child_of(k, seen[nseen], sizeof seen[0])) continue;
        int known = 0;
        for (int j = 0; j < nseen && !known; j++) known = ieq_ascii(seen[j], seen[nseen]);
        if (!known) nseen++;
    }
    if (index >= (uint32_t)nseen) return SYS_REG_MISSING;
    return reg_copy_text(seen[index], name, units) ? SYS_REG_OK : SYS_REG_FAILED;
}

// ---- software devices -------------------------------------------------------------

namespace {

char g_slot_id[SYS_SWDEV_SLOTS][600];

const char RESTRICTIONS[] = "SOFTWARE\\Policies\\Microsoft\\Windows\\DeviceInstall\\Restrictions";

// Under the registry's lock (RegCall): the DWORD `name` of Restrictions is 1.
int switch_on(const char* name) {
    scopy(g_rk.key, sizeof g_rk.key, RESTRICTIONS);
    scopy(g_rk.name, sizeof g_rk.name, name);
    const SimRegValue* v = reg_find();
    return v && v->type == SYS_REG_DWORD && strcmp(v->data, "1") == 0;
}

// Whether a value of the list Restrictions\<list> holds the id (letter case aside).
int listed(const char* list, const char16_t* id) {
    static char key[SIM_REG_KEY], want[2048];
    fmt(key, sizeof key, "%s\\%s", RESTRICTIONS, list);
    utf8(id, want, sizeof want);
    for (int i = 0; i < g_sim.nreg; i++) {
        const SimRegValue& v = g_sim.reg[i];
        if (ieq_ascii(v.key, key) && v.type == SYS_REG_SZ && ieq_ascii(v.data, want)) return 1;
    }
    return 0;
}

// Windows' own decision ("Manage Device Installation with Group Policy"):
// the instance id's layer first; under layered evaluation an allow of it
// outranks the device ids' layer, otherwise every prevention wins.
int install_allowed(const SimDev& d) {
    if (g_sim.policy_ignored) return 1;
    RegCall call;
    if (switch_on("DenyInstanceIDs") && listed("DenyInstanceIDs", d.text[SIM_INST])) return 0;
    if (switch_on("AllowDenyLayered") && switch_on("AllowInstanceIDs") && listed("AllowInstanceIDs", d.text[SIM_INST]))
        return 1;
    if (!switch_on("DenyDeviceIDs")) return 1;
    for (const char16_t* list : d.ids)
        for (const char16_t* id = list; id && *id; id += wlen(id) + 1)
            if (listed("DenyDeviceIDs", id)) return 0;
    return 1;
}

void refused(const char* inst) {
    static char line[2100];
    if (!(g_sim.audit_pnp & 1) || !g_sim.events) return;  // "Audit PNP Activity", success
    fmt(line, sizeof line, "6423\tinfo\t%s", inst);
    sim_record("event", line);
}

const SimProgram* program_at(const char* path) {
    for (int i = 0; i < g_sim.nprograms; i++)
        if (ieq_ascii(g_sim.programs[i].path, path)) return &g_sim.programs[i];
    return nullptr;
}

sys_run_result start_program(const SimProgram& p, const char* as, const char* args, const char* cwd, int system,
                             const char* out, uint32_t timeout_ms, int* code) {
    static char store[8192];
    static char* argv[64];
    int argc = 0;
    argv[argc++] = const_cast<char*>(p.host);
    size_t used = 0;
    for (const char* a = args; argc < 63 && used + 1 < sizeof store;) {
        while (*a == ' ' || *a == '\t') a++;
        if (!*a) break;
        a = next_arg(a, store + used, sizeof store - used);
        argv[argc++] = store + used;
        used += strlen(store + used) + 1;
    }
    argv[argc] = nullptr;
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid < 0) return SYS_RUN_FAILED;
    if (pid == 0) {
        setenv("QUILLFEN_SIM_EXE", as, 1);
        if (system) setenv("QUILLFEN_SIM_SYSTEM", "1", 1);
        else unsetenv("QUILLFEN_SIM_SYSTEM");
        if (cwd && chdir(cwd) != 0) _exit(127);
        if (out) {
            int fd = open(out, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            if (fd < 0 || dup2(fd, 1) < 0 || dup2(fd, 2) < 0) _exit(127);
        }
        execv(p.host, argv);
        _exit(127);
    }
    // Polled, finely at first: most runs here end within milliseconds.
    for (long waited_us = 0, step = 100;; waited_us += step, step = step < 2000 ? step * 2 : step) {
        int st = 0;
        pid_t r = waitpid(pid, &st, WNOHANG);
        if (r == pid) {
            *code = WIFEXITED(st) ? WEXITSTATUS(st) : 1;  // ended by a signal: as TerminateProcess(1) would leave it
            return SYS_RUN_EXITED;
        }
        if (r < 0) return SYS_RUN_FAILED;
        if (waited_us / 1000 >= (long)timeout_ms) {
            kill(pid, SIGKILL);
            waitpid(pid, &st, 0);
            return SYS_RUN_TIMEOUT;
        }
        struct timespec ts{0, step * 1000};
        nanosleep(&ts, nullptr);
    }
}

// An installed device started: the task's trigger fires, and its run
// comes a few seconds later, at the next wait of any process.
void arrival(void) {
    SimStateLock lock;
    sim_state_load();
    if (!g_sim.task[0]) return;
    g_sim.arrival = 1;
    sim_state_save();
}

}  // namespace

// The task's run that an arrival started, as the system account and to its end.
void sys_sleep(uint32_t ms) {
    (void)ms;  // nothing else here happens while a process waits: the machine acts at once
    static char cmd[SIM_PATH_BYTES], line[SIM_PATH_BYTES];
    {
        SimStateLock lock;
        sim_state_load();
        if (!g_sim.arrival || !g_sim.task[0]) return;
        g_sim.arrival = 0;
        sim_state_save();
    }
    scopy(cmd, sizeof cmd, g_sim.task);
    char* args = strchr(cmd, '\t');
    if (!args) return;
    *args++ = 0;
    fmt(line, sizeof line, "%s %s", cmd, args);
    sim_record("task", line);
    int code;
    if (const SimProgram* p = program_at(cmd)) (void)start_program(*p, cmd, args, nullptr, 1, nullptr, 120000, &code);
}

namespace {

// The Plug and Play Events row of the audit policy's CSV
// ("[MS-GPAC] 2.2.1.3.1": a Setting Value of 1, 2 or 3).
const char PNP_GUID[] = "{0CCE9248-69AE-11D9-BED3-505054503030}";

void auditpol(const char* args) {
    static char word[SIM_PATH_BYTES];
    int set = 0, guid = 0, success = -1, failure = -1;
    for (const char* p = args; *p;) {
        p = next_arg(p, word, sizeof word);
        if (strncmp(word, "/file:", 6) == 0) {
            FILE* f = fopen(word + 6, "wb");
            if (!f) return;
            static const char* const SETTING[] = {"No Auditing", "Success", "Failure", "Success and Failure"};
            fprintf(f, "Machine Name,Policy Target,Subcategory,Subcategory GUID,Inclusion Setting,Exclusion Setting,"
                       "Setting Value\r\n%s,System,Plug and Play Events,%s,%s,,%d\r\n",
                    g_sim.computer, PNP_GUID, SETTING[g_sim.audit_pnp & 3], g_sim.audit_pnp & 3);
            fclose(f);
        }
        if (strcmp(word, "/set") == 0) set = 1;
        if (strncmp(word, "/subcategory:", 13) == 0) guid = ieq_ascii(word + 13, PNP_GUID);
        if (strncmp(word, "/success:", 9) == 0) success = strcmp(word + 9, "enable") == 0;
        if (strncmp(word, "/failure:", 9) == 0) failure = strcmp(word + 9, "enable") == 0;
    }
    if (!set || !guid) return;
    SimStateLock lock;
    sim_state_load();
    if (success >= 0) g_sim.audit_pnp = (g_sim.audit_pnp & ~1) | success;
    if (failure >= 0) g_sim.audit_pnp = (g_sim.audit_pnp & ~2) | (failure << 1);
    sim_state_save();
}

// The present software devices that were refused install again where
// nothing refuses them now; each that starts is an arrival.
void rescan(void) {
    int started = 0;
    static char inst[2048];
    {
        SimStateLock lock;
        sim_state_load();
        for (int i = g_sim.nstatic; i < g_sim.ndevs; i++) {
            SimDev& d = g_sim.devs[i];
            if (!d.present || d.installed || !install_allowed(d)) continue;
            d.installed = 1;
            started = 1;
            inst_utf8(d, inst, sizeof inst);
            scopy(inst + strlen(inst), sizeof inst - strlen(inst), "\tinstalled");
            sim_record("swdev", inst);
        }
        sim_state_save();
    }
    if (started) arrival();
}

void system_program_done(const char* key, int code, const char* task) {
    if (code != 0) return;
    if (strncmp(key, "auditpol ", 9) == 0) auditpol(key + 9);
    if (strncmp(key, "pnputil ", 8) == 0 && strstr(key, "/scan-devices")) rescan();
    int create = strncmp(key, "schtasks ", 9) == 0 && strstr(key, "/Create") && task[0];
    int remove = strncmp(key, "schtasks ", 9) == 0 && strstr(key, "/Delete");
    if (!create && !remove) return;
    SimStateLock lock;
    sim_state_load();
    scopy(g_sim.task, sizeof g_sim.task, create ? task : "");
    g_sim.arrival = 0;
    sim_state_save();
}

}  // namespace

int sys_swdev_available(void) { return !g_sim.swdev_unavailable; }

sys_swdev_made sys_swdev_create(const char16_t* enumerator, const char16_t* instance, const char16_t* hardware_ids,
                                const char16_t* name, uint32_t timeout_ms, int* slot, char16_t* id, uint32_t units) {
    (void)timeout_ms;  // the machine enumerates it at once
    if (units) id[0] = 0;
    if (sim_fails(SIM_SWDEV_CREATE)) return SYS_SWDEV_FAILED;
    if (g_sim.swdev_unavailable) return SYS_SWDEV_UNAVAILABLE;
    int k = 0;
    while (k < SYS_SWDEV_SLOTS && g_slot_id[k][0]) k++;
    if (k == SYS_SWDEV_SLOTS || g_set.open) return SYS_SWDEV_FAILED;
    static char e8[256], i8[512], inst[sizeof g_slot_id[0]], name8[1024], ids[4096], line[sizeof inst + 16];
    utf8(enumerator, e8, sizeof e8);
    utf8(instance, i8, sizeof i8);
    utf8(name, name8, sizeof name8);
    fmt(inst, sizeof inst, "SWD\\%s\\%s", e8, i8);
    sim_ids_text(hardware_ids, ids, sizeof ids);
    int returned, started;
    {
        SimStateLock lock;
        sim_state_load();
        SimDev* d = sim_swdev_find(inst);
        if (d && d->present) return SYS_SWDEV_FAILED;  // an instance is unique on its enumerator
        if (!d && !(d = sim_swdev_add(inst, name8, ids))) return SYS_SWDEV_FAILED;
        // A record that was installed is not installed again: it starts.
        returned = d->installed;
        if (!returned) d->installed = (uint8_t)install_allowed(*d);
        started = d->installed;
        d->pid = getpid();
        d->present = 1;
        sim_state_save();
    }
    fmt(line, sizeof line, "%s\t%s", inst, returned ? "returned" : started ? "installed" : "refused");
    sim_record("swdev", line);
    scopy(g_slot_id[k], sizeof g_slot_id[k], inst);
    *slot = k;
    if (utf16(inst, id, units) + 1 >= units) id[0] = 0;
    if (started) arrival();
    else refused(inst);
    return SYS_SWDEV_MADE;
}

void sys_swdev_close(int slot) {
    if (slot < 0 || slot >= SYS_SWDEV_SLOTS || !g_slot_id[slot][0]) return;
    if (!g_set.open) {
        SimStateLock lock;
        sim_state_load();
        SimDev* d = sim_swdev_find(g_slot_id[slot]);
        if (d && d->pid == getpid()) {
            d->pid = 0;
            d->present = 0;
            sim_state_save();
        }
    }
    sim_record("unplug", g_slot_id[slot]);
    g_slot_id[slot][0] = 0;
}

// ---- event log ----------------------------------------------------------------------

void sys_event(const char16_t* source, uint16_t id, sys_event_type type, const char16_t* const* strings, int n) {
    (void)source;  // the machine's one event log takes every source
    if (sim_fails(SIM_EVENT) || !g_sim.events) return;
    static char line[8192], one[2048];
    static const char* const TYPES[] = {"info", "warning", "error"};
    fmt(line, sizeof line, "%u\t%s", (unsigned)id, TYPES[type]);
    for (int i = 0; i < n; i++) {
        utf8(strings[i], one, sizeof one);
        size_t at = strlen(line);
        fmt(line + at, sizeof line - at, "\t%s", one);
    }
    sim_record("event", line);
}

// The machine's one event log is the record's "event" lines.
int sys_event_seen(const char16_t* channel, const char16_t* provider, uint16_t id, const char16_t* text,
                   uint32_t within_s) {
    (void)channel, (void)provider, (void)within_s;  // one log, as old as the record
    if (!g_sim.record[0]) return -1;
    FILE* f = fopen(g_sim.record, "rb");
    if (!f) return 0;
    static char line[8192], want[2048], head[32];
    utf8(text, want, sizeof want);
    lower_ascii(want);
    fmt(head, sizeof head, "event\t%u\t", (unsigned)id);
    int found = 0;
    while (!found && fgets(line, sizeof line, f)) {
        lower_ascii(line);
        found = strncmp(line, head, strlen(head)) == 0 && strstr(line, want) != nullptr;
    }
    fclose(f);
    return found;
}

// ---- time -----------------------------------------------------------------------------

int64_t sys_now(void) { return g_sim.have_clock ? g_sim.clock : (int64_t)time(nullptr); }

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
