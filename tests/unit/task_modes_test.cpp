// --install-task and --remove-task: their exit codes speak of the task,
// whatever becomes of the event log source's key beside it.
#include <gtest/gtest.h>

#include <string>

#include "app/app.h"
#include "support.h"

namespace {

int run_app(std::initializer_list<const char*> list) {
    qt::Argv args(list);
    return app_main(args.argc(), args.argv());
}

// The exit code says whether the task is gone (deleted, or not there to
// begin with), whatever becomes of the event source's key.
TEST(TaskModes, TheExitCodeSaysWhetherTheTaskIsGone) {
    qt::Machine m;
    m.dir = qt::fresh_dir();
    m.owned = true;
    const std::string reg = m.dir + "registry.txt";
    const std::string source = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Quillfen\tTypesSupported\tdword\t7\n";
    qt::spit(reg, source);
    m.lines = "run\tschtasks\t1\nevents\tyes\nregistry\t" + reg + "\n";
    m.load();
    EXPECT_EQ(run_app({"--remove-task"}), 0) << "schtasks fails, but /Query finds no task";
    EXPECT_TRUE(m.recorded("event").empty()) << "nothing was removed";
    EXPECT_EQ(qt::slurp(reg), "") << "a task already gone leaves no source behind";
    // The task goes, but the key cannot be changed: neither mode fails.
    qt::spit(reg, source);
    m.lines = "run\tschtasks\t0\nregistry\t" + reg + "\nreg-deny\tSYSTEM\\CurrentControlSet\\Services\\EventLog\n";
    m.load();
    EXPECT_EQ(run_app({"--remove-task"}), 0);
    EXPECT_EQ(run_app({"--install-task"}), 0);
    EXPECT_EQ(qt::slurp(reg), source + "SOFTWARE\\Quillfen\tTaskCommand\tsz\t" + m.exe + "\n");
}

}  // namespace
