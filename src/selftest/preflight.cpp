// The refusals before any change.
#include "selftest/preflight.h"

#include "base/security.h"
#include "block/layering.h"
#include "block/registry.h"
#include "selftest/keys.h"
#include "selftest/report.h"
#include "sys/sys.h"
#include "task/owner.h"
#include "task/task.h"
#include "task/trust.h"

namespace {

// Where MDM's Policy CSP keeps the device installation policies it set.
const char16_t MDM_KEY[] = u"SOFTWARE\\Microsoft\\PolicyManager\\current\\device\\DeviceInstallation";
// A fleet's own rules for Quillfen, which would decide what the run sees.
const char16_t QUILLFEN_POLICY_KEY[] = u"SOFTWARE\\Policies\\Quillfen";

// A switch of the restrictions set to DWORD 1 while Quillfen's mark of it
// under its own key reads 1.
int marked_on(const TreeValue& v, const char16_t* mark16) {
    char product[64], mark[64];
    utf8(PRODUCT_KEY, product, sizeof product);
    utf8(mark16, mark, sizeof mark);
    const TreeValue* m = saved_find(product, mark);
    return v.type == SYS_REG_DWORD && strcmp(v.data, "1") == 0 && m && strcmp(m->data, "1") == 0;
}

// Whether a saved value of the restrictions is one Quillfen wrote: a list
// value with this copy's or another copy's record of it (the allow list's
// as the deny lists'), or a switch Quillfen marked as turned on by itself,
// layered evaluation's among them.
int quillfen_wrote(const TreeValue& v) {
    char root[256], key[256], name[64], records[256];
    utf8(RESTRICTIONS_KEY, root, sizeof root);
    utf8(LAYERED, name, sizeof name);
    if (ieq_ascii(v.key, root) && ieq_ascii(v.name, name)) return marked_on(v, LAYERED_MARK);
    for (const RestrictList& L : LISTS) {
        utf8(L.key, key, sizeof key);
        utf8(L.switch_name, name, sizeof name);
        utf8(L.records, records, sizeof records);
        if (ieq_ascii(v.key, root) && ieq_ascii(v.name, name)) return marked_on(v, L.mark);
        if (ieq_ascii(v.key, key)) {
            const TreeValue* r = saved_find(records, v.name);
            if (!r) return 0;
            static char16_t rec[sizeof r->data], val[sizeof v.data], id[INST_UNITS], path[PATH_UNITS];
            int unsure;
            utf16(r->data, rec, countof(rec));
            utf16(v.data, val, countof(val));
            return block_record_parse(rec, id, path, countof(path), &unsure) && wicmp(id, val) == 0;
        }
    }
    return 0;
}

int key_holds_anything(const char16_t* key) {
    char16_t name[256];
    return key_has_values(key) != 0 || sys_reg_subkey_at(key, 0, name, countof(name)) != SYS_REG_MISSING;
}

// Whether the local Group Policy's machine settings name the restrictions:
// Registry.pol holds its keys as UTF-16 text.
int local_policy_names_them(void) {
    char16_t path[PATH_UNITS];
    if (!sys_system_dir(path, countof(path))) return 0;
    wcat8(path, countof(path), "\\GroupPolicy\\Machine\\Registry.pol");
    sys_read r;
    sys_file* f = sys_file_open(path, &r);
    if (!f) return r == SYS_READ_FAILED;  // unreadable: it may name them
    static const char WANT[] = "deviceinstall\\restrictions";
    size_t matched = 0;
    int found = 0, odd = 0;
    static unsigned char chunk[4096];
    uint32_t got;
    unsigned char low = 0;
    while (!found && sys_file_next(f, reinterpret_cast<char*>(chunk), sizeof chunk, &got) && got)
        for (uint32_t i = 0; i < got && !found; i++, odd ^= 1) {
            if (!odd) {
                low = chunk[i];
                continue;
            }
            char16_t c = (char16_t)(low | chunk[i] << 8);
            if (c >= u'A' && c <= u'Z') c = (char16_t)(c + 32);
            matched = c == (char16_t)WANT[matched] ? matched + 1 : c == (char16_t)WANT[0] ? 1 : 0;
            found = matched == sizeof WANT - 1;
        }
    sys_file_close(f);
    return found;
}

}  // namespace

int preflight(const Tested& t) {
    int ok = 1;
    if (!sys_file_exists(t.exe)) {
        say("REFUSED: there is no Quillfen at %s (give its path with --quillfen)", t.exe8);
        return 0;
    }
    // The journal lies beside it: nobody but an administrator may plant or change one there.
    static char16_t dir[PATH_UNITS];
    wcopy(dir, countof(dir), t.dir);
    size_t n = wlen(dir);
    if (n > 3) dir[n - 1] = 0;
    principal owner;
    static sys_ace aces[SYS_MAX_ACES];
    int naces = 0;
    if (!sys_file_access(dir, &owner, aces, &naces) || !trust_safe(owner, aces, naces, TRUST_OWN_FOLDER)) {
        say("REFUSED: users other than administrators can change the folder of %s", t.exe8);
        ok = 0;
    }
    char root[256];
    utf8(RESTRICTIONS_KEY, root, sizeof root);
    size_t rn = strlen(root);
    const Tree& saved = trees_saved();
    for (int i = 0; i < saved.n; i++) {
        const TreeValue& v = saved.v[i];
        // The tree was read from the root as spelled here.
        if (strncmp(v.key, root, rn) != 0 || quillfen_wrote(v)) continue;
        say("REFUSED: %s\\%s is a setting Quillfen did not write", v.key, v.name);
        ok = 0;
    }
    if (key_holds_anything(MDM_KEY)) {
        say("REFUSED: MDM manages device installation here (PolicyManager\\current\\device\\DeviceInstallation)");
        ok = 0;
    }
    if (local_policy_names_them()) {
        say("REFUSED: the local Group Policy sets device installation restrictions");
        ok = 0;
    }
    if (key_holds_anything(QUILLFEN_POLICY_KEY)) {
        say("REFUSED: Quillfen's own policy (HKLM\\SOFTWARE\\Policies\\Quillfen) is set: its rules would decide what the run sees");
        ok = 0;
    }
    return ok;
}

int task_before(const Tested& t) {
    char product[64];
    utf8(PRODUCT_KEY, product, sizeof product);
    const TreeValue* cmd = saved_find(product, "TaskCommand");
    const char* command = cmd ? cmd->data : "";
    task_state task = task_query();
    if (task == TASK_QUERY_FAILED) {
        say("REFUSED: schtasks cannot tell whether the scheduled task is installed");
        return -1;
    }
    int ours = ieq_ascii(command, t.exe8);
    if (task == TASK_PRESENT && ours) return 1;
    if (task == TASK_ABSENT && (ours || !command[0])) return 0;
    // Installing the task would take it, and its blocks, from that copy.
    say("REFUSED: the scheduled task runs another copy of Quillfen (%s); test that one with --quillfen",
        command[0] ? command : "an older version, which records none");
    return -1;
}
