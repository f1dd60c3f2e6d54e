// The command line: each option, the keyword after -k, and what is ignored.
#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>

#include "app/args.h"
#include "device/scan.h"
#include "support.h"

namespace {

class Args_ : public ::testing::Test {
protected:
    Args a;
    void SetUp() override { g_key[0] = 0; }
    void TearDown() override { g_key[0] = 0; }
    // Args points into argv, so the last one stays alive for the assertions.
    std::unique_ptr<qt::Argv> args;
    int parse(std::initializer_list<const char*> list) {
        args = std::make_unique<qt::Argv>(list);
        return parse_args(args->argc(), args->argv(), &a);
    }
    std::u16string key() const { return g_key; }
};

TEST_F(Args_, NoArgumentsKeepTheStartValues) {
    parse({});
    EXPECT_EQ(a.scan_all, 1);
    EXPECT_EQ(a.scan_only, 0);
    EXPECT_EQ(a.enforce + a.install_task + a.remove_task + a.blist, 0);
    EXPECT_EQ(a.force, 0);
    EXPECT_EQ(key(), u"");
}

TEST_F(Args_, EachOptionSetsItsFlag) {
    parse({"-s", "--present-only", "--force"});
    EXPECT_EQ(a.scan_only, 1);
    EXPECT_EQ(a.scan_all, 0);
    EXPECT_EQ(a.force, 1);
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
    EXPECT_EQ(a.force, 0);
    EXPECT_EQ(key(), u"");
}

TEST_F(Args_, KeyTakesTheNextArgumentWhateverItIs) {
    parse({"-k", "--force"});
    EXPECT_EQ(key(), u"--force");
    EXPECT_EQ(a.force, 0);

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

namespace {

// A script that asks for two things, or for one without what it needs, must
// not silently get something else: each of these ends the run before it
// does anything.
TEST_F(Args_, DrivenModesTakeTheirOptionsAloneAndWhole) {
    for (std::initializer_list<const char*> bad : {
             std::initializer_list<const char*>{"--hours", "5"},         // outside the modes that take it
             {"--blist", "--what-if"},                                   // likewise
             {"--unblacklist", "--all", "--hours", "5"},                 // a mode that does not take it
             {"--remove", "--blacklist"},                                // two driven modes
             {"--remove", "-s"},                                         // a driven mode and another mode
             {"--check", "--unblacklist", "--all"},
             {"--blacklist", "--name", "cam"},                           // no --hours
             {"--blacklist", "--hours", "5"},                            // no --name or --id
             {"--blacklist", "--id", "X", "--hours", "5", "--by-name"},  // --by-name without --name
             {"--blacklist", "--id", "X", "--id", "Y", "--hours", "5"},  // one id only
             {"--unblacklist"},                                          // nothing to lift
             {"--unblacklist", "--id", "X", "--all"},                    // one way to choose
             {"--remove", "--hours"},                                    // an option without its value
             {"--remove", "--by-name"},                                  // by name, but no blacklisting
         }) {
        a = Args{};
        EXPECT_EQ(parse(bad), 0) << *bad.begin() << " ... (" << bad.size() << " arguments)";
    }
    a = Args{};
    ASSERT_EQ(parse({"--remove", "--id", "A", "--id", "B", "--hours", "x", "--json", "--force", "-k", "cam"}), 1);
    EXPECT_EQ(a.drive, DRIVE_REMOVE);
    EXPECT_EQ(a.nids, 2);
    EXPECT_STREQ(a.hours, "x");  // present but wrong: the mode refuses it, with exit 1
    a = Args{};
    EXPECT_EQ(parse({"--blacklist", "--id", "X", "--name", "cam", "--by-name", "--hours", "5", "--what-if"}), 1);
    EXPECT_EQ(a.by_name + a.what_if, 2);
}

}  // namespace
