// The operating-system seam on real Windows: Setup API and configuration
// manager for devices, CreateProcessW for the system programs, the process
// token and the shell for elevation, and the console for text. Everything
// lives in static storage; nothing here allocates.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "common/text.h"
#include "sys/sys.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");

namespace {

inline wchar_t* W(char16_t* p) { return reinterpret_cast<wchar_t*>(p); }

}  // namespace

// ---- device set -----------------------------------------------------------

struct sys_devset {
    HDEVINFO h;
    SP_DEVINFO_DATA d;
    int open;
    int have;  // d describes a fetched member
};

namespace {

// The program walks one set at a time, so one slot is enough.
sys_devset g_set;

}  // namespace

sys_devset* sys_dev_open(int all, uint32_t* err) {
    if (g_set.open) {
        if (err) *err = ERROR_BUSY;
        return nullptr;
    }
    DWORD flags = all ? DIGCF_ALLCLASSES : (DIGCF_ALLCLASSES | DIGCF_PRESENT);
    HDEVINFO h = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, flags);
    if (h == INVALID_HANDLE_VALUE) {
        if (err) *err = GetLastError();
        return nullptr;
    }
    g_set.h = h;
    memset(&g_set.d, 0, sizeof g_set.d);
    g_set.d.cbSize = sizeof(SP_DEVINFO_DATA);
    g_set.open = 1;
    g_set.have = 0;
    return &g_set;
}

int sys_dev_next(sys_devset* s, uint32_t index) {
    if (!s || !s->open) return 0;
    s->have = SetupDiEnumDeviceInfo(s->h, index, &s->d) ? 1 : 0;
    return s->have;
}

int sys_dev_prop(sys_devset* s, int prop, char16_t* buf, uint32_t bytes) {
    if (!s || !s->have || !buf || bytes < sizeof(char16_t)) return 0;
    DWORD code;
    switch (prop) {
    case SYS_PROP_FRIENDLYNAME: code = SPDRP_FRIENDLYNAME; break;
    case SYS_PROP_DEVICEDESC: code = SPDRP_DEVICEDESC; break;
    case SYS_PROP_CLASS: code = SPDRP_CLASS; break;
    default: return 0;
    }
    // Read into our own buffer first: the caller's must stay untouched when
    // the property is missing or does not fit, and the registry does not
    // promise a terminator.
    static char16_t tmp[4096];
    DWORD cap = bytes < sizeof tmp ? bytes : (DWORD)sizeof tmp;
    DWORD got = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(s->h, &s->d, code, nullptr,
                                           reinterpret_cast<BYTE*>(tmp), cap, &got))
        return 0;
    DWORD units = cap / sizeof(char16_t);
    DWORD n = got / sizeof(char16_t);
    if (n > units) return 0;
    DWORD len = 0;
    while (len < n && tmp[len]) len++;
    if (len >= units) return 0;  // no room left for the terminator
    for (DWORD i = 0; i < len; i++) buf[i] = tmp[i];
    buf[len] = 0;
    return 1;
}

int sys_dev_id(sys_devset* s, char16_t* buf, uint32_t units) {
    if (!s || !s->have || !buf || units == 0) return 0;
    static char16_t tmp[1024];
    ULONG cap = units < 1024 ? units : 1024;
    tmp[0] = 0;
    if (CM_Get_Device_IDW(s->d.DevInst, W(tmp), cap, 0) != CR_SUCCESS) return 0;
    ULONG len = 0;
    while (len < cap && tmp[len]) len++;
    if (len >= cap) return 0;  // cut off without a terminator
    for (ULONG i = 0; i <= len; i++) buf[i] = tmp[i];
    return 1;
}

int sys_dev_present(sys_devset* s) {
    if (!s || !s->have) return 0;
    ULONG status = 0, problem = 0;
    // A record of a device that is not attached has no devnode to ask.
    return CM_Get_DevNode_Status(&status, &problem, s->d.DevInst, 0) == CR_SUCCESS ? 1 : 0;
}

int sys_dev_remove(sys_devset* s) {
    if (!s || !s->have) return 0;
    SP_REMOVEDEVICE_PARAMS p;
    memset(&p, 0, sizeof p);
    p.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    p.ClassInstallHeader.InstallFunction = DIF_REMOVE;
    p.Scope = DI_REMOVEDEVICE_GLOBAL;
    p.HwProfile = 0;
    if (!SetupDiSetClassInstallParamsW(s->h, &s->d, &p.ClassInstallHeader, (DWORD)sizeof p)) return 0;
    if (!SetupDiCallClassInstaller(DIF_REMOVE, s->h, &s->d)) return 0;
    return 1;
}

void sys_dev_close(sys_devset* s) {
    if (!s || !s->open) return;
    SetupDiDestroyDeviceInfoList(s->h);
    s->h = INVALID_HANDLE_VALUE;
    s->open = 0;
    s->have = 0;
}

// ---- processes --------------------------------------------------------------

int sys_run_hidden(const char16_t* cmdline, uint32_t timeout_ms) {
    // CreateProcessW may write into the command line, so it gets a copy.
    static wchar_t line[32768];
    size_t n = 0;
    if (cmdline)
        for (; cmdline[n] && n < 32767; n++) line[n] = (wchar_t)cmdline[n];
    line[n] = 0;

    STARTUPINFOW si;
    memset(&si, 0, sizeof si);
    si.cb = (DWORD)sizeof si;
    PROCESS_INFORMATION pi;
    memset(&pi, 0, sizeof pi);
    if (!CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &si, &pi))
        return -1;
    WaitForSingleObject(pi.hProcess, timeout_ms);
    DWORD code = (DWORD)-1;
    if (!GetExitCodeProcess(pi.hProcess, &code)) code = (DWORD)-1;
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return (int)code;
}

// ---- process identity -------------------------------------------------------

int sys_is_elevated(void) {
    HANDLE tok = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &tok)) return 0;
    TOKEN_ELEVATION e;
    e.TokenIsElevated = 0;
    DWORD got = 0;
    BOOL ok = GetTokenInformation(tok, TokenElevation, &e, (DWORD)sizeof e, &got);
    CloseHandle(tok);
    return (ok && e.TokenIsElevated) ? 1 : 0;
}

int sys_relaunch_elevated(void) {
    wchar_t path[260];
    wchar_t cwd[260];
    path[0] = 0;
    cwd[0] = 0;
    DWORD n = GetModuleFileNameW(nullptr, path, 260);
    if (n == 0 || n >= 260) return 0;
    DWORD c = GetCurrentDirectoryW(260, cwd);
    if (c == 0 || c >= 260) cwd[0] = 0;
    HINSTANCE r = ShellExecuteW(nullptr, L"runas", path, L"--elevated",
                                cwd[0] ? cwd : nullptr, SW_SHOWNORMAL);
    return (INT_PTR)r > 32 ? 1 : 0;
}

uint32_t sys_exe_path_a(char* buf, uint32_t bytes) {
    if (!buf || bytes == 0) return 0;
    DWORD cap = bytes < 260 ? bytes : 260;
    DWORD n = GetModuleFileNameA(nullptr, buf, cap);
    if (n == 0) {
        buf[0] = 0;
        return 0;
    }
    // Older systems leave a cut path unterminated.
    if (n >= cap) n = cap - 1;
    buf[n] = 0;
    return n;
}

uint32_t sys_exe_path_w(char16_t* buf, uint32_t units) {
    if (!buf || units == 0) return 0;
    DWORD n = GetModuleFileNameW(nullptr, W(buf), units);
    if (n == 0) {
        buf[0] = 0;
        return 0;
    }
    if (n >= units) {
        // A cut path would name another file; the task must not run that.
        buf[units - 1] = 0;
        return 0;
    }
    buf[n] = 0;
    return n;
}

// ---- console ---------------------------------------------------------------

namespace {

// -1 not yet known, 0 redirected, 1 a console.
int g_out_con = -1;
int g_in_con = -1;

int is_console(DWORD which, int* cache) {
    if (*cache < 0) {
        DWORD mode;
        HANDLE h = GetStdHandle(which);
        *cache = (h && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode)) ? 1 : 0;
    }
    return *cache;
}

void con_write(const wchar_t* w, DWORD n) {
    HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
    while (n > 0) {
        DWORD done = 0;
        if (!WriteConsoleW(h, w, n, &done, nullptr) || done == 0) return;
        w += done;
        n -= done;
    }
}

}  // namespace

void sys_console_utf8(void) {
    SetConsoleOutputCP(65001);
    SetConsoleCP(65001);
}

void sys_out(const char* s, uint32_t n) {
    if (!s || n == 0) return;
    if (!is_console(STD_OUTPUT_HANDLE, &g_out_con)) {
        fwrite(s, 1, n, stdout);
        return;
    }
    // A character cut between two calls is kept back until its tail arrives,
    // so the console never shows it as two replacement marks.
    static char stage[4096];
    static size_t held = 0;
    static char16_t wide[sizeof stage + 1];
    while (n > 0) {
        size_t take = sizeof stage - held;
        if (take > n) take = n;
        memcpy(stage + held, s, take);
        s += take;
        n -= (uint32_t)take;
        size_t len = held + take;
        size_t whole = utf8_whole(stage, len);
        size_t units = utf16n(stage, whole, wide, sizeof wide / sizeof wide[0]);
        con_write(reinterpret_cast<const wchar_t*>(wide), (DWORD)units);
        held = len - whole;
        memmove(stage, stage + whole, held);
    }
}

namespace {

// Console input already converted to UTF-8, waiting to be handed out.
char g_pend[16384];
size_t g_pend_n = 0;
size_t g_pend_at = 0;
int g_eof_next = 0;     // an end of input is due once the pending text is gone
int g_cr_held = 0;      // a CR ended the last chunk; its LF may follow
char16_t g_hi_held = 0; // a high surrogate ended the last chunk

void pend_put(char c) {
    if (g_pend_n < sizeof g_pend) g_pend[g_pend_n++] = c;
}

// Reads one chunk from the console into g_pend. 0 at the end of input.
int con_fill(void) {
    static wchar_t w[4096];
    static char16_t u[4096 + 2];
    HANDLE h = GetStdHandle(STD_INPUT_HANDLE);
    DWORD got = 0;
    g_pend_n = 0;
    g_pend_at = 0;
    if (!ReadConsoleW(h, w, 4096, &got, nullptr) || got == 0) return 0;

    size_t k = 0;
    if (g_hi_held) u[k++] = g_hi_held;
    g_hi_held = 0;
    int ctrl_z = 0;
    for (DWORD i = 0; i < got; i++) {
        if (w[i] == 0x1A) {  // Ctrl+Z: the text before it, then the end
            ctrl_z = 1;
            break;
        }
        u[k++] = (char16_t)w[i];
    }
    if (!ctrl_z && k > 0 && u[k - 1] >= 0xD800 && u[k - 1] <= 0xDBFF) g_hi_held = u[--k];
    u[k] = 0;

    static char b[sizeof u / sizeof u[0] * 3 + 1];
    size_t bn = utf8(u, b, sizeof b);
    // Text mode turns CR LF into LF; a CR at the end of a chunk waits to
    // see whether the next chunk starts with LF.
    size_t i = 0;
    if (g_cr_held) {
        g_cr_held = 0;
        if (bn == 0 || b[0] != '\n') pend_put('\r');
    }
    for (; i < bn; i++) {
        if (b[i] == '\r') {
            if (i + 1 < bn) {
                if (b[i + 1] == '\n') continue;
            } else if (!ctrl_z) {
                g_cr_held = 1;
                continue;
            }
        }
        pend_put(b[i]);
    }
    if (ctrl_z) {
        g_cr_held = 0;
        g_eof_next = 1;
    }
    return 1;
}

int con_read_line(char* buf, int size) {
    int o = 0;
    while (o < size - 1) {
        if (g_pend_at >= g_pend_n) {
            if (g_eof_next) {
                if (o > 0) break;  // hand out the text first, the end next time
                g_eof_next = 0;
                buf[0] = 0;
                return 0;
            }
            if (!con_fill()) {
                if (o > 0) break;
                buf[0] = 0;
                return 0;
            }
            continue;
        }
        char c = g_pend[g_pend_at++];
        buf[o++] = c;
        if (c == '\n') break;
    }
    buf[o] = 0;
    return 1;
}

}  // namespace

int sys_read_line(char* buf, int size) {
    if (!buf || size < 1) return 0;
    if (size == 1) {
        buf[0] = 0;
        return 0;
    }
    if (is_console(STD_INPUT_HANDLE, &g_in_con)) return con_read_line(buf, size);
    return fgets(buf, size, stdin) ? 1 : 0;
}

// ---- files and time --------------------------------------------------------

int sys_replace_file(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 1 : 0;
}

uint32_t sys_pid(void) {
    return (uint32_t)GetCurrentProcessId();
}

int64_t sys_now(void) {
    return (int64_t)_time64(nullptr);
}

void sys_local_time(int64_t t, int out[6]) {
    __time64_t tt = (__time64_t)t;
    struct tm tm;
    memset(&tm, 0, sizeof tm);
    if (_localtime64_s(&tm, &tt) != 0) {
        // No calendar for this instant: show the epoch rather than garbage.
        tm.tm_year = 70;
        tm.tm_mon = 0;
        tm.tm_mday = 1;
    }
    out[0] = tm.tm_year + 1900;
    out[1] = tm.tm_mon + 1;
    out[2] = tm.tm_mday;
    out[3] = tm.tm_hour;
    out[4] = tm.tm_min;
    out[5] = tm.tm_sec;
}
