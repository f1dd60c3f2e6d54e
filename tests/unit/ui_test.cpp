// The pure parts of the front end: the command line, the number list of
// the command menu, the duration answer and the yes/no rule.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/ui.h"
#include "device/scan.h"
#include "support.h"

namespace {

class Args_ : public ::testing::Test {
protected:
    Args a;
    void SetUp() override {
        g_force = 0;
        g_key[0] = 0;
    }
    void TearDown() override {
        g_force = 0;
        g_key[0] = 0;
    }
    void parse(std::initializer_list<const char*> list) {
        qt::Argv args(list);
        parse_args(args.argc(), args.argv(), &a);
    }
    std::u16string key() const { return g_key; }
};

TEST_F(Args_, NoArgumentsKeepTheStartValues) {
    parse({});
    EXPECT_EQ(a.scan_all, 1);
    EXPECT_EQ(a.scan_only, 0);
    EXPECT_EQ(a.enforce + a.install_task + a.remove_task + a.blist, 0);
    EXPECT_EQ(g_force, 0);
    EXPECT_EQ(key(), u"");
}

TEST_F(Args_, EachOptionSetsItsFlag) {
    parse({"-s", "--present-only", "--force"});
    EXPECT_EQ(a.scan_only, 1);
    EXPECT_EQ(a.scan_all, 0);
    EXPECT_EQ(g_force, 1);
    Args b;
    a = b;
    parse({"--scan", "--enforce", "--install-task", "--remove-task", "--blist", "--scan"});
    EXPECT_EQ(a.scan_only, 1);
    EXPECT_EQ(a.enforce, 1);
    EXPECT_EQ(a.install_task, 1);
    EXPECT_EQ(a.remove_task, 1);
    EXPECT_EQ(a.blist, 1);
    EXPECT_EQ(a.scan_all, 1);
}

TEST_F(Args_, OptionsAreCaseSensitiveAndWhole) {
    parse({"-S", "--SCAN", "-s2", "--scan=1", "--Force", "--force ", "--elevated", "-K", "Cam", "--blist2",
           "--ENFORCE", "-", "--", ""});
    EXPECT_EQ(a.scan_only, 0);
    EXPECT_EQ(a.enforce + a.blist, 0);
    EXPECT_EQ(g_force, 0);
    EXPECT_EQ(key(), u"");
}

TEST_F(Args_, KeyTakesTheNextArgumentWhateverItIs) {
    parse({"-k", "--force"});
    EXPECT_EQ(key(), u"--force");
    EXPECT_EQ(g_force, 0);

    parse({"--key", "-k", "-s"});
    EXPECT_EQ(key(), u"-k");
    EXPECT_EQ(a.scan_only, 1);  // reading goes on after the keyword

    parse({"--key", "Camera", "--blist"});
    EXPECT_EQ(key(), u"camera");
    EXPECT_EQ(a.blist, 1);
}

TEST_F(Args_, KeyAsLastArgumentDoesNothing) {
    parse({"-s", "-k"});
    EXPECT_EQ(key(), u"");
    EXPECT_EQ(a.scan_only, 1);
    parse({"-k", "cam", "--key"});
    EXPECT_EQ(key(), u"cam");
}

TEST_F(Args_, LaterKeyReplacesEarlierAndEmptyResets) {
    parse({"-k", "one", "-k", "TWO"});
    EXPECT_EQ(key(), u"two");
    parse({"-k", "Camera", "--key", ""});
    EXPECT_EQ(key(), u"");
    parse({"-k", "智能ABC"});
    EXPECT_EQ(key(), u"智能abc");
}

// Only the mode of highest precedence runs, whatever the order of the options.
int run_app(std::initializer_list<const char*> list, std::string* printed) {
    qt::Argv args(list);
    fflush(stdout);
    ::testing::internal::CaptureStdout();
    int rc = app_main(args.argc(), args.argv());
    fflush(stdout);
    *printed = ::testing::internal::GetCapturedStdout();
    return rc;
}

TEST(Dispatch, InstallTaskWinsOverRemoveTask) {
    qt::Machine m;
    m.lines = "run\tschtasks\t0\n";
    m.load();
    std::string printed;
    EXPECT_EQ(run_app({"--remove-task", "--install-task"}, &printed), 0);
    EXPECT_EQ(printed, "");
    auto rec = m.recorded();
    ASSERT_EQ(rec.size(), 2u);  // the command, and what the definition holds
    EXPECT_EQ(rec[0].rfind("run\t\"C:\\Windows\\system32\\schtasks.exe\" /Create ", 0), 0u) << rec[0];
}

TEST(Dispatch, EnforceWinsOverBlist) {
    qt::Machine m;
    m.load();
    std::string printed;
    EXPECT_EQ(run_app({"--blist", "-k", "Cam", "--enforce"}, &printed), 0);
    EXPECT_EQ(printed, "");  // the listing would print its count line
    EXPECT_TRUE(m.recorded().empty());
}

// ---- the number list ------------------------------------------------------------

std::vector<int> sel(const char* line, int n_dev, int cap = DEV_MAX) {
    static int buf[DEV_MAX + 8];
    for (int& v : buf) v = -777;
    int n = parse_selection(line, n_dev, buf, cap);
    EXPECT_GE(n, 0);
    EXPECT_LE(n, cap);
    if (n >= 0 && n < (int)(sizeof buf / sizeof buf[0])) {
        EXPECT_EQ(buf[n], -777) << "wrote past the count";
    }
    return std::vector<int>(buf, buf + (n > 0 ? n : 0));
}

using V = std::vector<int>;

TEST(Selection, SeparatorsOrderAndRepeats) {
    EXPECT_EQ(sel("2,4\n", 5), (V{1, 3}));
    EXPECT_EQ(sel("4 2\n", 5), (V{3, 1}));
    EXPECT_EQ(sel("1,1", 5), (V{0, 0}));
    EXPECT_EQ(sel("d2", 5), (V{1}));
    EXPECT_EQ(sel("第3个、第5个", 5), (V{2, 4}));
    EXPECT_EQ(sel("1;2\t3|4.5", 5), (V{0, 1, 2, 3, 4}));
}

TEST(Selection, SignsAreSeparatorsAndThereAreNoRanges) {
    EXPECT_EQ(sel("-3", 5), (V{2}));
    EXPECT_EQ(sel("+2", 5), (V{1}));
    EXPECT_EQ(sel("2-4", 5), (V{1, 3}));
    EXPECT_EQ(sel("--1--", 5), (V{0}));
}

TEST(Selection, LeadingZerosAndOutOfRange) {
    EXPECT_EQ(sel("007", 10), (V{6}));
    EXPECT_EQ(sel((std::string(300, '0') + "2").c_str(), 5), (V{1}));
    EXPECT_EQ(sel("0", 5), V{});
    EXPECT_EQ(sel("00", 5), V{});
    EXPECT_EQ(sel("6", 5), V{});
    EXPECT_EQ(sel("99 5", 5), (V{4}));
    EXPECT_EQ(sel("1", 0), V{});
    EXPECT_EQ(sel("", 5), V{});
    EXPECT_EQ(sel("\n", 5), V{});
    EXPECT_EQ(sel("abc", 5), V{});
}

TEST(Selection, RunsBeyond32BitsAreSkippedNotWrapped) {
    EXPECT_EQ(sel("4294967297", DEV_MAX), V{});            // 2^32 + 1
    EXPECT_EQ(sel("4294967296,3", DEV_MAX), (V{2}));       // 2^32
    EXPECT_EQ(sel("2147483648", DEV_MAX), V{});
    EXPECT_EQ(sel("18446744073709551617 1", DEV_MAX), (V{0}));  // 2^64 + 1
    EXPECT_EQ(sel((std::string(250, '9') + ",2").c_str(), 5), (V{1}));
}

TEST(Selection, FullLineAndCap) {
    // The longest line the menu takes: 255 bytes, "1," x 127 then "1".
    std::string line;
    for (int i = 0; i < 127; i++) line += "1,";
    line += "1";
    ASSERT_EQ(line.size(), 255u);
    V got = sel(line.c_str(), 5);
    EXPECT_EQ(got, V(128, 0));

    EXPECT_EQ(sel("1 2 3 4 5", 5, 3), (V{0, 1, 2}));
    EXPECT_EQ(sel("9 9 1 2 3", 5, 2), (V{0, 1}));  // skipped numbers do not count
    std::string many;
    for (int i = 0; i < 2100; i++) many += "7 ";
    EXPECT_EQ(sel(many.c_str(), 10).size(), (size_t)DEV_MAX);
}

// ---- duration and yes/no -----------------------------------------------------------

TEST(Duration, MenuChoicesHoursAndLimits) {
    struct {
        const char* line;
        int64_t hours;
    } cases[] = {
        {"1\n", 1},      {"2\n", 6},       {"3\n", 24},        {"4", 168},       {"5\r\n", 720},
        {"6", 2160},     {"7", 4320},      {"8\n", 8760},      {"9\n", 9},       {"48\n", 48},
        {"24", 24},      {"8760", 8760},   {"8761", 8760},     {"99999\n", 8760}, {"  5x", 720},
        {"+3", 24},      {"0\n", 1},       {"-5\n", 1},        {"-2", 1},        {"x\n", 1},
        {"abc", 1},      {"   \n", 1},      {"\t\n", 1},        {" ", 1},         {"-3", 1},
        {"99999999999999999999999\n", 8760}, {"4294967305", 8760}, {"-99999999999999999999", 1},
        {"", 0},         {"\n", 0},        {"\r\n", 0},        {"\r", 0},
    };
    for (auto& c : cases) EXPECT_EQ(duration_hours(c.line), c.hours) << "line [" << c.line << "]";
}

TEST(YesNo, OnlyTheFirstByteCounts) {
    for (const char* yes : {"y", "Y", "yes", "Yx", "y\n", "YES please"}) EXPECT_TRUE(is_yes(yes)) << yes;
    for (const char* no : {"", "\n", "n", "N", " y", "1", "9", "\xEF\xBD\x99", "\xD9", "\xF9", "ny"})
        EXPECT_FALSE(is_yes(no)) << no;
}

}  // namespace
