// The rules of policy that a lift leaves.
#include "app/policy_note.h"

#include "app/console.h"
#include "app/documents.h"
#include "app/json.h"
#include "app/show.h"
#include "base/text.h"
#include "sys/sys.h"

namespace {

const PolicyRule* g_left[POLICY_RULES_MAX];
int g_nleft;

}  // namespace

int policy_asked(const RuleBook& b, int approves, unsigned kinds, const char* text) {
    int64_t now = sys_now();
    g_nleft = 0;
    for (int i = 0; i < b.npolicy; i++) {
        const PolicyRule& p = b.policy[i];
        if (p.approves != approves || !(kinds & (1u << p.kind)) || !rule_in_force(p.until, now)) continue;
        if (text && !ieq_ascii(p.id, text)) continue;
        g_left[g_nleft++] = &p;
    }
    return g_nleft;
}

void policy_left_lines(void) {
    for (int i = 0; i < g_nleft; i++) {
        const PolicyRule& p = *g_left[i];
        char id[sizeof p.id];
        out("  [提示] 策略规则只能由组策略/Intune 解除，本程序未改动：%s %s\n",
            p.kind == POLICY_INSTANCE_ID ? "设备" : p.kind == POLICY_MODEL ? "型号" : "名字", shown_text8(p.id, id, sizeof id));
    }
}

void policy_left_json(void) {
    json_key("not_lifted");
    json_open_array();
    for (int i = 0; i < g_nleft; i++) {
        json_open();
        policy_rule_keys(*g_left[i]);
        json_key("reason");
        json_text("policy");
        json_close();
    }
    json_close_array();
}
