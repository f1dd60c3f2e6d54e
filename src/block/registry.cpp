// The install block as the registry holds it: reading Windows' two lists,
// their switches, our records and the values we left standing, under the
// machine-wide lock.
#include "block/registry.h"

#include <cstring>

#include "base/text.h"
#include "files/datafile.h"
#include "log/log.h"

const char16_t RESTRICTIONS_KEY[] = u"SOFTWARE\\Policies\\Microsoft\\Windows\\DeviceInstall\\Restrictions";

// Each switch has a mark of its own, so that neither list's step can take
// the other's switch for its own.
const RestrictList LISTS[BLOCK_LISTS] = {
    {
        u"DenyInstanceIDs",
        u"SOFTWARE\\Policies\\Microsoft\\Windows\\DeviceInstall\\Restrictions\\DenyInstanceIDs",
        u"SOFTWARE\\Quillfen\\DenyInstanceIDs",
        u"EnabledByQuillfen",
        u"DenyInstanceIDsWritten",
        u"SOFTWARE\\Quillfen\\DenyInstanceIDsKept",
        // Windows 10 2004 is the first (Policy CSP - DeviceInstallation;
        // DeviceInstallation.admx gives SUPPORTED_Windows_10_0_RS7).
        19041,
        0,
    },
    {
        u"DenyDeviceIDs",
        u"SOFTWARE\\Policies\\Microsoft\\Windows\\DeviceInstall\\Restrictions\\DenyDeviceIDs",
        u"SOFTWARE\\Quillfen\\DenyDeviceIDs",
        u"DeviceIDsEnabledByQuillfen",
        u"DenyDeviceIDsWritten",
        u"SOFTWARE\\Quillfen\\DenyDeviceIDsKept",
        // Since Windows Vista (DeviceInstallation.admx: SUPPORTED_WindowsVista;
        // the Policy CSP form, for MDM, came with 1703): every build we run on.
        6000,
        0,
    },
    {
        u"AllowInstanceIDs",
        u"SOFTWARE\\Policies\\Microsoft\\Windows\\DeviceInstall\\Restrictions\\AllowInstanceIDs",
        u"SOFTWARE\\Quillfen\\AllowInstanceIDs",
        u"AllowIDsEnabledByQuillfen",
        u"AllowInstanceIDsWritten",
        u"SOFTWARE\\Quillfen\\AllowInstanceIDsKept",
        // Honoured over a prevention only under layered evaluation (layering.h).
        17763,
        1,
    },
};


namespace {

const char16_t MUTEX[] = u"Global\\Quillfen-Block";
// As long as the blacklist's lock waits: a user at the menu can wait this long.
constexpr uint32_t LOCK_WAIT_MS = 10000;
constexpr int MAX_FAILURES = 16;

// The console says once per process that the lock was busy.
int g_said_no_lock;

}  // namespace

MachineLock::MachineLock(block_caller who) : m(sys_mutex_take(MUTEX, LOCK_WAIT_MS)) {
    if (m || g_said_no_lock) return;
    logline(EV_BLOCK_LOCK_BUSY, "系统安装禁止的锁被占用，未修改");
    g_said_no_lock = who == BLOCK_UNATTENDED ? 0 : 1;
}

MachineLock::~MachineLock() {
    if (m) sys_mutex_drop(m);
}

void reg_walk_open(RegWalk* w, const char16_t* key, char16_t* name, size_t name_units, char16_t* text,
                   size_t text_units) {
    *w = RegWalk{key, name, (uint32_t)name_units, text, (uint32_t)text_units, SYS_REG_OTHER, 0, 0, 0};
}

int reg_walk_next(RegWalk* w) {
    while (w->failures < MAX_FAILURES) {
        sys_reg r = sys_reg_value_at(w->key, w->index++, w->name, w->name_units, &w->type, w->text, w->text_units);
        if (r == SYS_REG_MISSING) return 0;
        if (r == SYS_REG_OK) {
            w->failures = 0;
            return 1;
        }
        w->failures++;
        w->failed = 1;
    }
    return 0;
}

void reg_walk_deleted(RegWalk* w) { w->index--; }

uint64_t hash_of(const char16_t* s) {
    uint64_t h = fnv_folded16(FNV_START, s);
    return h ? h : 1;
}

void read_list(BlockRead& br, const RestrictList& L) {
    br.nvalues = 0;
    br.highest = 0;
    RegWalk w;
    reg_walk_open(&w, L.key, br.name, countof(br.name), br.text, countof(br.text));
    int full = 0;
    while (reg_walk_next(&w)) {
        if (br.nvalues == MAX_VALUES) {
            full = 1;
            continue;
        }
        ListValue& v = br.values[br.nvalues++];
        v.longname = wlen(br.name) >= NAME_UNITS_REG;
        wcopy_zero(v.name, br.name, NAME_UNITS_REG - 1);
        v.name[NAME_UNITS_REG - 1] = 0;
        uint32_t n = block_value_number(br.name);
        if (n > br.highest) br.highest = n;
        // A text of another type, or longer than an id, holds no id.
        int id = (w.type == SYS_REG_SZ || w.type == SYS_REG_EXPAND_SZ) && br.text[0] &&
                 wlen(br.text) < INST_UNITS;
        v.hash = id ? hash_of(br.text) : 0;
    }
    br.list_failed = w.failed || full;
}

const ListValue* value_named(BlockRead& br, const char16_t* name) {
    for (int i = 0; i < br.nvalues; i++)
        if (!br.values[i].longname && wicmp(br.values[i].name, name) == 0) return &br.values[i];
    return nullptr;
}

void value_added(BlockRead& br, const char16_t* name, const char16_t* id) {
    uint32_t n = block_value_number(name);
    if (n > br.highest) br.highest = n;
    if (br.nvalues == MAX_VALUES) return;
    ListValue& v = br.values[br.nvalues++];
    wcopy_zero(v.name, name, NAME_UNITS_REG);
    v.hash = hash_of(id);
    v.longname = 0;
}

void value_forgotten(BlockRead& br, const char16_t* name) {
    for (int i = 0; i < br.nvalues; i++)
        if (!br.values[i].longname && wicmp(br.values[i].name, name) == 0) {
            br.values[i] = br.values[--br.nvalues];
            return;
        }
}

held_state held_by(BlockRead& br, const RestrictList& L, const char16_t* name, const char16_t* id) {
    const ListValue* v = value_named(br, name);
    if (!v) return br.list_failed ? UNKNOWN : GONE;
    if (v->hash != hash_of(id)) return HOLDS_OTHER;
    sys_reg r = sys_reg_text(L.key, v->name, br.text, countof(br.text));
    if (r == SYS_REG_MISSING) return GONE;
    if (r != SYS_REG_OK) return UNKNOWN;
    return wicmp(br.text, id) == 0 ? HOLDS : HOLDS_OTHER;
}

int list_has_id(BlockRead& br, const RestrictList& L, const char16_t* id) {
    uint64_t h = hash_of(id);
    for (int i = 0; i < br.nvalues; i++) {
        const ListValue& v = br.values[i];
        // The hash finds it, the registry confirms it; a value with a cut
        // name is not to be read again by it: the hash must do.
        if (v.hash != h) continue;
        if (v.longname) return 1;
        if (sys_reg_text(L.key, v.name, br.text, countof(br.text)) == SYS_REG_OK &&
            wicmp(br.text, id) == 0)
            return 1;
    }
    return 0;
}

void read_records(BlockRead& br, const RestrictList& L) {
    br.nrec = 0;
    if (!br.blacklist_path[0] && !data_path(br.blacklist_path, countof(br.blacklist_path), DATA_BLACKLIST))
        br.blacklist_path[0] = 0;
    RegWalk w;
    reg_walk_open(&w, L.records, br.name, countof(br.name), br.text, countof(br.text));
    int full = 0;
    while (reg_walk_next(&w)) {
        if (br.nrec == MAX_RECORDS) {
            full = 1;
            continue;
        }
        ListRecord& rec = br.rec[br.nrec];
        int unsure;
        if (wlen(br.name) >= NAME_UNITS_REG ||
            !block_record_parse(br.text, rec.id, br.path, countof(br.path), &unsure))
            continue;
        br.nrec++;
        wcopy_zero(rec.name, br.name, NAME_UNITS_REG);
        rec.ours = br.blacklist_path[0] && wicmp(br.path, br.blacklist_path) == 0;
        rec.unsure = (uint8_t)unsure;
        rec.gone = 0;
    }
    br.rec_failed = w.failed || full;
}

const ListRecord* our_record_of(BlockRead& br, const char16_t* id) {
    for (int i = 0; i < br.nrec; i++)
        if (br.rec[i].ours && !br.rec[i].gone && wicmp(br.rec[i].id, id) == 0) return &br.rec[i];
    return nullptr;
}

int records_left(BlockRead& br) {
    int n = 0;
    for (int i = 0; i < br.nrec; i++) n += !br.rec[i].gone;
    return n;
}

// A list of ours alone may be switched on again where the switch went.
int list_is_ours(BlockRead& br) {
    if (br.list_failed || br.rec_failed) return 0;
    for (int i = 0; i < br.nvalues; i++) {
        int recorded = 0;
        for (int k = 0; k < br.nrec && !recorded && !br.values[i].longname; k++)
            recorded = !br.rec[k].gone && wicmp(br.rec[k].name, br.values[i].name) == 0 &&
                       br.values[i].hash == hash_of(br.rec[k].id);
        if (!recorded) return 0;
    }
    return 1;
}

void read_kept(BlockRead& br, const RestrictList& L, int may_write) {
    br.kept = 0;
    RegWalk w;
    reg_walk_open(&w, L.kept, br.name, countof(br.name), br.path, countof(br.path));
    while (reg_walk_next(&w)) {
        const ListValue* v = value_named(br, br.name);
        if (v && v->hash == hash_of(br.path)) br.kept++;
        else if (may_write && !br.list_failed && sys_reg_delete_value(L.kept, br.name)) reg_walk_deleted(&w);
    }
}

switch_state read_switch(const RestrictList& L) { return read_switch_named(L.switch_name); }

switch_state read_switch_named(const char16_t* name) {
    sys_reg_type type;
    sys_reg r = sys_reg_kind(RESTRICTIONS_KEY, name, &type);
    if (r == SYS_REG_MISSING) return SW_ABSENT;
    if (r != SYS_REG_OK) return SW_UNTOLD;
    if (type != SYS_REG_DWORD) return SW_OTHER;
    uint32_t v = 0;
    if (sys_reg_dword(RESTRICTIONS_KEY, name, &v) != SYS_REG_OK) return SW_UNTOLD;
    return v == 1 ? SW_ON : v == 0 ? SW_OFF : SW_OTHER;
}

int key_has_values(const char16_t* key) {
    // Room for any value's name: one too long for the buffer would read as
    // a failure. The text is not wanted.
    static char16_t name[16384];
    char16_t text[2];
    sys_reg_type type;
    sys_reg r = sys_reg_value_at(key, 0, name, countof(name), &type, text, countof(text));
    return r == SYS_REG_MISSING ? 0 : r == SYS_REG_OK ? 1 : -1;
}

uint32_t block_value_number(const char16_t* name) {
    if (!name[0]) return 0;
    uint64_t v = 0;
    for (const char16_t* p = name; *p; p++) {
        if (*p < u'0' || *p > u'9' || v > 0xFFFFFFFFull / 10) return 0;
        v = v * 10 + (uint64_t)(*p - u'0');
    }
    return v <= 0xFFFFFFFFull ? (uint32_t)v : 0;
}

int block_record_parse(const char16_t* data, char16_t* id, char16_t* path, size_t units, int* unsure) {
    size_t tab = 0;
    while (data[tab] && data[tab] != u'\t') tab++;
    if (!data[tab] || tab >= INST_UNITS) return 0;  // an id longer than an id
    const char16_t* p = data + tab + 1;
    size_t n = 0;
    while (p[n] && p[n] != u'\t') n++;
    // After the path only the unsure mark may stand.
    *unsure = p[n] == u'\t';
    if (*unsure && (p[n + 1] != u'?' || p[n + 2])) return 0;
    if (n + 1 > units) return 0;
    for (size_t i = 0; i < tab; i++) id[i] = data[i];
    id[tab] = 0;
    for (size_t i = 0; i < n; i++) path[i] = p[i];
    path[n] = 0;
    return 1;
}

// The list's values as a set, each one's name and id: a change within the
// clock tick of ours leaves the key's time as it was, never this. 0 while
// the list is not read whole.
uint64_t list_print(const BlockRead& br) {
    if (br.list_failed) return 0;
    uint64_t sum = 0;
    for (int i = 0; i < br.nvalues; i++) {
        const ListValue& v = br.values[i];
        sum += fnv_step(fnv_step(fnv_folded16(FNV_START, v.name), (uint32_t)v.hash), (uint32_t)(v.hash >> 32));
    }
    return sum | 1;
}

// Whether the list is as our last change left it: the key's time, and the
// values where they were noted (versions before 2.2 noted the time alone).
int list_as_noted(const BlockRead& br, const char* noted, uint64_t now) {
    const char* tab = strchr(noted, '\t');
    char time[24];
    scopy(time, sizeof time, noted);
    if (tab && (size_t)(tab - noted) < sizeof time) time[tab - noted] = 0;
    if ((uint64_t)parse_int(time, 0, INT64_MAX) != now) return 0;
    if (!tab) return 1;
    uint64_t print = list_print(br);
    char a[24];
    fmt(a, sizeof a, "%llu", (unsigned long long)print);
    return print && strcmp(tab + 1, a) == 0;
}
