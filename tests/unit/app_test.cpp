// The choice of the one mode a run performs.
#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>

#include "app/app.h"
#include "support.h"

namespace {

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

}  // namespace
