// Reading the policy key's values into rules, saying its errors once, and
// holding rules that a refresh hides for a moment.
#include "policy/policyread.h"

#include <climits>
#include <cstring>

#include "base/calendar.h"
#include "base/text.h"
#include "files/datafile.h"
#include "files/wholefile.h"
#include "local/tsv.h"
#include "policy/seen.h"
#include "rules/entry.h"
#include "rules/rules.h"
#include "sys/sys.h"
#include "task/trust.h"

namespace {

// The rules and errors of the last read: the tables this reader owns.
PolicyRule g_policy[POLICY_RULES_MAX];
int g_npolicy;
PolicyError g_errors[POLICY_ERRORS_KEPT];
int g_nerrors;

const char* const REASON_TEXT[POLICY_REASONS] = {
    "类型不是 REG_SZ",
    "数据不是 YYYY-MM-DD 日期，也不是 none",
    "不是可用的实例 ID 或硬件 ID",
    "名称不足 3 个字符",
    "名称含控制字符",
    "超过可保存的长度",
    "超过每个列表 128 条的上限",
    "不是 Enforce 或 Audit",
    "不是 Auto 或 Never",
    "名称只有空白",
};
static_assert(POLICY_LIST_MAX == 128, "REASON_TEXT states the limit");

constexpr size_t ID_CHARS = sizeof(Rule::id) - 1;
constexpr size_t NAME_BYTES = sizeof(BlacklistEntry::name);

// What the read being made found.
policy_outcome g_outcome;
policy_mode g_mode;
policy_layering g_layering;
uint64_t g_error_sum;
uint64_t g_expired[POLICY_RULES_MAX];
int g_nexpired;
PolicyRule g_ended[POLICY_ENDED_KEPT];
// A value's name may have 16,383 characters: too large for the stack.
char16_t g_name[16384];

void list_key(int list, char16_t* key, size_t units) {
    key[0] = 0;
    wcat(key, units, POLICY_KEY);
    wcat(key, units, u"\\");
    wcat(key, units, POLICY_LIST[list].key);
}

void add_error(int list, policy_reason why, const char16_t* name, int detail = 0) {
    uint64_t h = fnv_bytes(FNV_START, &list, sizeof list);
    h = fnv_bytes(h, &why, sizeof why);
    g_error_sum += fnv_bytes(h, name, wlen(name) * sizeof *name);
    if (g_nerrors < POLICY_ERRORS_KEPT) {
        PolicyError& e = g_errors[g_nerrors];
        e.list = list;
        e.reason = why;
        e.detail = detail;
        utf8(name, e.name, sizeof e.name);
    }
    g_nerrors++;
}

// A real day written YYYY-MM-DD: *until gets the second its next day begins.
int day_end(const char16_t* t, int64_t* until) {
    if (wlen(t) != 10 || t[4] != u'-' || t[7] != u'-') return 0;
    int v[3] = {0, 0, 0};
    const int at[3] = {0, 5, 8}, len[3] = {4, 2, 2};
    for (int k = 0; k < 3; k++)
        for (int i = 0; i < len[k]; i++) {
            char16_t c = t[at[k] + i];
            if (c < u'0' || c > u'9') return 0;
            v[k] = v[k] * 10 + (c - u'0');
        }
    int64_t days = utc_days(v[0], v[1], v[2]);
    int back[6];
    utc_calendar(days * 86400, back);
    if (back[0] != v[0] || back[1] != v[1] || back[2] != v[2]) return 0;
    *until = (days + 1) * 86400;
    return 1;
}

// The value g_name of list `list` as a rule in *r; -1, or why it is none
// (and for a model, *detail the model_refusal).
int check(int list, sys_reg_type type, const char16_t* data, PolicyRule* r, int* detail) {
    if (type != SYS_REG_SZ) return POLICY_BAD_TYPE;
    const PolicyList& L = POLICY_LIST[list];
    // Room to tell a name one byte too long from one that fits.
    char text[NAME_BYTES + 4];
    size_t n = utf8(g_name, text, sizeof text);
    if (L.kind == POLICY_NAME ? n >= NAME_BYTES : wlen(g_name) > ID_CHARS) return POLICY_TOO_LONG;
    if (L.kind == POLICY_NAME) {
        if (!bl_storable(text, NAME_BYTES)) return POLICY_CONTROL;
        if (rule_name_blank(text)) return POLICY_BLANK;
        if (!rule_long_enough(text, 0)) return POLICY_SHORT;
        lower_ascii(text);
    } else if (L.kind == POLICY_MODEL ? (*detail = rule_model_refusal(text)) != REFUSED_NONE : !rule_instance_ok(text)) {
        return POLICY_BAD_ID;
    }
    if (wicmp(data, POLICY_WHILE_STANDS) == 0) r->until = INT64_MAX;
    else if (!day_end(data, &r->until)) return POLICY_BAD_DATE;
    r->kind = L.kind;
    r->approves = L.approves;
    scopy(r->id, sizeof r->id, text);
    return -1;
}

// The value g_name of list `list`: a rule, an expired one, or an error.
// *good counts the list's rules so far.
void take_value(int list, sys_reg_type type, const char16_t* data, int64_t now, int* good) {
    PolicyRule rule;
    int detail = 0;
    int why = check(list, type, data, &rule, &detail);
    if (why < 0 && *good == POLICY_LIST_MAX) why = POLICY_TOO_MANY;
    if (why >= 0) {
        add_error(list, (policy_reason)why, g_name, detail);
        return;
    }
    (*good)++;  // room below: each list adds at most POLICY_LIST_MAX to either table
    if (rule_in_force(rule.until, now)) g_policy[g_npolicy++] = rule;
    else {
        if (g_nexpired < POLICY_ENDED_KEPT) g_ended[g_nexpired] = rule;
        g_expired[g_nexpired++] = policy_rule_hash(list, rule.id);
    }
}

// The key's own values, each one of a few texts: Mode and Layering, as
// the snapshot tags them.
struct Choice {
    const char* tag;
    const char16_t* name;
    const char16_t* const* texts;
    int count;
    policy_reason bad;
};
const Choice CHOICES[] = {
    {"mode", POLICY_MODE, POLICY_MODES, POLICY_MODE_COUNT, POLICY_BAD_MODE},
    {"layering", POLICY_LAYERING, POLICY_LAYERINGS, POLICY_LAYERING_COUNT, POLICY_BAD_LAYERING},
};
constexpr int CHOICE_COUNT = (int)countof(CHOICES);

// A choice as read: a text's index, or CHOICE_ABSENT or CHOICE_BAD.
constexpr int CHOICE_ABSENT = -1, CHOICE_BAD = -2;

void take_choice(int c, int v) {
    if (v == CHOICE_BAD) add_error(-1, CHOICES[c].bad, CHOICES[c].name);
    if (v < 0) return;
    if (c == 0) g_mode = (policy_mode)v;
    else g_layering = (policy_layering)v;
}

// ---- the snapshot ---------------------------------------------------------------------
// What a whole read of the key found, kept in a file beside the blacklist:
// the last-write time of the key and of each list's key, then the mode and
// every value as read. While no key's time has changed a read takes the
// values from there: one file instead of a registry round trip per value,
// which for full lists is most of what policy costs a pass. The values go
// through the same checks either way. A read is kept only when every key
// had been still for SETTLE seconds: a change in the clock tick of the one
// before it leaves the key's time as it was.
constexpr int SNAP_KEYS = 1 + POLICY_LISTS;
constexpr int64_t SETTLE = 2;
constexpr int64_t FILETIME_1970 = 11644473600;  // seconds from 1601 to 1970
// A longer value name is not kept: the key is read afresh each time.
constexpr size_t SNAP_NAME_BYTES = 2048;
const char SNAP_HEAD[] = "# Quillfen 策略快照  (times, mode, list\\ttype\\tname\\tdata, end)\n";

struct KeyTimes {
    uint64_t t[SNAP_KEYS];
    int there[SNAP_KEYS];
};

char g_snap[256 * 1024];
size_t g_nsnap;
int g_snap_ok;  // everything read so far is in g_snap
char g_line[SNAP_NAME_BYTES + 128];

void snap_put(const char* text) {
    size_t n = strlen(text);
    if (!g_snap_ok || g_nsnap + n >= sizeof g_snap) {
        g_snap_ok = 0;
        return;
    }
    memcpy(g_snap + g_nsnap, text, n);
    g_nsnap += n;
}

// The times as their line holds them.
void times_line(const KeyTimes& kt, char* out, size_t size) {
    scopy(out, size, "times");
    for (int k = 0; k < SNAP_KEYS; k++) {
        size_t at = strlen(out);
        if (kt.there[k]) fmt(out + at, size - at, "\t%llu", (unsigned long long)kt.t[k]);
        else scopy(out + at, size - at, "\t-");
    }
}

// The list keys' times beside the key's own; 0 when one cannot be read.
int read_times(uint64_t key_time, KeyTimes* kt) {
    kt->t[0] = key_time;
    kt->there[0] = 1;
    for (int l = 0; l < POLICY_LISTS; l++) {
        char16_t key[64];
        list_key(l, key, countof(key));
        kt->t[l + 1] = 0;
        sys_reg r = sys_reg_key_time(key, &kt->t[l + 1]);
        if (r == SYS_REG_FAILED) return 0;
        kt->there[l + 1] = r == SYS_REG_OK;
    }
    return 1;
}

int settled(const KeyTimes& kt, int64_t now) {
    for (int k = 0; k < SNAP_KEYS; k++)
        if (kt.there[k] && (int64_t)(kt.t[k] / 10000000) - FILETIME_1970 > now - SETTLE) return 0;
    return 1;
}

// A text of the snapshot's: whole, and without a tab or a line end.
int snap_text(const char16_t* w, char* out, size_t size) {
    size_t n = utf8(w, out, size);
    if (n + 1 >= size) return 0;
    for (size_t i = 0; i < n; i++)
        if ((unsigned char)out[i] < 0x20) return 0;
    // An unpaired surrogate would come back as another character.
    static char16_t back[SNAP_NAME_BYTES];
    utf16(out, back, countof(back));
    for (size_t i = 0;; i++) {
        if (back[i] != w[i]) return 0;
        if (!w[i]) return 1;
    }
}

void snap_value(int list, sys_reg_type type, const char16_t* data) {
    static char name[SNAP_NAME_BYTES];
    char text[64];
    if (!g_snap_ok) return;
    if (!snap_text(g_name, name, sizeof name) || !snap_text(data, text, sizeof text)) {
        g_snap_ok = 0;
        return;
    }
    fmt(g_line, sizeof g_line, "%d\t%d\t", list, (int)type);
    snap_put(g_line);
    snap_put(name);
    snap_put("\t");
    snap_put(text);
    snap_put("\n");
}

uint64_t snap_sum(const char* p, size_t n) { return fnv_bytes(FNV_START, p, n); }

void snap_write(const PolicyKeep& keep) {
    fmt(g_line, sizeof g_line, "end\t%llu\n", (unsigned long long)snap_sum(g_snap, g_nsnap));
    snap_put(g_line);
    if (g_snap_ok) (void)whole_file_write(keep.path, keep.tmp, g_snap, g_nsnap);
}

void forget_read(void) {
    g_npolicy = g_nerrors = g_nexpired = 0;
    g_error_sum = 0;
    g_mode = POLICY_ENFORCE;
    g_layering = LAYERING_AUTO;
}

// The mode and values of the snapshot taken at times kt; 0, with nothing
// taken, when there is none, it is not whole, or a key changed since.
int replay(const PolicyKeep& keep, const KeyTimes& kt, int64_t now) {
    size_t n;
    if (whole_file_read(keep.path, g_snap, sizeof g_snap, &n) != SYS_READ_OK) return 0;
    // Whole: its last line holds the sum of the lines before it.
    size_t end = n > 0 && g_snap[n - 1] == '\n' ? n - 1 : n;
    size_t at = end;
    while (at > 0 && g_snap[at - 1] != '\n') at--;
    char want[48];
    fmt(want, sizeof want, "end\t%llu", (unsigned long long)snap_sum(g_snap, at));
    if (strlen(want) != end - at || strncmp(g_snap + at, want, end - at) != 0) return 0;
    static char times[16 + SNAP_KEYS * 24];
    times_line(kt, times, sizeof times);
    tsv_lines lines;
    tsv_lines_start(&lines, g_snap, at);
    int good[POLICY_LISTS] = {0}, timed = 0, whole = 1, chosen = 0;
    while (whole && tsv_line(&lines, g_line, sizeof g_line)) {
        if (tsv_skipped(g_line)) continue;
        if (!timed) {
            whole = timed = !lines.overlong && strcmp(g_line, times) == 0;
            continue;
        }
        char* f[4];
        int nf = lines.overlong ? 0 : tsv_split(g_line, f, 4);
        int c = 0;
        while (nf == 2 && c < CHOICE_COUNT && strcmp(f[0], CHOICES[c].tag) != 0) c++;
        if (nf == 2 && c < CHOICE_COUNT) {
            int count = CHOICES[c].count;
            int v = tsv_number(f[1]) ? (int)parse_int(f[1], CHOICE_BAD - 1, count) : count;
            whole = v >= CHOICE_BAD && v < count && !(chosen & (1 << c));
            chosen |= 1 << c;
            if (whole) take_choice(c, v);
            continue;
        }
        int list = nf == 4 && tsv_number(f[0]) ? (int)parse_int(f[0], -1, POLICY_LISTS) : -1;
        int type = nf == 4 && tsv_number(f[1]) ? (int)parse_int(f[1], -1, SYS_REG_OTHER + 1) : -1;
        whole = list >= 0 && list < POLICY_LISTS && type >= SYS_REG_SZ && type <= SYS_REG_OTHER;
        if (!whole) continue;
        char16_t data[16];
        utf16(f[2], g_name, countof(g_name));
        utf16(f[3], data, countof(data));
        take_value(list, (sys_reg_type)type, data, now, &good[list]);
    }
    // A snapshot of a version that read fewer of the key's own values is
    // not this one's.
    if (whole && timed && chosen == (1 << CHOICE_COUNT) - 1) return 1;
    forget_read();
    return 0;
}

void read_list(int list, int64_t now) {
    char16_t key[64];
    list_key(list, key, countof(key));
    int good = 0;
    for (uint32_t i = 0;; i++) {
        sys_reg_type type;
        char16_t data[16];  // a date or "none"; longer data reads as empty: no date
        sys_reg r = sys_reg_value_at(key, i, g_name, countof(g_name), &type, data, countof(data));
        if (r == SYS_REG_MISSING) return;
        if (r == SYS_REG_FAILED) {
            g_outcome = POLICY_UNREADABLE;
            return;
        }
        snap_value(list, type, data);
        take_value(list, type, data, now, &good);
    }
}

int read_choice(const Choice& c) {
    sys_reg_type type;
    sys_reg r = sys_reg_kind(POLICY_KEY, c.name, &type);
    if (r == SYS_REG_MISSING) return CHOICE_ABSENT;
    if (r == SYS_REG_FAILED) {
        g_outcome = POLICY_UNREADABLE;
        return CHOICE_ABSENT;
    }
    char16_t text[16];
    if (type == SYS_REG_SZ && sys_reg_text(POLICY_KEY, c.name, text, countof(text)) == SYS_REG_OK)
        for (int v = 0; v < c.count; v++)
            if (wicmp(text, c.texts[v]) == 0) return v;
    return CHOICE_BAD;
}

PolicyRead result(void) {
    return PolicyRead{g_outcome, g_mode,    g_layering,  g_policy,    g_npolicy,
                      g_errors,  g_nerrors, g_error_sum, g_expired, g_nexpired, g_ended};
}

}  // namespace

uint64_t policy_rule_hash(int list, const char* id) { return fnv_folded(fnv_bytes(FNV_START, &list, sizeof list), id); }

int policy_list_of(const PolicyRule& r) {
    for (int l = 0; l < POLICY_LISTS; l++)
        if (POLICY_LIST[l].kind == r.kind && POLICY_LIST[l].approves == r.approves) return l;
    return 0;
}

PolicyRead policy_load(int64_t now, const PolicyKeep* keep) {
    forget_read();
    uint64_t t;
    sys_reg r = sys_reg_key_time(POLICY_KEY, &t);
    if (r == SYS_REG_MISSING) {
        g_outcome = POLICY_NONE;
        return result();
    }
    g_outcome = r == SYS_REG_OK ? POLICY_READ : POLICY_UNREADABLE;
    KeyTimes kt;
    int timed = r == SYS_REG_OK && keep && read_times(t, &kt) && trust_folder(keep->dir, keep->path);
    if (timed && replay(*keep, kt, now)) return result();
    g_nsnap = 0;
    g_snap_ok = timed;
    snap_put(SNAP_HEAD);
    if (timed) times_line(kt, g_line, sizeof g_line);
    snap_put(g_line);
    snap_put("\n");
    for (int c = 0; c < CHOICE_COUNT; c++) {
        int v = read_choice(CHOICES[c]);
        fmt(g_line, sizeof g_line, "%s\t%d\n", CHOICES[c].tag, v);
        snap_put(g_line);
        take_choice(c, v);
    }
    for (int l = 0; l < POLICY_LISTS; l++) read_list(l, now);
    if (timed && keep->may_write && g_outcome == POLICY_READ && settled(kt, now)) snap_write(*keep);
    return result();
}

const char* policy_reason_text(policy_reason r) { return r >= 0 && r < POLICY_REASONS ? REASON_TEXT[r] : ""; }

int policy_say_errors(const RuleBook& b, log_event ev) {
    char16_t now[48];
    seen_sum_text(b.nerrors, b.error_sum, now, countof(now));
    if (!seen_changed(SEEN_KEY, SEEN_ERRORS, now, b.nerrors == 0)) return 0;
    int said = b.nerrors > 0;
    static char where[1024];  // a list's name and a value's: static, as the log's own buffers are
    int kept = b.nerrors < POLICY_ERRORS_KEPT ? b.nerrors : POLICY_ERRORS_KEPT;
    for (int i = 0; i < kept; i++) {
        const PolicyError& e = b.errors[i];
        where[0] = 0;
        if (e.list >= 0) {
            utf8(POLICY_LIST[e.list].key, where, sizeof where);
            scopy(where + strlen(where), sizeof where - strlen(where), "\\");
        }
        scopy(where + strlen(where), sizeof where - strlen(where), e.name);
        // A model that can never match says why, as the command line does.
        static char why[512];
        if (e.detail) fmt(why, sizeof why, "不是可用的硬件 ID：%s", rule_model_refusal_text((model_refusal)e.detail));
        else scopy(why, sizeof why, REASON_TEXT[e.reason]);
        logline(ev, "策略值无效，已忽略 | %s | %s", where, why);
    }
    if (b.nerrors > kept) {
        fmt(where, sizeof where, "另有 %d 个", b.nerrors - kept);
        logline(ev, "策略值无效，已忽略 | %s | %s", where, "未逐个列出");
    }
    return said;
}

int policy_forget(void) {
    char16_t kept[PATH_UNITS];
    int file = !data_path(kept, countof(kept), DATA_POLICY) || sys_file_delete(kept);
    return sys_reg_delete_key(SEEN_KEY) && file;
}
