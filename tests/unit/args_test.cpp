// The command line: each option, the keyword after -k, and what is ignored.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "app/args.h"
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
    int parse(std::initializer_list<const char*> list) {
        qt::Argv args(list);
        return parse_args(args.argc(), args.argv(), &a);
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

TEST_F(Args_, KeyAsLastArgumentIsAUsageError) {
    EXPECT_EQ(parse({"-s", "-k"}), 0);
    EXPECT_EQ(key(), u"");
    EXPECT_EQ(parse({"-k", "cam", "--key"}), 0);
    EXPECT_EQ(parse({"-k", "cam"}), 1);
}

TEST_F(Args_, LaterKeyReplacesEarlierAndEmptyResets) {
    parse({"-k", "one", "-k", "TWO"});
    EXPECT_EQ(key(), u"two");
    parse({"-k", "Camera", "--key", ""});
    EXPECT_EQ(key(), u"");
    parse({"-k", "智能ABC"});
    EXPECT_EQ(key(), u"智能abc");
}

}  // namespace
