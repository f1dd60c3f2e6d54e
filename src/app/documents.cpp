// The JSON documents of -s --json and --blist --json. Texts go out as the
// system and the file hold them: JSON escapes what the screen blanks.
#include "app/documents.h"
#include "app/exitcode.h"
#include "app/json.h"
#include "app/show.h"
#include "rules/judge.h"
#include "rules/wanted.h"
#include "store/store.h"
#include "device/model.h"
#include "device/scan.h"
#include "device/walk.h"
#include "log/log.h"
#include "sys/sys.h"

namespace {

// A device's model id, for a script to write a model rule with: looked up
// by its instance id; null when it has none.
HardwareIds g_hw;
char16_t g_model16[INST_UNITS];
char g_model[DEV_TEXT_BYTES];

const char* device_model(const DeviceEntry& d) {
    if (!dev_lookup_ids(d.inst, &g_hw) || !model_id(g_hw.ids, g_model16, countof(g_model16))) return nullptr;
    utf8(g_model16, g_model, sizeof g_model);
    return g_model;
}

int error_document(const char* error) {
    json_begin_document();
    json_key("error");
    json_text(error);
    json_end_document();
    return EXIT_FAILED;
}

}  // namespace

// The marks of a device list that the blacklist could not give in full.
const char* blacklist_error(bl_status st) {
    return st == BL_UNREADABLE ? "blacklist_unreadable" : st == BL_BAD_LINES ? "blacklist_unreadable_lines" : nullptr;
}

int scan_json(const Args& a) {
    int dropped;
    (void)bl_prune(&dropped);  // the marks need the blacklist
    const RuleBook& b = bl_book();
    const char* bl_error = blacklist_error(bl_read_status(b));
    uint32_t err;
    if (!scan(a.scan_all ? SCAN_ALL : SCAN_PRESENT, &err)) return error_document("device_list_unavailable");
    const Judge& j = judge_prepare(b, sys_now());
    json_begin_document();
    json_key("keyword");
    if (g_key[0]) json_text16(g_key);
    else json_null();
    json_key("devices");
    json_open_array();
    for (int i = 0; i < g_n; i++) {
        const DeviceEntry& d = g_dev[i];
        json_open();
        json_key("name");
        json_text16(d.name);
        json_key("class");
        json_text16(d.cls);
        json_key("instance_id");
        json_text16(d.inst);
        json_key("present");
        json_bool(d.present);
        json_key("builtin");
        json_bool(d.builtin);
        json_key("blacklisted");
        int approved, policy;
        const char* rule;
        bl_hit h = judge_mark(j, d, &approved, &policy, &rule);
        if (h == BL_NO_HIT) json_null();
        else json_text(hit_key(h));
        json_key("approved");
        json_bool(approved);
        json_key("source");
        json_text(h == BL_NO_HIT && !approved ? nullptr : policy ? "policy" : "local");
        // The rule that keeps it off, or spares it: its id or name.
        json_key("rule");
        json_text(h == BL_NO_HIT && !approved ? nullptr : rule);
        json_key("model_id");
        json_text(device_model(d));
        json_close();
    }
    json_close_array();
    // More matches than the table holds: the list says so.
    json_key("truncated");
    json_bool(g_matched > g_n);
    json_key("seen");
    json_int(g_matched);
    json_key("blacklist_error");
    json_text(bl_error);
    json_end_document();
    logline(LOG_FILE_ONLY, "扫描完成，命中 %d 个设备", g_n);
    return bl_error ? EXIT_FAILED : EXIT_OK;
}

void rule_ref_keys(const RuleBook& b, RuleRef r) {
    if (r.from == FROM_ENTRY) entry_keys(b, b.entries[r.index]);
    else if (r.from == FROM_RULE) rule_keys(b.rules[r.index]);
    else policy_rule_keys(r.from == FROM_POLICY ? b.policy[r.index] : b.held[r.index]);
}

const char* hit_key(bl_hit h) { return h == BL_BY_ID ? "id" : h == BL_BY_NAME ? "name" : "model"; }

void entry_json(const RuleBook& b, const BlacklistEntry& e) {
    json_open();
    entry_keys(b, e);
    json_close();
}

void entry_keys(const RuleBook& b, const BlacklistEntry& e) {
    const BlacklistModel* m = book_model_of(b, e);
    char utc[32];
    json_utc(e.until, utc);
    json_key("kind");
    json_text(e.byname ? "name" : "id");
    json_key("source");
    json_text("local");
    json_key("name");
    json_text(e.name);
    json_key("instance_id");
    json_text(e.inst);
    json_key("class");
    json_text(e.cls);
    json_key("until");
    json_int(e.until);
    json_key("until_utc");
    json_text(utc);
    json_key("by_name");
    json_bool(e.byname != 0);
    Standing unit = instance_standing(b, e.inst, e.cls);
    json_key("install_blocked");
    json_bool(unit.state == STANDS);
    json_key("install_block_reason");
    json_text(standing_key(unit));
    json_key("model_id");
    json_text(m ? m->model : nullptr);
    Standing model = m ? model_standing(b, m->model, m->verdict) : Standing{STANDS, GIVEN_UP_APPROVED};
    json_key("model_blocked");
    json_bool(m && model.state == STANDS);
    json_key("model_block_reason");
    json_text(m ? standing_key(model) : nullptr);
}

void rule_json(const Rule& r) {
    json_open();
    rule_keys(r);
    json_close();
}

void rule_keys(const Rule& r) {
    char utc[32];
    json_utc(r.until, utc);
    json_key("kind");
    json_text(r.kind == RULE_APPROVE_ID ? "id" : "model");
    json_key("source");
    json_text("local");
    json_key("name");
    json_text(r.name);
    json_key(r.kind == RULE_APPROVE_ID ? "instance_id" : "model_id");
    json_text(r.id);
    json_key("until");
    json_int(r.until);
    json_key("until_utc");
    json_text(utc);
    if (r.kind == RULE_MODEL) {
        Standing s = model_standing(bl_book(), r.id, r.verdict);
        json_key("model_blocked");
        json_bool(s.state == STANDS);
        json_key("model_block_reason");
        json_text(standing_key(s));
    }
}

void policy_rule_json(const PolicyRule& p) {
    json_open();
    policy_rule_keys(p);
    json_close();
}

void policy_rule_keys(const PolicyRule& p) {
    json_key("kind");
    json_text(p.kind == POLICY_INSTANCE_ID ? "id" : p.kind == POLICY_MODEL ? "model" : "name");
    json_key("source");
    json_text("policy");
    json_key("name");
    json_text(p.kind == POLICY_NAME ? p.id : nullptr);
    if (p.kind != POLICY_NAME) {
        json_key(p.kind == POLICY_INSTANCE_ID ? "instance_id" : "model_id");
        json_text(p.id);
    }
    json_key("until");
    char utc[32];
    if (p.until == INT64_MAX) {
        json_null();
        json_key("until_utc");
        json_null();
    } else {
        json_int(p.until);
        json_utc(p.until, utc);
        json_key("until_utc");
        json_text(utc);
    }
    if (!p.approves && p.kind != POLICY_NAME) {
        const RuleBook& b = bl_book();
        int unit = p.kind == POLICY_INSTANCE_ID;
        Standing s = policy_standing(b, p);
        json_key(unit ? "install_blocked" : "model_blocked");
        json_bool(s.state == STANDS);
        json_key(unit ? "install_block_reason" : "model_block_reason");
        json_text(standing_key(s));
    }
}

void policy_keys(const RuleBook& b) {
    json_key("mode");
    json_text(b.mode == POLICY_AUDIT ? "audit" : "enforce");
    json_key("policy_errors");
    json_int(b.nerrors);
    json_key("policy_error");
    json_text(b.policy_read == POLICY_UNREADABLE ? "policy_unreadable" : nullptr);
}

int blist_json(void) {
    int dropped;
    bl_status st = bl_prune(&dropped);
    if (st == BL_UNREADABLE) return error_document("blacklist_unreadable");
    const RuleBook& b = bl_book();
    int64_t now = sys_now();
    json_begin_document();
    json_key("entries");
    json_open_array();
    for (int i = 0; i < b.nentries; i++) {
        const BlacklistEntry& e = b.entries[i];
        if (rule_in_force(e.until, now)) entry_json(b, e);  // in force only
    }
    for (int i = 0; i < b.nrules; i++)
        if (b.rules[i].kind == RULE_MODEL && rule_in_force(b.rules[i].until, now)) rule_json(b.rules[i]);
    for (int i = 0; i < b.npolicy; i++)
        if (!b.policy[i].approves && rule_in_force(b.policy[i].until, now)) policy_rule_json(b.policy[i]);
    json_close_array();
    json_key("approved");
    json_open_array();
    for (int i = 0; i < b.nrules; i++)
        if (b.rules[i].kind != RULE_MODEL && rule_in_force(b.rules[i].until, now)) rule_json(b.rules[i]);
    for (int i = 0; i < b.npolicy; i++)
        if (b.policy[i].approves && rule_in_force(b.policy[i].until, now)) policy_rule_json(b.policy[i]);
    json_close_array();
    // What the file holds beyond the entries listed.
    json_key("overfull");
    json_bool(b.blacklist.overfull);
    json_key("skipped_lines");
    json_int(b.blacklist.bad);
    source_state m = b.models_file.state;
    json_key("models_error");
    json_text(m == SOURCE_UNREADABLE ? "models_unreadable" : m == SOURCE_BAD_LINES ? "models_unreadable_lines" : nullptr);
    json_key("models_skipped_lines");
    json_int(b.models_file.bad);
    source_state r = b.rules_file.state;
    json_key("rules_error");
    json_text(r == SOURCE_UNREADABLE ? "rules_unreadable" : r == SOURCE_BAD_LINES ? "rules_unreadable_lines"
              : r == SOURCE_OVERFULL ? "rules_overfull" : nullptr);
    json_key("rules_skipped_lines");
    json_int(b.rules_file.bad);
    policy_keys(b);
    json_end_document();
    int policy = b.policy_read == POLICY_UNREADABLE;
    return st == BL_BAD_LINES || b.blacklist.overfull || m != SOURCE_OK || r != SOURCE_OK || policy ? EXIT_FAILED
                                                                                                    : EXIT_OK;
}
