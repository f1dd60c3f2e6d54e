// The enforcement pass: no device enumeration when there is nothing to
// enforce, and the order and multiplicity of removals when there is.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "pass/audit.h"
#include "pass/enforce.h"
#include "local/rulefile.h"
#include "store/store.h"
#include "pass/sweep.h"
#include "device/scan.h"
#include "support.h"

namespace {

using qt::HEADER;

std::string line(int64_t until, int byname, const std::string& name, const std::string& inst) {
    return std::to_string(until) + "\t" + std::to_string(byname) + "\t" + name + "\t" + inst + "\tCamera\r\n";
}

int count_prefix(const std::vector<std::string>& lines, const std::string& prefix) {
    int n = 0;
    for (const auto& l : lines) n += l.rfind(prefix, 0) == 0;
    return n;
}

std::vector<std::string> removals(const qt::Machine& m) {
    std::vector<std::string> r;
    for (const auto& l : m.recorded())
        if (l.rfind("remove\t", 0) == 0) r.push_back(l.substr(7));
    return r;
}

class Enforce : public ::testing::Test {
protected:
    qt::Machine m;
    void SetUp() override {
        g_n = 0;
        m.dev(1, "USB Camera", "", "Camera", "USB\\VID_0001\\1");
        m.dev(1, "Smart Camera", "", "Camera", "USB\\VID_0000&PID_0000\\1");
        m.dev(0, "USB Camera", "", "Camera", "USB\\VID_0001\\GONE");
        m.dev(1, "USB Camera (2)", "", "Camera", "USB\\VID_0001\\2");
        m.dev(1, "Realtek Audio", "", "MEDIA", "HDAUDIO\\1");
    }
    std::string log() const { return qt::slurp(m.path("device_cleanup_log.txt")); }
};

TEST_F(Enforce, NoBlacklistFileMeansNoEnumeration) {
    m.load();
    EXPECT_EQ(enforce_pass(), ENFORCE_OK);
    EXPECT_EQ(count_prefix(m.recorded(), "enum"), 0);
    EXPECT_TRUE(removals(m).empty());
    EXPECT_EQ(log(), "");
    EXPECT_FALSE(qt::exists(m.path("blacklist.tsv")));
}

TEST_F(Enforce, AllExpiredMeansNoEnumerationOneLogLineAndARewrite) {
    m.load();
    qt::spit(m.path("blacklist.tsv"), HEADER + line(qt::T0, 1, "usb camera", "USB\\VID_0001\\1") +
                                          line(qt::T0 - 1, 1, "smart camera", "X") + line(0, 0, "", "Y"));
    EXPECT_EQ(enforce_pass(), ENFORCE_OK);
    EXPECT_EQ(count_prefix(m.recorded(), "enum"), 0);
    EXPECT_TRUE(removals(m).empty());
    EXPECT_EQ(qt::slurp(m.path("blacklist.tsv")), HEADER);
    std::string l = log();
    EXPECT_EQ(std::count(l.begin(), l.end(), '\n'), 4) << "each ended entry, then the count: " << l;
    EXPECT_NE(l.find("] 到期解除 | 拉黑 | 按实例 ID | y | (无名)\r\n"), std::string::npos) << l;
    EXPECT_NE(l.find("] 到期自动解除 3 条\r\n"), std::string::npos) << l;
}

TEST_F(Enforce, OneLiveEntryByNameWalksThePresentDevicesOnceAndEveryRecordOnlyWhenDue) {
    // The control case for the two tests above: the record does show scans.
    // Every record is walked for those left on the PC the first time, and
    // not again while the entries stay and the hour lasts.
    m.load();
    qt::spit(m.path("blacklist.tsv"), HEADER + line(qt::T0 + 7200, 1, "no such name", "NO\\SUCH\\DEVICE"));
    EXPECT_EQ(enforce_pass(), ENFORCE_OK);
    auto rec = m.recorded();
    EXPECT_EQ(count_prefix(rec, "enum\tpresent"), 1);
    EXPECT_EQ(count_prefix(rec, "enum\tall"), 1);
    EXPECT_EQ(enforce_pass(), ENFORCE_OK);
    rec = m.recorded();
    EXPECT_EQ(count_prefix(rec, "enum\tpresent"), 2);
    EXPECT_EQ(count_prefix(rec, "enum\tall"), 1);
    EXPECT_TRUE(removals(m).empty());
    EXPECT_EQ(log(), "");
}

TEST_F(Enforce, GroupedByEntryEachDeviceOnceUnderItsFirstEntry) {
    m.load();
    qt::spit(m.path("blacklist.tsv"),
             HEADER + line(qt::T0 + 3600, 1, "usb camera", "NOPE") +           // by name: two present devices
                 line(qt::T0 + 3600, 0, "ignored", "usb\\vid_0000&pid_0000\\1") +  // by id, other case
                 line(qt::T0 - 5, 1, "realtek", "") +                          // expired: dropped first
                 line(qt::T0 + 3600, 1, "usb camera (2)", "X"));               // a device already hit
    EXPECT_EQ(enforce_pass(), ENFORCE_OK);
    std::string l = log();
    std::vector<std::string> hits;
    for (size_t at = l.find("后台命中拉黑 | "); at != std::string::npos; at = l.find("后台命中拉黑 | ", at + 1))
        hits.push_back(l.substr(at, l.find("\r\n", at) - at));
    EXPECT_EQ(hits, (std::vector<std::string>{
                        "后台命中拉黑 | usb camera | usb\\vid_0001\\1 | 按名称 | 本机 | usb camera",
                        "后台命中拉黑 | usb camera (2) | usb\\vid_0001\\2 | 按名称 | 本机 | usb camera",
                        "后台命中拉黑 | smart camera | usb\\vid_0000&pid_0000\\1 | 按实例 ID | 本机 | usb\\vid_0000&pid_0000\\1",
                    }))
        << l;
    // Each hit is followed by its outcome.
    EXPECT_NE(l.find("后台已删除 | usb camera\r\n"), std::string::npos) << l;
    auto count = [&](const std::string& what) {
        int n = 0;
        for (size_t at = l.find(what); at != std::string::npos; at = l.find(what, at + 1)) n++;
        return n;
    };
    EXPECT_EQ(count("后台已删除 | "), 3) << l;
    EXPECT_EQ(count("后台删除失败 | "), 0) << l;
    // The expiry line comes last, after every hit.
    size_t expiry = l.find("到期自动解除 1 条");
    ASSERT_NE(expiry, std::string::npos) << l;
    EXPECT_EQ(l.find("\r\n", expiry) + 2, l.size());
}

}  // namespace

// The walk of every record is made within the hour, and at once when the
// rules in force change: a new name or a new model rule.
TEST_F(Enforce, SweepIsDueAgainWhenTheRulesInForceChange) {
    m.load();
    BlacklistEntry e = qt::entry(qt::T0 + 7200, 1, "usb camera", "USB\\VID_0001\\1", "Camera");
    Rule r{RULE_MODEL, "USB\\VID_0001&PID_0002", "", qt::T0 + 7200, MODEL_OK};
    RuleBook b{};
    b.entries = &e;
    b.nentries = 1;
    sweep_done(b, qt::T0);
    EXPECT_FALSE(sweep_due(b, qt::T0 + 60));
    EXPECT_TRUE(sweep_due(b, qt::T0 + 3600));
    b.rules = &r;
    b.nrules = 1;
    EXPECT_TRUE(sweep_due(b, qt::T0 + 60));
}

// The auditor's count: each device a rule reaches counts once a UTC day,
// however often it comes back.
TEST_F(Enforce, EachDeviceARuleReachesCountsOnceADay) {
    m.load();
    qt::spit(m.path("blacklist.tsv"), HEADER + line(qt::T0 + 3 * 86400, 1, "usb camera", "NOPE"));
    EXPECT_EQ(enforce_pass(), ENFORCE_OK);
    const RuleBook& b = bl_book();
    const uint64_t key = book_rule_key(b, RuleRef{FROM_ENTRY, 0});
    Reached again{};
    again.rule = RuleRef{FROM_ENTRY, 0};
    utf16("USB\\VID_0001\\1", again.inst, INST_UNITS);
    reached_note(b, again, qt::T0 + 60);
    reached_load(qt::T0);
    EXPECT_EQ(reached_today(key), 2) << "the two USB cameras, the first once";
    reached_load(qt::T0 + 86400);
    EXPECT_EQ(reached_today(key), 0) << "another day";
}

// The timer runs the pass 288 times a day: a device that audit mode would
// have removed is said once a UTC day per rule.
TEST_F(Enforce, AuditSaysEachDeviceOnceADay) {
    m.load();
    Reached r[2] = {};
    for (Reached& h : r) h.rule = RuleRef{FROM_ENTRY, -1}, h.how = BL_BY_NAME;
    RuleBook b{};
    utf16("USB\\VID_1\\1", r[0].inst, INST_UNITS);
    utf16("USB\\VID_1\\2", r[1].inst, INST_UNITS);
    EXPECT_EQ(audit_say(b, r, 2, qt::T0, EV_AUDIT_WOULD_REMOVE), 2);
    EXPECT_EQ(audit_say(b, r, 2, qt::T0 + 300, EV_AUDIT_WOULD_REMOVE), 0);
    r[1].how = BL_BY_MODEL;  // another rule reaches it now
    EXPECT_EQ(audit_say(b, r, 2, qt::T0 + 600, EV_AUDIT_WOULD_REMOVE), 1);
    EXPECT_EQ(audit_say(b, r, 2, qt::T0 + 86400, EV_AUDIT_WOULD_REMOVE), 2);
}
