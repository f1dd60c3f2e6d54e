// The operating-system seam on real Windows: Setup API and configuration
// manager for devices, CreateProcessW for the system programs, the process
// token and the shell for elevation, the console for text, and plain file
// handles with byte-range locks for the data files.
//
// Only KERNEL32 and the C runtime are linked. SETUPAPI, CFGMGR32, ADVAPI32
// and SHELL32 are loaded on first use, from the system directory only, so
// that a DLL planted beside the executable is never loaded and a run that
// needs none of them loads none. Everything lives in static storage;
// nothing here allocates.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <devpropdef.h>
#include <shellapi.h>
#include <aclapi.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/security.h"
#include "base/text.h"
#include "sys/sys.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");

namespace {

inline wchar_t* W(char16_t* p) { return reinterpret_cast<wchar_t*>(p); }
inline const wchar_t* W(const char16_t* p) { return reinterpret_cast<const wchar_t*>(p); }

// ---- DLLs loaded on demand ------------------------------------------------------

// Only with the search restricted (sys_restrict_dll_search) do the DLL's
// own dependencies come from the system directory too; the program refuses
// to run where it cannot be restricted.
HMODULE load_system_dll(const wchar_t* name) { return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32); }

template <class F>
void bind(HMODULE m, const char* name, F* fn, int* ok) {
    FARPROC p = m ? GetProcAddress(m, name) : nullptr;
    *fn = reinterpret_cast<F>(reinterpret_cast<void*>(p));
    if (!p) *ok = 0;
}

struct SetupApi {
    decltype(&::SetupDiGetClassDevsW) GetClassDevs;
    decltype(&::SetupDiCreateDeviceInfoList) CreateList;
    decltype(&::SetupDiOpenDeviceInfoW) OpenInfo;
    decltype(&::SetupDiEnumDeviceInfo) Enum;
    decltype(&::SetupDiGetDeviceRegistryPropertyW) GetProp;
    decltype(&::SetupDiGetDeviceInstallParamsW) GetInstallParams;
    decltype(&::SetupDiSetDeviceInstallParamsW) SetInstallParams;
    decltype(&::SetupDiSetClassInstallParamsW) SetClassParams;
    decltype(&::SetupDiCallClassInstaller) CallInstaller;
    decltype(&::SetupDiDestroyDeviceInfoList) Destroy;
};

const SetupApi* setup_api(void) {
    static SetupApi api;
    static int state = -1;
    if (state < 0) {
        HMODULE m = load_system_dll(L"setupapi.dll");
        int ok = 1;
        bind(m, "SetupDiGetClassDevsW", &api.GetClassDevs, &ok);
        bind(m, "SetupDiCreateDeviceInfoList", &api.CreateList, &ok);
        bind(m, "SetupDiOpenDeviceInfoW", &api.OpenInfo, &ok);
        bind(m, "SetupDiEnumDeviceInfo", &api.Enum, &ok);
        bind(m, "SetupDiGetDeviceRegistryPropertyW", &api.GetProp, &ok);
        bind(m, "SetupDiGetDeviceInstallParamsW", &api.GetInstallParams, &ok);
        bind(m, "SetupDiSetDeviceInstallParamsW", &api.SetInstallParams, &ok);
        bind(m, "SetupDiSetClassInstallParamsW", &api.SetClassParams, &ok);
        bind(m, "SetupDiCallClassInstaller", &api.CallInstaller, &ok);
        bind(m, "SetupDiDestroyDeviceInfoList", &api.Destroy, &ok);
        state = ok;
    }
    return state ? &api : nullptr;
}

// The configuration manager is documented in CfgMgr32.dll (learn.microsoft.com:
// "CM_Get_Device_IDW function (cfgmgr32.h)"); SetupAPI's copies are only kept
// for compatibility. Loaded apart, so that neither DLL can disable the other.
struct CfgMgr {
    decltype(&::CM_Get_Device_IDW) GetId;
    decltype(&::CM_Get_DevNode_Status) GetStatus;
    decltype(&::CM_Get_Parent) GetParent;
    decltype(&::CM_Locate_DevNodeW) Locate;
    decltype(&::CM_Reenumerate_DevNode) Reenumerate;
};

const CfgMgr* cfg_mgr(void) {
    static CfgMgr api;
    static int state = -1;
    if (state < 0) {
        HMODULE m = load_system_dll(L"cfgmgr32.dll");
        int ok = 1;
        bind(m, "CM_Get_Device_IDW", &api.GetId, &ok);
        bind(m, "CM_Get_DevNode_Status", &api.GetStatus, &ok);
        bind(m, "CM_Get_Parent", &api.GetParent, &ok);
        bind(m, "CM_Locate_DevNodeW", &api.Locate, &ok);
        bind(m, "CM_Reenumerate_DevNode", &api.Reenumerate, &ok);
        state = ok;
    }
    return state ? &api : nullptr;
}

struct AdvApi {
    decltype(&::OpenProcessToken) OpenToken;
    decltype(&::GetTokenInformation) TokenInfo;
    decltype(&::GetNamedSecurityInfoW) GetSecurity;
    decltype(&::LookupPrivilegeValueW) LookupPrivilege;
    decltype(&::AdjustTokenPrivileges) AdjustPrivileges;
};

const AdvApi* adv_api(void) {
    static AdvApi api;
    static int state = -1;
    if (state < 0) {
        HMODULE m = load_system_dll(L"advapi32.dll");
        int ok = 1;
        bind(m, "OpenProcessToken", &api.OpenToken, &ok);
        bind(m, "GetTokenInformation", &api.TokenInfo, &ok);
        bind(m, "GetNamedSecurityInfoW", &api.GetSecurity, &ok);
        bind(m, "LookupPrivilegeValueW", &api.LookupPrivilege, &ok);
        bind(m, "AdjustTokenPrivileges", &api.AdjustPrivileges, &ok);
        state = ok;
    }
    return state ? &api : nullptr;
}

// The registry and the event log, also from ADVAPI32, loaded when first
// needed: a pass with nothing to do should not pay for them.
struct RegApi {
    decltype(&::RegOpenKeyExW) Open;
    decltype(&::RegCreateKeyExW) Create;
    decltype(&::RegQueryValueExW) Query;
    decltype(&::RegEnumValueW) EnumValue;
    decltype(&::RegEnumKeyExW) EnumKey;
    decltype(&::RegSetValueExW) Set;
    decltype(&::RegDeleteValueW) DeleteValue;
    decltype(&::RegDeleteKeyExW) DeleteKey;
    decltype(&::RegCloseKey) Close;
    decltype(&::RegQueryInfoKeyW) QueryInfo;
    decltype(&::RegisterEventSourceW) RegisterSource;
    decltype(&::ReportEventW) Report;
};

const RegApi* reg_api(void) {
    static RegApi api;
    static int state = -1;
    if (state < 0) {
        HMODULE m = load_system_dll(L"advapi32.dll");
        int ok = 1;
        bind(m, "RegOpenKeyExW", &api.Open, &ok);
        bind(m, "RegCreateKeyExW", &api.Create, &ok);
        bind(m, "RegQueryValueExW", &api.Query, &ok);
        bind(m, "RegEnumValueW", &api.EnumValue, &ok);
        bind(m, "RegEnumKeyExW", &api.EnumKey, &ok);
        bind(m, "RegSetValueExW", &api.Set, &ok);
        bind(m, "RegDeleteValueW", &api.DeleteValue, &ok);
        bind(m, "RegDeleteKeyExW", &api.DeleteKey, &ok);
        bind(m, "RegCloseKey", &api.Close, &ok);
        bind(m, "RegQueryInfoKeyW", &api.QueryInfo, &ok);
        bind(m, "RegisterEventSourceW", &api.RegisterSource, &ok);
        bind(m, "ReportEventW", &api.Report, &ok);
        state = ok;
    }
    return state ? &api : nullptr;
}

// Reading a key needs five calls, which kernel32 exports too ("On legacy
// versions of Windows, this API is also exposed by kernel32.dll", the
// RegOpenKeyExW page): taken from there when all five are, the idle pass
// reads its records and looks for the policy key without loading ADVAPI32
// and what it brings along.
struct RegReadApi {
    decltype(&::RegOpenKeyExW) Open;
    decltype(&::RegQueryValueExW) Query;
    decltype(&::RegEnumValueW) EnumValue;
    decltype(&::RegCloseKey) Close;
    decltype(&::RegQueryInfoKeyW) QueryInfo;
};

const RegReadApi* reg_read_api(void) {
    static RegReadApi api;
    static int state = -1;
    if (state < 0) {
        int ok = 1;
        HMODULE k = GetModuleHandleW(L"kernel32.dll");
        bind(k, "RegOpenKeyExW", &api.Open, &ok);
        bind(k, "RegQueryValueExW", &api.Query, &ok);
        bind(k, "RegEnumValueW", &api.EnumValue, &ok);
        bind(k, "RegCloseKey", &api.Close, &ok);
        bind(k, "RegQueryInfoKeyW", &api.QueryInfo, &ok);
        if (!ok) {
            const RegApi* full = reg_api();
            ok = full != nullptr;
            if (ok) api = RegReadApi{full->Open, full->Query, full->EnumValue, full->Close, full->QueryInfo};
        }
        state = ok;
    }
    return state ? &api : nullptr;
}

// ---- paths --------------------------------------------------------------------------

constexpr size_t LONG_UNITS = 1100;
constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Paths of MAX_PATH units or more only open with the \\?\ prefix.
const wchar_t* long_path(const char16_t* path, wchar_t* buf) {
    size_t n = wlen(path);
    if (n < MAX_PATH || n + 8 >= LONG_UNITS) return W(path);
    char16_t* out = reinterpret_cast<char16_t*>(buf);
    out[0] = 0;
    if (path[0] == u'\\' && path[1] == u'\\') {
        if (path[2] == u'?' || path[2] == u'.') return W(path);  // already a device path
        wcat8(out, LONG_UNITS, "\\\\?\\UNC\\");
        wcat(out, LONG_UNITS, path + 2);
        return buf;
    }
    if (path[1] != u':') return W(path);  // relative: nothing to prefix
    wcat8(out, LONG_UNITS, "\\\\?\\");
    wcat(out, LONG_UNITS, path);
    return buf;
}

// Files we create carry our own permission list and owner (security.h).
// Only a token that holds the administrators as a group it may use as owner
// can name them (learn.microsoft.com: "TOKEN_OWNER structure"); an
// unelevated one gets ERROR_INVALID_OWNER, and its files the default owner.
SECURITY_ATTRIBUTES* file_sa(int owner) {
    alignas(8) static unsigned char sd[2][128];
    static SECURITY_ATTRIBUTES sa[2];
    if (!sa[owner].nLength) {
        file_security(sd[owner], sizeof sd[owner], owner);
        sa[owner].nLength = sizeof sa[owner];
        sa[owner].lpSecurityDescriptor = sd[owner];
        sa[owner].bInheritHandle = FALSE;
    }
    return &sa[owner];
}

HANDLE create_file(const wchar_t* path, DWORD access, DWORD share, DWORD disposition) {
    static int owner_refused;
    if (!owner_refused) {
        HANDLE h = CreateFileW(path, access, share, file_sa(1), disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_INVALID_OWNER) return h;
        owner_refused = 1;
    }
    return CreateFileW(path, access, share, file_sa(0), disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

// ---- device set -----------------------------------------------------------

struct sys_devset {
    HDEVINFO h;
    SP_DEVINFO_DATA d;
    int open;
    int have;  // d describes a fetched member
};

namespace {

// The program works with one set at a time, so one slot is enough.
sys_devset g_set;

sys_devset* start_set(HDEVINFO h) {
    g_set.h = h;
    memset(&g_set.d, 0, sizeof g_set.d);
    g_set.d.cbSize = sizeof(SP_DEVINFO_DATA);
    g_set.open = 1;
    g_set.have = 0;
    return &g_set;
}

}  // namespace

sys_devset* sys_dev_open(int all, uint32_t* err) {
    const SetupApi* api = setup_api();
    if (!api || g_set.open) {
        if (err) *err = api ? ERROR_BUSY : GetLastError();
        return nullptr;
    }
    DWORD flags = all ? DIGCF_ALLCLASSES : (DIGCF_ALLCLASSES | DIGCF_PRESENT);
    HDEVINFO h = api->GetClassDevs(nullptr, nullptr, nullptr, flags);
    if (h == INVALID_HANDLE_VALUE) {
        if (err) *err = GetLastError();
        return nullptr;
    }
    return start_set(h);
}

namespace {

// A device's record is its key under Enum. An id no key has is told by one
// registry look, where the device-information calls take several round
// trips to say the same, and a pass looks up every unit an approval or an
// entry names, most of them never seen on this PC. Anything but "not
// found" (a key we may not open, an id too long) leaves it to them.
LSTATUS enum_key_open(const char16_t* id, size_t units) {
    const RegReadApi* api = reg_read_api();
    char16_t key[600];
    key[0] = 0;
    wcat8(key, countof(key), "SYSTEM\\CurrentControlSet\\Enum\\");
    size_t n = wlen(key);
    if (!api || n + units >= countof(key)) return ERROR_INVALID_PARAMETER;
    wcopy(key + n, units + 1, id);
    HKEY h;
    LSTATUS e = api->Open(HKEY_LOCAL_MACHINE, W(key), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &h);
    if (e == ERROR_SUCCESS) api->Close(h);
    return e;
}

// Units of one model share its key (bus\device id), and a fleet's list
// names many units of a model never attached here: a key found missing
// answers for every unit under it for a second, within one step.
struct MissingKey {
    char16_t id[200];
    ULONGLONG at;
};
MissingKey g_missing[16];
int g_next_missing;

int record_missing(const char16_t* id) {
    size_t cut = wlen(id);
    while (cut > 0 && id[cut - 1] != u'\\') cut--;
    size_t parent = cut > 1 ? cut - 1 : 0;
    ULONGLONG now = GetTickCount64();
    if (parent > 0 && parent < countof(g_missing[0].id)) {
        for (const MissingKey& m : g_missing) {
            if (!m.at || now - m.at > 1000 || wlen(m.id) != parent) continue;
            size_t i = 0;
            while (i < parent && m.id[i] == id[i]) i++;
            if (i == parent) return 1;
        }
        if (enum_key_open(id, parent) == ERROR_FILE_NOT_FOUND) {
            MissingKey& m = g_missing[g_next_missing++ % countof(g_missing)];
            for (size_t i = 0; i < parent; i++) m.id[i] = id[i];
            m.id[parent] = 0;
            m.at = now;
            return 1;
        }
    }
    return enum_key_open(id, wlen(id)) == ERROR_FILE_NOT_FOUND;
}

}  // namespace

sys_devset* sys_dev_open_id(const char16_t* id) {
    if (g_set.open || !id[0] || record_missing(id)) return nullptr;
    const SetupApi* api = setup_api();
    if (!api) return nullptr;
    HDEVINFO h = api->CreateList(nullptr, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    sys_devset* s = start_set(h);
    if (!api->OpenInfo(h, W(id), nullptr, 0, &s->d)) {
        sys_dev_close(s);
        return nullptr;
    }
    s->have = 1;
    return s;
}

int sys_dev_next(sys_devset* s, uint32_t index) {
    if (!s || !s->open) return 0;
    s->have = setup_api()->Enum(s->h, index, &s->d) ? 1 : 0;
    return s->have;
}

int sys_dev_prop(sys_devset* s, sys_prop prop, char16_t* buf, uint32_t units) {
    if (!s || !s->have || !buf || units == 0) return 0;
    DWORD code = prop == SYS_PROP_FRIENDLYNAME ? SPDRP_FRIENDLYNAME : prop == SYS_PROP_DEVICEDESC ? SPDRP_DEVICEDESC : SPDRP_CLASS;
    // Read into our own buffer first: the caller's must stay untouched when
    // the property is missing or does not fit, and the registry does not
    // promise a terminator.
    static char16_t tmp[4096];
    DWORD cap = units < 4096 ? units : 4096;
    DWORD got = 0;
    if (!setup_api()->GetProp(s->h, &s->d, code, nullptr, reinterpret_cast<BYTE*>(tmp), cap * sizeof(char16_t), &got))
        return 0;
    DWORD n = got / sizeof(char16_t);
    if (n > cap) return 0;
    DWORD len = 0;
    while (len < n && tmp[len]) len++;
    if (len >= cap) return 0;  // no room left for the terminator
    for (DWORD i = 0; i < len; i++) buf[i] = tmp[i];
    buf[len] = 0;
    return 1;
}

// SPDRP_HARDWAREID and SPDRP_COMPATIBLEIDS: REG_MULTI_SZ. A property the
// device does not have fails with ERROR_INVALID_DATA ("SetupDiGetDevice
// RegistryPropertyW function"); any other failure, a list too long for the
// buffer among them, is no answer.
sys_read sys_dev_ids(sys_devset* s, sys_ids which, char16_t* buf, uint32_t units) {
    if (!buf || units < 2) return SYS_READ_FAILED;
    buf[0] = buf[1] = 0;
    if (!s || !s->have) return SYS_READ_FAILED;
    DWORD code = which == SYS_IDS_HARDWARE ? SPDRP_HARDWAREID : SPDRP_COMPATIBLEIDS;
    static char16_t tmp[16384];
    DWORD cap = units < countof(tmp) ? units : (DWORD)countof(tmp);
    DWORD got = 0, type = 0;
    if (!setup_api()->GetProp(s->h, &s->d, code, &type, reinterpret_cast<BYTE*>(tmp), cap * sizeof(char16_t), &got))
        return GetLastError() == ERROR_INVALID_DATA ? SYS_READ_MISSING : SYS_READ_FAILED;
    if (type != REG_MULTI_SZ) return SYS_READ_FAILED;
    // The registry does not promise the terminators: each string and the
    // list get theirs here, within what fits.
    DWORD len = got / sizeof(char16_t);
    if (len > cap) return SYS_READ_FAILED;
    while (len > 0 && tmp[len - 1] == 0) len--;
    if (len + 2 > units) return SYS_READ_FAILED;
    for (DWORD k = 0; k < len; k++) buf[k] = tmp[k];
    buf[len] = 0;
    buf[len + 1] = 0;
    return SYS_READ_OK;
}

int sys_dev_id(sys_devset* s, char16_t* buf, uint32_t units) {
    if (!buf || units == 0) return 0;
    buf[0] = 0;
    if (!s || !s->have) return 0;
    static char16_t tmp[1024];
    ULONG cap = units < 1024 ? units : 1024;
    tmp[0] = 0;
    const CfgMgr* cm = cfg_mgr();
    if (!cm || cm->GetId(s->d.DevInst, W(tmp), cap, 0) != CR_SUCCESS) return 0;
    ULONG len = 0;
    while (len < cap && tmp[len]) len++;
    if (len >= cap) return 0;  // cut off without a terminator
    for (ULONG i = 0; i <= len; i++) buf[i] = tmp[i];
    return 1;
}

sys_presence sys_dev_presence(sys_devset* s) {
    if (!s || !s->have) return SYS_ABSENT;
    ULONG status = 0, problem = 0;
    // A record of a device that is not attached has no devnode to ask.
    const CfgMgr* cm = cfg_mgr();
    if (!cm || cm->GetStatus(&status, &problem, s->d.DevInst, 0) != CR_SUCCESS) return SYS_ABSENT;
    if ((status & DN_WILL_BE_REMOVED) || ((status & DN_HAS_PROBLEM) && problem == CM_PROB_WILL_BE_REMOVED))
        return SYS_LEAVING;
    return SYS_PRESENT;
}

// "CM_Get_Parent", then the parent's id as "CM_Get_Device_IDW" gives it. A
// record of a device that is not attached has a parent too: the tree keeps
// it while the record stands.
int sys_dev_parent(sys_devset* s, char16_t* buf, uint32_t units) {
    if (!buf || units == 0) return 0;
    buf[0] = 0;
    const CfgMgr* cm = cfg_mgr();
    if (!s || !s->have || !cm) return 0;
    DEVINST parent = 0;
    if (cm->GetParent(&parent, s->d.DevInst, 0) != CR_SUCCESS) return 0;
    static char16_t tmp[1024];
    ULONG cap = units < 1024 ? units : 1024;
    tmp[0] = 0;
    if (cm->GetId(parent, W(tmp), cap, 0) != CR_SUCCESS) return 0;
    ULONG len = 0;
    while (len < cap && tmp[len]) len++;
    if (len >= cap) return 0;  // cut off without a terminator
    for (ULONG i = 0; i <= len; i++) buf[i] = tmp[i];
    return 1;
}

// "The caller of this function must have SeLoadDriverPrivilege"
// (CM_Reenumerate_DevNode): SYSTEM and the administrators hold it, disabled;
// it is enabled for this process, which has nothing else to do with it.
int sys_rescan(void) {
    const CfgMgr* cm = cfg_mgr();
    const AdvApi* adv = adv_api();
    if (!cm) return 0;
    HANDLE token = nullptr;
    if (adv && adv->OpenToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) {
        TOKEN_PRIVILEGES tp;
        tp.PrivilegeCount = 1;
        tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (adv->LookupPrivilege(nullptr, L"SeLoadDriverPrivilege", &tp.Privileges[0].Luid))
            (void)adv->AdjustPrivileges(token, FALSE, &tp, 0, nullptr, nullptr);  // the call below says if it sufficed
        CloseHandle(token);
    }
    DEVINST root = 0;
    if (cm->Locate(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS) return 0;
    return cm->Reenumerate(root, CM_REENUMERATE_ASYNCHRONOUS) == CR_SUCCESS;
}

sys_removal sys_dev_remove(sys_devset* s) {
    if (!s || !s->have) return SYS_REMOVE_FAILED;
    const SetupApi* api = setup_api();
    // The unattended pass has no desktop: an installer must not wait on a
    // dialog nobody sees.
    SP_DEVINSTALL_PARAMS_W ip;
    memset(&ip, 0, sizeof ip);
    ip.cbSize = sizeof ip;
    if (api->GetInstallParams(s->h, &s->d, &ip)) {
        ip.Flags |= DI_QUIETINSTALL;
        api->SetInstallParams(s->h, &s->d, &ip);
    }
    SP_REMOVEDEVICE_PARAMS p;
    memset(&p, 0, sizeof p);
    p.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    p.ClassInstallHeader.InstallFunction = DIF_REMOVE;
    p.Scope = DI_REMOVEDEVICE_GLOBAL;
    p.HwProfile = 0;
    if (!api->SetClassParams(s->h, &s->d, &p.ClassInstallHeader, (DWORD)sizeof p)) return SYS_REMOVE_FAILED;
    if (!api->CallInstaller(DIF_REMOVE, s->h, &s->d)) return SYS_REMOVE_FAILED;
    memset(&ip, 0, sizeof ip);
    ip.cbSize = sizeof ip;
    if (api->GetInstallParams(s->h, &s->d, &ip) && (ip.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART)))
        return SYS_REMOVED_RESTART;
    return SYS_REMOVED;
}

void sys_dev_close(sys_devset* s) {
    if (!s || !s->open) return;
    setup_api()->Destroy(s->h);
    s->h = INVALID_HANDLE_VALUE;
    s->open = 0;
    s->have = 0;
}

// "CM_Get_DevNode_Status": a record that is not attached has no devnode.
sys_dev_state sys_dev_state_of(sys_devset* s, uint32_t* problem) {
    *problem = 0;
    ULONG status = 0, code = 0;
    const CfgMgr* cm = cfg_mgr();
    if (!s || !s->have || !cm || cm->GetStatus(&status, &code, s->d.DevInst, 0) != CR_SUCCESS)
        return SYS_DEV_NOT_PRESENT;
    if (status & DN_HAS_PROBLEM) {
        *problem = code;
        return SYS_DEV_PROBLEM;
    }
    return (status & DN_STARTED) ? SYS_DEV_STARTED : SYS_DEV_NOT_STARTED;
}

namespace {

// The software device calls of swdevice.h, whose types Debian's MinGW
// headers lack (learn.microsoft.com: "SwDeviceCreate function (swdevice.h)",
// "SW_DEVICE_CREATE_INFO structure (swdevicedef.h)", "DEVPROPERTY
// structure"). Looked up at run time: Wine 8 does not export them, and a
// static import would stop the program from starting there at all.
struct SwDevice;
using HSwDevice = SwDevice*;
struct SwCreateInfo {
    ULONG cbSize;
    PCWSTR pszInstanceId;
    PCWSTR pszzHardwareIds;
    PCWSTR pszzCompatibleIds;
    const GUID* pContainerId;
    ULONG CapabilityFlags;
    PCWSTR pszDeviceDescription;
    PCWSTR pszDeviceLocation;
    const SECURITY_DESCRIPTOR* pSecurityDescriptor;
};
struct DevPropCompKey {
    DEVPROPKEY Key;
    int Store;  // DEVPROPSTORE: DEVPROP_STORE_SYSTEM is 0
    PCWSTR LocaleName;
};
struct DevProperty {
    DevPropCompKey CompKey;
    DEVPROPTYPE Type;
    ULONG BufferSize;
    PVOID Buffer;
};
using SwCreateCallback = void(WINAPI*)(HSwDevice, HRESULT, PVOID, PCWSTR);

// SWDeviceCapabilitiesSilentInstall | SWDeviceCapabilitiesDriverRequired:
// no installation dialog, and no start without a driver, so that a refused
// install leaves the device without one running.
constexpr ULONG SW_CAPABILITIES = 0x2 | 0x8;
// DEVPKEY_Device_FriendlyName (devpkey.h).
const DEVPROPKEY FRIENDLY_NAME = {{0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};

struct SwApi {
    HRESULT(WINAPI* Create)(PCWSTR, PCWSTR, const SwCreateInfo*, ULONG, const DevProperty*, SwCreateCallback, PVOID,
                            HSwDevice*);
    void(WINAPI* Close)(HSwDevice);
};

const SwApi* sw_api(void) {
    static SwApi api;
    static int state = -1;
    if (state < 0) {
        HMODULE m = load_system_dll(L"cfgmgr32.dll");
        int ok = 1;
        bind(m, "SwDeviceCreate", &api.Create, &ok);
        bind(m, "SwDeviceClose", &api.Close, &ok);
        state = ok;
    }
    return state ? &api : nullptr;
}

// What the creation callback hands back, for the one creation under way.
struct Created {
    HANDLE done;
    HRESULT hr;
    wchar_t id[600];
};
Created g_created;
HSwDevice g_slots[SYS_SWDEV_SLOTS];

void WINAPI on_created(HSwDevice, HRESULT hr, PVOID context, PCWSTR id) {
    Created* c = static_cast<Created*>(context);
    c->hr = hr;
    c->id[0] = 0;
    if (id) wcopy(reinterpret_cast<char16_t*>(c->id), countof(c->id), reinterpret_cast<const char16_t*>(id));
    SetEvent(c->done);
}

}  // namespace

int sys_swdev_available(void) { return sw_api() != nullptr; }

sys_swdev_made sys_swdev_create(const char16_t* enumerator, const char16_t* instance, const char16_t* hardware_ids,
                                const char16_t* name, uint32_t timeout_ms, int* slot, char16_t* id, uint32_t units) {
    if (units) id[0] = 0;
    const SwApi* api = sw_api();
    if (!api) return SYS_SWDEV_UNAVAILABLE;
    int free_slot = -1;
    for (int i = SYS_SWDEV_SLOTS - 1; i >= 0; i--)
        if (!g_slots[i]) free_slot = i;
    if (free_slot < 0) return SYS_SWDEV_FAILED;
    if (!g_created.done) g_created.done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!g_created.done) return SYS_SWDEV_FAILED;
    ResetEvent(g_created.done);
    SwCreateInfo info;
    memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.pszInstanceId = W(instance);
    info.pszzHardwareIds = W(hardware_ids);
    info.CapabilityFlags = SW_CAPABILITIES;
    info.pszDeviceDescription = W(name);
    DevProperty friendly;
    memset(&friendly, 0, sizeof friendly);
    friendly.CompKey.Key = FRIENDLY_NAME;
    friendly.Type = DEVPROP_TYPE_STRING;
    friendly.BufferSize = (ULONG)((wlen(name) + 1) * sizeof(char16_t));
    friendly.Buffer = const_cast<char16_t*>(name);
    HSwDevice h = nullptr;
    // The parent is the root of the tree: the device extends no real one.
    HRESULT hr = api->Create(W(enumerator), L"HTREE\\ROOT\\0", &info, 1, &friendly, on_created, &g_created, &h);
    if (FAILED(hr)) return hr == E_NOTIMPL ? SYS_SWDEV_UNAVAILABLE : SYS_SWDEV_FAILED;
    // S_OK only starts the enumeration; the callback says how it went.
    if (WaitForSingleObject(g_created.done, timeout_ms) != WAIT_OBJECT_0 || FAILED(g_created.hr) ||
        wlen(reinterpret_cast<char16_t*>(g_created.id)) + 1 > units) {
        api->Close(h);  // after it returns the callback is never called
        return SYS_SWDEV_FAILED;
    }
    wcopy(id, units, reinterpret_cast<char16_t*>(g_created.id));
    g_slots[free_slot] = h;
    *slot = free_slot;
    return SYS_SWDEV_MADE;
}

void sys_swdev_close(int slot) {
    const SwApi* api = sw_api();
    if (!api || slot < 0 || slot >= SYS_SWDEV_SLOTS || !g_slots[slot]) return;
    api->Close(g_slots[slot]);
    g_slots[slot] = nullptr;
}

// "CM_WaitNoPendingInstallEvents" is a macro: the export is
// CMP_WaitNoPendingInstallEvents. Its answer is true when it is given.
int sys_dev_wait_installs(uint32_t timeout_ms) {
    static DWORD(WINAPI * wait)(DWORD) = nullptr;
    static int state = -1;
    if (state < 0) {
        state = 1;
        bind(load_system_dll(L"cfgmgr32.dll"), "CMP_WaitNoPendingInstallEvents", &wait, &state);
    }
    return state && wait(timeout_ms) == WAIT_OBJECT_0;
}

// ---- processes --------------------------------------------------------------

uint32_t sys_system_dir(char16_t* buf, uint32_t units) {
    if (!buf || units == 0) return 0;
    UINT n = GetSystemDirectoryW(W(buf), units);
    if (n == 0 || n >= units) {
        buf[0] = 0;
        return 0;
    }
    return n;
}

namespace {

// A job whose processes all end when its last handle closes, so that a
// program stopped at the time limit takes whatever it started along
// (learn.microsoft.com: "JOBOBJECT_BASIC_LIMIT_INFORMATION structure").
HANDLE kill_on_close_job(void) {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (!job) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
    memset(&limits, 0, sizeof limits);
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, (DWORD)sizeof limits)) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

// Starts the program, its standard output and error going to `out` when it
// is given: that one handle alone is inherited ("UpdateProcThreadAttribute
// function", PROC_THREAD_ATTRIBUTE_HANDLE_LIST), never another of ours.
sys_run_result run_program(const char16_t* program, const char16_t* cmdline, const char16_t* cwd, uint32_t timeout_ms,
                           int* code, HANDLE out) {
    // CreateProcessW may write into the command line, so it gets a copy.
    static wchar_t line[32768];
    size_t n = 0;
    for (; cmdline[n] && n < 32767; n++) line[n] = (wchar_t)cmdline[n];
    line[n] = 0;

    STARTUPINFOEXW si;
    memset(&si, 0, sizeof si);
    si.StartupInfo.cb = (DWORD)sizeof si.StartupInfo;
    DWORD flags = CREATE_NO_WINDOW | CREATE_SUSPENDED;
    alignas(8) static unsigned char attrs[256];
    if (out) {
        SIZE_T size = sizeof attrs;
        si.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attrs);
        if (!InitializeProcThreadAttributeList(si.lpAttributeList, 1, 0, &size) ||
            !UpdateProcThreadAttribute(si.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &out, sizeof out,
                                       nullptr, nullptr))
            return SYS_RUN_FAILED;
        si.StartupInfo.cb = (DWORD)sizeof si;
        si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        si.StartupInfo.hStdOutput = out;
        si.StartupInfo.hStdError = out;
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
    PROCESS_INFORMATION pi;
    memset(&pi, 0, sizeof pi);
    // Suspended until it is in the job: nothing it starts may escape it.
    BOOL started = CreateProcessW(W(program), line, nullptr, nullptr, out ? TRUE : FALSE, flags, nullptr, W(cwd),
                                  &si.StartupInfo, &pi);
    if (out) DeleteProcThreadAttributeList(si.lpAttributeList);
    if (!started) return SYS_RUN_FAILED;
    // Windows 7 cannot nest jobs, and the Task Scheduler runs the task in one
    // (learn.microsoft.com: "AssignProcessToJobObject function"): then the
    // program alone is stopped.
    HANDLE job = kill_on_close_job();
    if (job && !AssignProcessToJobObject(job, pi.hProcess)) {
        CloseHandle(job);
        job = nullptr;
    }
    sys_run_result r = SYS_RUN_FAILED;
    if (ResumeThread(pi.hThread) != (DWORD)-1) {
        DWORD w = WaitForSingleObject(pi.hProcess, timeout_ms);
        DWORD exit_code = 0;
        if (w == WAIT_OBJECT_0 && GetExitCodeProcess(pi.hProcess, &exit_code)) {
            // 259 here is the program's own exit code: it has ended.
            *code = (int)exit_code;
            r = SYS_RUN_EXITED;
        } else if (w == WAIT_TIMEOUT) {
            r = SYS_RUN_TIMEOUT;
        }
    }
    if (r != SYS_RUN_EXITED) TerminateProcess(pi.hProcess, 1);  // a no-op for one that has ended
    if (job) CloseHandle(job);  // ends whatever else is still in it
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return r;
}

volatile LONG g_interrupted = 0;

BOOL WINAPI on_interrupt(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
    InterlockedExchange(&g_interrupted, 1);
    return TRUE;
}

}  // namespace

sys_run_result sys_run(const char16_t* program, const char16_t* cmdline, const char16_t* cwd, uint32_t timeout_ms,
                       int* code) {
    return run_program(program, cmdline, cwd, timeout_ms, code, nullptr);
}

sys_run_result sys_run_output(const char16_t* program, const char16_t* cmdline, const char16_t* cwd,
                              uint32_t timeout_ms, int* code, const char16_t* out_path) {
    static wchar_t lp[LONG_UNITS];
    HANDLE h = create_file(long_path(out_path, lp), GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);
    if (h == INVALID_HANDLE_VALUE) return SYS_RUN_FAILED;
    // The child writes to it, through the one handle it inherits.
    if (!SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
        CloseHandle(h);
        return SYS_RUN_FAILED;
    }
    sys_run_result r = run_program(program, cmdline, cwd, timeout_ms, code, h);
    CloseHandle(h);
    return r;
}

void sys_sleep(uint32_t ms) { Sleep(ms); }

// Handlers run last registered first: this one answers before the one of
// sys_console_init, which would let the process end.
void sys_interrupt_catch(void) { SetConsoleCtrlHandler(on_interrupt, TRUE); }

int sys_interrupted(void) { return g_interrupted != 0; }

// ---- process identity -------------------------------------------------------

int sys_is_elevated(void) {
    const AdvApi* api = adv_api();
    HANDLE tok = nullptr;
    if (!api || !api->OpenToken(GetCurrentProcess(), TOKEN_QUERY, &tok)) return 0;
    TOKEN_ELEVATION e;
    e.TokenIsElevated = 0;
    DWORD got = 0;
    BOOL ok = api->TokenInfo(tok, TokenElevation, &e, (DWORD)sizeof e, &got);
    CloseHandle(tok);
    return (ok && e.TokenIsElevated) ? 1 : 0;
}

// "GetTokenInformation" with TokenUser: the token's user is LocalSystem
// (S-1-5-18), as for the scheduled task's runs.
int sys_is_system(void) {
    const AdvApi* api = adv_api();
    HANDLE tok = nullptr;
    if (!api || !api->OpenToken(GetCurrentProcess(), TOKEN_QUERY, &tok)) return 0;
    union {
        TOKEN_USER user;
        BYTE raw[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } info;
    DWORD got = 0;
    BOOL ok = api->TokenInfo(tok, TokenUser, &info, (DWORD)sizeof info, &got);
    CloseHandle(tok);
    if (!ok) return 0;
    const BYTE* sid = static_cast<const BYTE*>(info.user.User.Sid);
    // S-1-5-18: revision 1, one sub-authority, authority 5, sub-authority 18.
    static const BYTE SYSTEM_SID[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
    return memcmp(sid, SYSTEM_SID, sizeof SYSTEM_SID) == 0;
}

int sys_relaunch_elevated(const char16_t* exe, const char16_t* args) {
    static wchar_t cwd[1024];
    DWORD c = GetCurrentDirectoryW(countof(cwd), cwd);
    if (c == 0 || c >= countof(cwd)) cwd[0] = 0;
    decltype(&::ShellExecuteW) shell_execute = nullptr;
    int ok = 1;
    bind(load_system_dll(L"shell32.dll"), "ShellExecuteW", &shell_execute, &ok);
    if (!ok) return 0;
    HINSTANCE r = shell_execute(nullptr, L"runas", W(exe), W(args), cwd[0] ? cwd : nullptr, SW_SHOWNORMAL);
    return (INT_PTR)r > 32 ? 1 : 0;
}

uint32_t sys_exe_loaded_path(char16_t* buf, uint32_t units) {
    if (!buf || units == 0) return 0;
    DWORD n = GetModuleFileNameW(nullptr, W(buf), units);
    if (n == 0 || n >= units) {
        // A cut path would name another file.
        buf[0] = 0;
        return 0;
    }
    buf[n] = 0;
    return n;
}

uint32_t sys_exe_final_path(char16_t* buf, uint32_t units) {
    if (!buf || units == 0) return 0;
    buf[0] = 0;
    // The executable does not move while it runs: resolved once.
    static wchar_t final_path[LONG_UNITS];
    static DWORD len;
    static int state = -1;
    if (state < 0) {
        state = 0;
        static char16_t loaded[LONG_UNITS];
        static wchar_t lp[LONG_UNITS];
        // Opened without access to its contents, only to ask for its name.
        HANDLE h = sys_exe_loaded_path(loaded, LONG_UNITS)
                       ? CreateFileW(long_path(loaded, lp), 0, SHARE_ALL, nullptr, OPEN_EXISTING, 0, nullptr)
                       : INVALID_HANDLE_VALUE;
        if (h != INVALID_HANDLE_VALUE) {
            // Fails with ERROR_PATH_NOT_FOUND on a volume without a drive letter
            // (learn.microsoft.com: "GetFinalPathNameByHandleW function").
            len = GetFinalPathNameByHandleW(h, final_path, LONG_UNITS, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
            state = len > 0 && len < LONG_UNITS;
            CloseHandle(h);
        }
    }
    if (!state || len + 1 > units) return 0;
    memcpy(buf, final_path, (len + 1) * sizeof(wchar_t));
    return len;
}

// "GetComputerNameW": *size in, the buffer's units; out, the name's.
uint32_t sys_computer_name(char16_t* buf, uint32_t units) {
    if (!buf || units == 0) return 0;
    DWORD size = units;
    if (!GetComputerNameW(W(buf), &size) || size >= units) {
        buf[0] = 0;
        return 0;
    }
    return (uint32_t)size;
}

int sys_restrict_dll_search(void) {
    // Missing on Windows 7 without KB2533623 (learn.microsoft.com:
    // "SetDefaultDllDirectories function"); looked up at run time.
    using Fn = BOOL(WINAPI*)(DWORD);
    FARPROC p = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    return p && reinterpret_cast<Fn>(reinterpret_cast<void*>(p))(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

sys_volume sys_volume_type(const char16_t* path) {
    static wchar_t lp[LONG_UNITS], root[LONG_UNITS];
    // The mount point, not the drive letter: a volume mounted in a folder is
    // its own volume (learn.microsoft.com: "GetVolumePathNameW function").
    if (!GetVolumePathNameW(long_path(path, lp), root, LONG_UNITS)) return SYS_VOLUME_UNKNOWN;
    switch (GetDriveTypeW(root)) {
    case DRIVE_FIXED: return SYS_VOLUME_FIXED;
    case DRIVE_REMOVABLE: return SYS_VOLUME_REMOVABLE;
    case DRIVE_REMOTE: return SYS_VOLUME_REMOTE;
    case DRIVE_CDROM: return SYS_VOLUME_CDROM;
    case DRIVE_RAMDISK: return SYS_VOLUME_RAMDISK;
    default: return SYS_VOLUME_UNKNOWN;
    }
}

// ---- console ---------------------------------------------------------------

namespace {

// One standard stream: whether it is a console, and a character cut
// between two writes, kept back until its tail arrives.
struct Stream {
    DWORD which;
    int console;  // -1 not yet known, 0 redirected, 1 a console
    char stage[4096];
    size_t held;
};

Stream g_stdout{STD_OUTPUT_HANDLE, -1, {0}, 0};
Stream g_stderr{STD_ERROR_HANDLE, -1, {0}, 0};
int g_in_con = -1;

int is_console(DWORD which, int* cache) {
    if (*cache < 0) {
        DWORD mode;
        HANDLE h = GetStdHandle(which);
        *cache = (h && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode)) ? 1 : 0;
    }
    return *cache;
}

void con_write(HANDLE h, const wchar_t* w, DWORD n) {
    while (n > 0) {
        DWORD done = 0;
        if (!WriteConsoleW(h, w, n, &done, nullptr) || done == 0) return;
        w += done;
        n -= done;
    }
}

void stream_write(Stream* st, FILE* fp, const char* s, uint32_t n) {
    if (!s || n == 0) return;
    if (!is_console(st->which, &st->console)) {
        fwrite(s, 1, n, fp);
        return;
    }
    // UTF-8 through the C runtime shows as mojibake on a console: convert.
    static char16_t wide[sizeof st->stage + 1];
    HANDLE h = GetStdHandle(st->which);
    while (n > 0) {
        size_t take = sizeof st->stage - st->held;
        if (take > n) take = n;
        memcpy(st->stage + st->held, s, take);
        s += take;
        n -= (uint32_t)take;
        size_t len = st->held + take;
        size_t whole = utf8_whole(st->stage, len);
        size_t units = utf16n(st->stage, whole, wide, sizeof wide / sizeof wide[0]);
        con_write(h, reinterpret_cast<const wchar_t*>(wide), (DWORD)units);
        st->held = len - whole;
        memmove(st->stage, st->stage + whole, st->held);
    }
}

// The console's code pages before ours; 0 when there was none to read.
UINT g_prev_out = 0, g_prev_in = 0;
volatile LONG g_restored = 0;

void restore_code_pages(void) {
    if (InterlockedExchange(&g_restored, 1)) return;  // the handler's thread and ours
    if (g_prev_out) SetConsoleOutputCP(g_prev_out);
    if (g_prev_in) SetConsoleCP(g_prev_in);
}

// Ctrl+C, Ctrl+Break and closing the console end the process in the default
// handler, which comes next (FALSE); the code pages go back first. Our own
// output is UTF-16 through WriteConsoleW and needs no code page meanwhile.
BOOL WINAPI on_console_signal(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) restore_code_pages();
    return FALSE;
}

}  // namespace

void sys_console_init(void) {
    // SetConsoleOutputCP changes the console for every process attached to
    // it, the command prompt that started us included, and for good.
    g_prev_out = GetConsoleOutputCP();
    g_prev_in = GetConsoleCP();
    SetConsoleCtrlHandler(on_console_signal, TRUE);
    SetConsoleOutputCP(65001);
    SetConsoleCP(65001);
    setvbuf(stdout, nullptr, _IONBF, 0);
}

void sys_console_restore(void) { restore_code_pages(); }

void sys_out(const char* s, uint32_t n) { stream_write(&g_stdout, stdout, s, n); }

void sys_err(const char* s, uint32_t n) {
    fflush(stdout);
    stream_write(&g_stderr, stderr, s, n);
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
    static char16_t u[countof(w) + 2];
    HANDLE h = GetStdHandle(STD_INPUT_HANDLE);
    DWORD got = 0;
    g_pend_n = 0;
    g_pend_at = 0;
    if (!ReadConsoleW(h, w, countof(w), &got, nullptr) || got == 0) return 0;

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

int con_read_line(char* buf, uint32_t size) {
    uint32_t o = 0;
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

int sys_read_line(char* buf, uint32_t size) {
    if (!buf || size < 1) return 0;
    if (size == 1 || size > 0x7FFFFFFF) {
        buf[0] = 0;
        return 0;
    }
    if (is_console(STD_INPUT_HANDLE, &g_in_con)) return con_read_line(buf, size);
    return fgets(buf, (int)size, stdin) ? 1 : 0;
}

// ---- files ------------------------------------------------------------------

struct sys_file {
    HANDLE h;
};

namespace {
sys_file g_file{INVALID_HANDLE_VALUE};
}

sys_file* sys_file_open(const char16_t* path, sys_read* r) {
    static wchar_t lp[LONG_UNITS];
    *r = SYS_READ_FAILED;
    if (g_file.h != INVALID_HANDLE_VALUE) return nullptr;
    // A directory in the file's place fails here: without
    // FILE_FLAG_BACKUP_SEMANTICS CreateFileW does not open directories.
    HANDLE h = CreateFileW(long_path(path, lp), GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD e = GetLastError();
        if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) *r = SYS_READ_MISSING;
        return nullptr;
    }
    *r = SYS_READ_OK;
    g_file.h = h;
    return &g_file;
}

int sys_file_next(sys_file* f, char* buf, uint32_t size, uint32_t* got) {
    *got = 0;
    if (!f || f->h == INVALID_HANDLE_VALUE) return 0;
    DWORD k = 0;
    if (!ReadFile(f->h, buf, size, &k, nullptr)) return 0;
    *got = k;
    return 1;
}

void sys_file_close(sys_file* f) {
    if (!f || f->h == INVALID_HANDLE_VALUE) return;
    CloseHandle(f->h);
    f->h = INVALID_HANDLE_VALUE;
}

int sys_file_append(const char16_t* path, const char* data, uint32_t n) {
    static wchar_t lp[LONG_UNITS];
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write lands at the end.
    HANDLE h = create_file(long_path(path, lp), FILE_APPEND_DATA | SYNCHRONIZE, SHARE_ALL, OPEN_ALWAYS);
    if (h == INVALID_HANDLE_VALUE) return 0;
    DWORD done = 0;
    BOOL ok = WriteFile(h, data, n, &done, nullptr);
    CloseHandle(h);
    return ok && done == n;
}

int sys_file_create(const char16_t* path, const char* data, uint32_t n) {
    static wchar_t lp[LONG_UNITS];
    const wchar_t* p = long_path(path, lp);
    HANDLE h = create_file(p, GENERIC_WRITE, 0, CREATE_NEW);
    if (h == INVALID_HANDLE_VALUE) return 0;
    int ok = 1;
    for (uint32_t at = 0; ok && at < n;) {
        DWORD done = 0;
        if (!WriteFile(h, data + at, n - at, &done, nullptr) || done == 0) ok = 0;
        at += done;
    }
    if (ok && !FlushFileBuffers(h)) ok = 0;
    if (!CloseHandle(h)) ok = 0;
    if (!ok) DeleteFileW(p);
    return ok;
}

int sys_file_replace(const char16_t* from, const char16_t* to) {
    static wchar_t a[LONG_UNITS], b[LONG_UNITS];
    const wchar_t* pa = long_path(from, a);
    const wchar_t* pb = long_path(to, b);
    // A scanner or an indexer may hold the blacklist open for a moment.
    for (int tries = 0; tries < 20; tries++) {
        if (MoveFileExW(pa, pb, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 1;
        DWORD e = GetLastError();
        if (e != ERROR_ACCESS_DENIED && e != ERROR_SHARING_VIOLATION && e != ERROR_LOCK_VIOLATION) return 0;
        Sleep(50);
    }
    return 0;
}

namespace {

// FILE_DISPOSITION_INFO_EX and its flags, which the headers offer only to
// builds for Windows 10 1607 and later; older systems refuse the call.
struct DispositionEx {
    DWORD Flags;
};
constexpr DWORD DISPOSITION_DELETE = 0x1;         // FILE_DISPOSITION_FLAG_DELETE
constexpr DWORD DISPOSITION_POSIX = 0x2;          // FILE_DISPOSITION_FLAG_POSIX_SEMANTICS
constexpr int DISPOSITION_INFO_EX_CLASS = 21;     // FileDispositionInfoEx

// 1 when nothing stands at the name any more; a name whose deletion is
// pending still stands, and opening it fails otherwise.
int name_gone(const wchar_t* p) {
    if (GetFileAttributesW(p) != INVALID_FILE_ATTRIBUTES) return 0;
    DWORD e = GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND;
}

// One attempt at deleting the name; *e is the system's error when a call
// failed, 0 when the name is one that is never deleted.
int delete_once(const wchar_t* p, DWORD* e) {
    *e = 0;
    // The name itself, never what a planted link points to: a symbolic link
    // is opened as the link (FILE_FLAG_OPEN_REPARSE_POINT), and without
    // FILE_FLAG_BACKUP_SEMANTICS a directory does not open at all.
    HANDLE h = CreateFileW(p, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, SHARE_ALL, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *e = GetLastError();
        return *e == ERROR_FILE_NOT_FOUND || *e == ERROR_PATH_NOT_FOUND;
    }
    // A second hard link shares the attributes of some other file, which
    // clearing read-only would change too.
    BY_HANDLE_FILE_INFORMATION info;
    int ok = GetFileInformationByHandle(h, &info) &&
             !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
             info.nNumberOfLinks == 1;
    if (ok && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) {
        // A read-only file refuses deletion. Zero attributes would mean "no
        // change" (FILE_BASIC_INFO), hence NORMAL when nothing else is left.
        FILE_BASIC_INFO b;
        memset(&b, 0, sizeof b);
        b.FileAttributes = info.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY;
        if (!b.FileAttributes) b.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        ok = SetFileInformationByHandle(h, FileBasicInfo, &b, sizeof b);
        if (!ok) *e = GetLastError();
    }
    if (ok) {
        // POSIX semantics take the name away as our handle closes, even while
        // a scanner holds the file with FILE_SHARE_DELETE. Where the system
        // or its file system refuses them (Wine 8: error 87), the classic
        // deletion waits for the last handle, and the name stays until then.
        DispositionEx x{DISPOSITION_DELETE | DISPOSITION_POSIX};
        if (!SetFileInformationByHandle(h, static_cast<FILE_INFO_BY_HANDLE_CLASS>(DISPOSITION_INFO_EX_CLASS), &x,
                                        sizeof x)) {
            FILE_DISPOSITION_INFO d;
            d.DeleteFile = TRUE;
            ok = SetFileInformationByHandle(h, FileDispositionInfo, &d, sizeof d);
            if (!ok) *e = GetLastError();
        }
    }
    CloseHandle(h);
    // A pending deletion leaves the name, and a new file of that name cannot
    // be created until it has gone: not done yet.
    if (ok && !name_gone(p)) {
        *e = ERROR_DELETE_PENDING;
        ok = 0;
    }
    return ok;
}

}  // namespace

int sys_file_delete(const char16_t* path) { return sys_file_delete_wait(path, 0); }

int sys_file_delete_wait(const char16_t* path, uint32_t wait_ms) {
    static wchar_t lp[LONG_UNITS];
    const wchar_t* p = long_path(path, lp);
    for (uint32_t waited = 0;; waited += 50) {
        DWORD e;
        if (delete_once(p, &e)) return 1;
        // A scanner that has it open shares its deletion or not: each of
        // these passes when it lets go.
        if ((e != ERROR_SHARING_VIOLATION && e != ERROR_ACCESS_DENIED && e != ERROR_DELETE_PENDING) ||
            waited >= wait_ms)
            return 0;
        Sleep(50);
    }
}

int sys_file_exists(const char16_t* path) {
    static wchar_t lp[LONG_UNITS];
    return GetFileAttributesW(long_path(path, lp)) != INVALID_FILE_ATTRIBUTES;
}

int sys_file_access(const char16_t* path, principal* owner, sys_ace* aces, int* n) {
    *n = 0;
    const AdvApi* api = adv_api();
    if (!api) return 0;
    static wchar_t lp[LONG_UNITS];
    PSID own = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (api->GetSecurity(const_cast<wchar_t*>(long_path(path, lp)), SE_FILE_OBJECT,
                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &own, nullptr, &dacl, nullptr,
                         &sd) != ERROR_SUCCESS)
        return 0;
    int ok = own != nullptr;
    if (ok) *owner = sid_principal(static_cast<const unsigned char*>(own), 68);
    if (ok && !dacl) {
        // No list at all: everyone may do everything.
        aces[(*n)++] = sys_ace{PRINCIPAL_OTHER, GENERIC_ALL, 0};
    } else if (ok) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(dacl) + sizeof(ACL);
        const unsigned char* end = reinterpret_cast<const unsigned char*>(dacl) + dacl->AclSize;
        for (WORD i = 0; ok && i < dacl->AceCount; i++) {
            const ACE_HEADER* h = reinterpret_cast<const ACE_HEADER*>(p);
            if (p + sizeof(ACE_HEADER) > end || h->AceSize < sizeof(ACE_HEADER) || p + h->AceSize > end) {
                ok = 0;
                break;
            }
            int io = (h->AceFlags & INHERIT_ONLY_ACE) != 0;
            int oi = (h->AceFlags & OBJECT_INHERIT_ACE) != 0;  // files created inside get it
            if (h->AceType == ACCESS_ALLOWED_ACE_TYPE || h->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE) {
                const ACCESS_ALLOWED_ACE* a = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(p);
                size_t sid_room = h->AceSize - offsetof(ACCESS_ALLOWED_ACE, SidStart);
                if (*n == SYS_MAX_ACES) ok = 0;
                else aces[(*n)++] = sys_ace{sid_principal(reinterpret_cast<const unsigned char*>(&a->SidStart), sid_room), a->Mask, io, oi};
            } else if (h->AceType == ACCESS_ALLOWED_OBJECT_ACE_TYPE || h->AceType == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE) {
                // An allow entry of a kind we do not read: assume the worst.
                if (*n == SYS_MAX_ACES) ok = 0;
                else aces[(*n)++] = sys_ace{PRINCIPAL_OTHER, GENERIC_ALL, io, oi};
            }
            p += h->AceSize;
        }
    }
    LocalFree(sd);
    return ok;
}

struct sys_lock {
    HANDLE h;
};

namespace {
sys_lock g_locks[2] = {{INVALID_HANDLE_VALUE}, {INVALID_HANDLE_VALUE}};
}

sys_lock* sys_lock_take(const char16_t* path, uint32_t wait_ms) {
    sys_lock* l = g_locks[0].h == INVALID_HANDLE_VALUE ? &g_locks[0]
                  : g_locks[1].h == INVALID_HANDLE_VALUE ? &g_locks[1]
                                                          : nullptr;
    if (!l) return nullptr;
    static wchar_t lp[LONG_UNITS];
    // LockFileEx wants a handle with read or write access.
    HANDLE h = create_file(long_path(path, lp), GENERIC_READ | GENERIC_WRITE, SHARE_ALL, OPEN_ALWAYS);
    if (h == INVALID_HANDLE_VALUE) return nullptr;  // no lock file can be had: waiting will not help
    for (uint32_t waited = 0;; waited += 10) {
        OVERLAPPED ov;
        memset(&ov, 0, sizeof ov);
        if (LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov)) {
            l->h = h;
            return l;
        }
        DWORD e = GetLastError();
        if ((e != ERROR_LOCK_VIOLATION && e != ERROR_IO_PENDING) || waited >= wait_ms) break;
        Sleep(10);
    }
    CloseHandle(h);
    return nullptr;
}

struct sys_mutex {
    HANDLE h;
};

namespace {
sys_mutex g_mutex{nullptr};
}

// "CreateMutexW" and "WaitForSingleObject": a named mutex that processes in
// every session see under "Global\". Created with the files' permission
// list, so that nobody but the system and the administrators can hold it;
// an abandoned one (its holder died) is ours, as the documentation says.
sys_mutex* sys_mutex_take(const char16_t* name, uint32_t wait_ms) {
    if (g_mutex.h) return nullptr;
    HANDLE h = CreateMutexW(file_sa(1), FALSE, W(name));
    if (!h && GetLastError() == ERROR_INVALID_OWNER) h = CreateMutexW(file_sa(0), FALSE, W(name));
    if (!h) return nullptr;
    DWORD w = WaitForSingleObject(h, wait_ms);
    if (w != WAIT_OBJECT_0 && w != WAIT_ABANDONED) {
        CloseHandle(h);
        return nullptr;
    }
    g_mutex.h = h;
    return &g_mutex;
}

void sys_mutex_drop(sys_mutex* m) {
    if (!m || !m->h) return;
    ReleaseMutex(m->h);
    CloseHandle(m->h);
    m->h = nullptr;
}

void sys_lock_drop(sys_lock* l) {
    if (!l || l->h == INVALID_HANDLE_VALUE) return;
    OVERLAPPED ov;
    memset(&ov, 0, sizeof ov);
    UnlockFileEx(l->h, 0, 1, 0, &ov);
    CloseHandle(l->h);
    l->h = INVALID_HANDLE_VALUE;
}

struct sys_dir {
    HANDLE h;
    WIN32_FIND_DATAW fd;
    int pending;  // fd holds a name not yet handed out
};

namespace {
sys_dir g_dir{INVALID_HANDLE_VALUE, {}, 0};
}

sys_dir* sys_dir_open(const char16_t* dir) {
    if (g_dir.h != INVALID_HANDLE_VALUE) return nullptr;
    static char16_t pattern[LONG_UNITS];
    static wchar_t lp[LONG_UNITS];
    pattern[0] = 0;
    wcat(pattern, LONG_UNITS, dir);
    wcat8(pattern, LONG_UNITS, "*");
    g_dir.h = FindFirstFileW(long_path(pattern, lp), &g_dir.fd);
    if (g_dir.h == INVALID_HANDLE_VALUE) return nullptr;
    g_dir.pending = 1;
    return &g_dir;
}

int sys_dir_next(sys_dir* d, char16_t* buf, uint32_t units) {
    if (!d || d->h == INVALID_HANDLE_VALUE) return 0;
    for (;;) {
        if (!d->pending && !FindNextFileW(d->h, &d->fd)) return 0;
        d->pending = 0;
        size_t n = wlen(reinterpret_cast<const char16_t*>(d->fd.cFileName));
        if (n + 1 > units) continue;
        memcpy(buf, d->fd.cFileName, (n + 1) * sizeof(wchar_t));
        return 1;
    }
}

void sys_dir_close(sys_dir* d) {
    if (!d || d->h == INVALID_HANDLE_VALUE) return;
    FindClose(d->h);
    d->h = INVALID_HANDLE_VALUE;
}

// ---- registry ---------------------------------------------------------------------

namespace {

// The 64-bit view whatever the build, so that both see the same policy keys.
constexpr REGSAM VIEW = KEY_WOW64_64KEY;

sys_reg open_key(const char16_t* key, REGSAM access, HKEY* h) {
    const RegReadApi* api = reg_read_api();
    if (!api) return SYS_REG_FAILED;
    LSTATUS e = api->Open(HKEY_LOCAL_MACHINE, W(key), 0, access | VIEW, h);
    if (e == ERROR_SUCCESS) return SYS_REG_OK;
    return e == ERROR_FILE_NOT_FOUND ? SYS_REG_MISSING : SYS_REG_FAILED;
}

// A registry string need not end in a terminator, and may hold several.
int text_of(const wchar_t* raw, DWORD bytes, char16_t* buf, uint32_t units) {
    DWORD n = bytes / sizeof(wchar_t);
    DWORD len = 0;
    while (len < n && raw[len]) len++;
    if (len + 1 > units) return 0;
    for (DWORD i = 0; i < len; i++) buf[i] = (char16_t)raw[i];
    buf[len] = 0;
    return 1;
}

// Room for the longest value this program reads: an instance id and a path.
wchar_t g_regbuf[4096];

}  // namespace

sys_reg sys_reg_dword(const char16_t* key, const char16_t* name, uint32_t* v) {
    HKEY h;
    sys_reg r = open_key(key, KEY_QUERY_VALUE, &h);
    if (r != SYS_REG_OK) return r;
    DWORD type = 0, value = 0, size = sizeof value;
    LSTATUS e = reg_read_api()->Query(h, W(name), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    reg_read_api()->Close(h);
    if (e == ERROR_FILE_NOT_FOUND) return SYS_REG_MISSING;
    if (e != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return SYS_REG_FAILED;
    *v = value;
    return SYS_REG_OK;
}

sys_reg sys_reg_text(const char16_t* key, const char16_t* name, char16_t* buf, uint32_t units) {
    if (!buf || units == 0) return SYS_REG_FAILED;
    buf[0] = 0;
    HKEY h;
    sys_reg r = open_key(key, KEY_QUERY_VALUE, &h);
    if (r != SYS_REG_OK) return r;
    DWORD type = 0, size = sizeof g_regbuf - sizeof(wchar_t);
    LSTATUS e = reg_read_api()->Query(h, W(name), nullptr, &type, reinterpret_cast<BYTE*>(g_regbuf), &size);
    reg_read_api()->Close(h);
    if (e == ERROR_FILE_NOT_FOUND) return SYS_REG_MISSING;
    if (e != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return SYS_REG_FAILED;
    return text_of(g_regbuf, size, buf, units) ? SYS_REG_OK : SYS_REG_FAILED;
}

namespace {

// A walk over a key's values asks for index 0, 1, 2, ...: the key opened at
// index 0 stays open for the next index of the same key, so that a list of
// 128 values costs one open and not 128. Each walk opens afresh, and so
// sees the key as it is now.
struct Walked {
    HKEY h;
    int open;
    uint32_t next;
    char16_t key[512];
};
Walked g_walked;

void walked_close(void) {
    if (g_walked.open) reg_read_api()->Close(g_walked.h);
    g_walked.open = 0;
}

sys_reg walked_open(const char16_t* key, uint32_t index, HKEY* h) {
    if (g_walked.open && index > 0 && index == g_walked.next && wicmp(g_walked.key, key) == 0) {
        *h = g_walked.h;
        return SYS_REG_OK;
    }
    walked_close();
    sys_reg r = open_key(key, KEY_QUERY_VALUE, h);
    if (r != SYS_REG_OK || wlen(key) >= countof(g_walked.key)) return r;
    wcopy_zero(g_walked.key, key, countof(g_walked.key) - 1);
    g_walked.h = *h;
    g_walked.open = 1;
    return r;
}

}  // namespace

sys_reg sys_reg_value_at(const char16_t* key, uint32_t index, char16_t* name, uint32_t name_units, sys_reg_type* type,
                         char16_t* text, uint32_t text_units) {
    HKEY h;
    sys_reg r = walked_open(key, index, &h);
    if (r != SYS_REG_OK) return r;
    static wchar_t vname[16384];
    DWORD nlen = countof(vname), t = 0, size = sizeof g_regbuf - sizeof(wchar_t);
    LSTATUS e = reg_read_api()->EnumValue(h, index, vname, &nlen, nullptr, &t, reinterpret_cast<BYTE*>(g_regbuf), &size);
    if (e == ERROR_MORE_DATA) {
        // A value too long for us: its name still counts, its data does not.
        nlen = countof(vname);
        size = 0;
        e = reg_read_api()->EnumValue(h, index, vname, &nlen, nullptr, &t, nullptr, nullptr);
    }
    if (g_walked.open && g_walked.h == h && e == ERROR_SUCCESS) {
        g_walked.next = index + 1;
    } else if (g_walked.open && g_walked.h == h) {
        walked_close();  // the walk ends here
    } else {
        reg_read_api()->Close(h);
    }
    if (e == ERROR_NO_MORE_ITEMS) return SYS_REG_MISSING;
    if (e != ERROR_SUCCESS || nlen + 1 > name_units) return SYS_REG_FAILED;
    for (DWORD i = 0; i < nlen; i++) name[i] = (char16_t)vname[i];
    name[nlen] = 0;
    *type = t == REG_SZ ? SYS_REG_SZ : t == REG_EXPAND_SZ ? SYS_REG_EXPAND_SZ : t == REG_DWORD ? SYS_REG_DWORD : SYS_REG_OTHER;
    if (text_units) text[0] = 0;
    if ((t == REG_SZ || t == REG_EXPAND_SZ) && text_units && !text_of(g_regbuf, size, text, text_units)) text[0] = 0;
    return SYS_REG_OK;
}

namespace {

int set_value(const char16_t* key, const char16_t* name, DWORD type, const void* data, DWORD size) {
    const RegApi* api = reg_api();
    if (!api) return 0;
    HKEY h;
    if (api->Create(HKEY_LOCAL_MACHINE, W(key), 0, nullptr, 0, KEY_SET_VALUE | VIEW, nullptr, &h, nullptr) != ERROR_SUCCESS)
        return 0;
    LSTATUS e = api->Set(h, W(name), 0, type, static_cast<const BYTE*>(data), size);
    api->Close(h);
    return e == ERROR_SUCCESS;
}

}  // namespace

int sys_reg_set_dword(const char16_t* key, const char16_t* name, uint32_t v) {
    DWORD value = v;
    return set_value(key, name, REG_DWORD, &value, sizeof value);
}

int sys_reg_set_text(const char16_t* key, const char16_t* name, const char16_t* text, sys_reg_type type) {
    DWORD size = (DWORD)((wlen(text) + 1) * sizeof(char16_t));
    return set_value(key, name, type == SYS_REG_EXPAND_SZ ? REG_EXPAND_SZ : REG_SZ, text, size);
}

int sys_reg_delete_value(const char16_t* key, const char16_t* name) {
    const RegApi* api = reg_api();
    HKEY h;
    sys_reg r = open_key(key, KEY_SET_VALUE, &h);
    if (r == SYS_REG_MISSING) return 1;
    if (r != SYS_REG_OK) return 0;
    LSTATUS e = api ? api->DeleteValue(h, W(name)) : ERROR_PROC_NOT_FOUND;
    reg_read_api()->Close(h);
    return e == ERROR_SUCCESS || e == ERROR_FILE_NOT_FOUND;
}

sys_reg sys_reg_kind(const char16_t* key, const char16_t* name, sys_reg_type* type) {
    HKEY h;
    sys_reg r = open_key(key, KEY_QUERY_VALUE, &h);
    if (r != SYS_REG_OK) return r;
    DWORD t = 0;
    LSTATUS e = reg_read_api()->Query(h, W(name), nullptr, &t, nullptr, nullptr);
    reg_read_api()->Close(h);
    if (e == ERROR_FILE_NOT_FOUND) return SYS_REG_MISSING;
    if (e != ERROR_SUCCESS) return SYS_REG_FAILED;
    *type = t == REG_SZ ? SYS_REG_SZ : t == REG_EXPAND_SZ ? SYS_REG_EXPAND_SZ : t == REG_DWORD ? SYS_REG_DWORD : SYS_REG_OTHER;
    return SYS_REG_OK;
}

// "RegQueryInfoKeyW": lpftLastWriteTime is when the key or any of its
// values last changed.
// Read, like the key's values, through kernel32 where it has the call.
sys_reg sys_reg_key_time(const char16_t* key, uint64_t* t) {
    HKEY h;
    sys_reg r = open_key(key, KEY_QUERY_VALUE, &h);
    if (r != SYS_REG_OK) return r;
    const RegReadApi* api = reg_read_api();  // there, as the key opened
    FILETIME ft;
    LSTATUS e = api->QueryInfo(h, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, &ft);
    api->Close(h);
    if (e != ERROR_SUCCESS) return SYS_REG_FAILED;
    *t = ((uint64_t)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
    return SYS_REG_OK;
}

int sys_reg_delete_key(const char16_t* key) {
    walked_close();  // a walk's handle would outlive the key
    const RegApi* api = reg_api();
    if (!api) return 0;
    LSTATUS e = api->DeleteKey(HKEY_LOCAL_MACHINE, W(key), VIEW, 0);
    return e == ERROR_SUCCESS || e == ERROR_FILE_NOT_FOUND;
}

// "RegEnumKeyExW", with the key opened for this one call.
sys_reg sys_reg_subkey_at(const char16_t* key, uint32_t index, char16_t* name, uint32_t units) {
    if (!name || units == 0) return SYS_REG_FAILED;
    name[0] = 0;
    const RegApi* api = reg_api();
    HKEY h;
    sys_reg r = api ? open_key(key, KEY_ENUMERATE_SUB_KEYS, &h) : SYS_REG_FAILED;
    if (r != SYS_REG_OK) return r;
    DWORD n = units;  // ERROR_MORE_DATA where the name does not fit
    LSTATUS e = api->EnumKey(h, index, W(name), &n, nullptr, nullptr, nullptr, nullptr);
    reg_read_api()->Close(h);
    if (e == ERROR_NO_MORE_ITEMS) return SYS_REG_MISSING;
    if (e != ERROR_SUCCESS) {
        name[0] = 0;
        return SYS_REG_FAILED;
    }
    return SYS_REG_OK;
}

// ---- event log ----------------------------------------------------------------------

// "RegisterEventSourceW" and "ReportEventW" (Event Logging). A source whose
// key is missing still writes to the Application log: the event keeps its
// strings, only Event Viewer finds no text for its id.
void sys_event(const char16_t* source_name, uint16_t id, sys_event_type type, const char16_t* const* strings, int n) {
    // One attempt per process: with the event log service stopped, every
    // further line would wait for the same failure.
    static int state = -1;
    static HANDLE source;
    if (state < 0) {
        const RegApi* api = reg_api();
        source = api ? api->RegisterSource(nullptr, W(source_name)) : nullptr;
        state = source != nullptr;
    }
    if (!state) return;
    WORD t = type == SYS_EVENT_ERROR ? EVENTLOG_ERROR_TYPE : type == SYS_EVENT_WARNING ? EVENTLOG_WARNING_TYPE
                                                                                       : EVENTLOG_INFORMATION_TYPE;
    const wchar_t* w[8];
    if (n > 8) n = 8;
    for (int i = 0; i < n; i++) w[i] = W(strings[i]);
    // The id is the message's whole number: the message table sets no
    // severity, customer or facility bits above it.
    (void)reg_api()->Report(source, t, 0, id, nullptr, (WORD)n, 0, n ? w : nullptr, nullptr);
}

namespace {

// The event log's query calls (learn.microsoft.com: "EvtQuery function",
// "EvtNext function", "EvtRender function"), from wevtapi.dll on first use.
struct EvtApi {
    HANDLE(WINAPI* Query)(HANDLE, LPCWSTR, LPCWSTR, DWORD);
    BOOL(WINAPI* Next)(HANDLE, DWORD, HANDLE*, DWORD, DWORD, PDWORD);
    BOOL(WINAPI* Render)(HANDLE, HANDLE, DWORD, DWORD, PVOID, PDWORD, PDWORD);
    BOOL(WINAPI* Close)(HANDLE);
};

const EvtApi* evt_api(void) {
    static EvtApi api;
    static int state = -1;
    if (state < 0) {
        HMODULE m = load_system_dll(L"wevtapi.dll");
        int ok = 1;
        bind(m, "EvtQuery", &api.Query, &ok);
        bind(m, "EvtNext", &api.Next, &ok);
        bind(m, "EvtRender", &api.Render, &ok);
        bind(m, "EvtClose", &api.Close, &ok);
        state = ok;
    }
    return state ? &api : nullptr;
}

constexpr DWORD EVT_QUERY_CHANNEL_REVERSE = 0x1 | 0x200;  // EvtQueryChannelPath | EvtQueryReverseDirection
constexpr DWORD EVT_RENDER_XML = 1;                         // EvtRenderEventXml

}  // namespace

// The newest events first, each rendered as XML and searched whole: the
// text may stand in any of the event's data fields.
int sys_event_seen(const char16_t* channel, const char16_t* provider, uint16_t id, const char16_t* text,
                   uint32_t within_s) {
    const EvtApi* api = evt_api();
    if (!api) return -1;
    char p8[128], q8[512];
    utf8(provider, p8, sizeof p8);
    fmt(q8, sizeof q8, "*[System[Provider[@Name='%s'] and EventID=%u and TimeCreated[timediff(@SystemTime) <= %llu]]]",
        p8, (unsigned)id, (unsigned long long)within_s * 1000);
    static char16_t query[512], want[1024];
    utf16(q8, query, countof(query));
    wcopy(want, countof(want), text);
    lowerw(want);
    HANDLE results = api->Query(nullptr, W(channel), W(query), EVT_QUERY_CHANNEL_REVERSE);
    if (!results) return -1;
    static char16_t xml[32768];
    int found = 0;
    for (int seen = 0; !found && seen < 500; seen++) {
        HANDLE ev = nullptr;
        DWORD got = 0;
        if (!api->Next(results, 1, &ev, 1000, 0, &got) || got == 0) break;
        DWORD used = 0, props = 0;
        if (api->Render(nullptr, ev, EVT_RENDER_XML, sizeof xml - sizeof(char16_t), xml, &used, &props)) {
            xml[used / sizeof(char16_t) < countof(xml) ? used / sizeof(char16_t) : countof(xml) - 1] = 0;
            lowerw(xml);
            found = wcontains(xml, want);
        }
        api->Close(ev);
    }
    api->Close(results);
    return found;
}

// ---- time --------------------------------------------------------------------

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
