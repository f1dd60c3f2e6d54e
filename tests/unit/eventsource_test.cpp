// The event log's source: the key that installing the task writes and
// removing it deletes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app.h"
#include "app/install.h"
#include "log/log.h"
#include "support.h"
#include "sys/sys.h"

namespace {

const char16_t KEY[] = u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Quillfen";

// The message file named by the key; "<missing>" when there is none.
std::u16string message_file() {
    char16_t text[512];
    return sys_reg_text(KEY, u"EventMessageFile", text, 512) == SYS_REG_OK ? text : u"<missing>";
}

int run_app(std::initializer_list<const char*> list) {
    qt::Argv args(list);
    return app_main(args.argc(), args.argv());
}

// --install-task and --remove-task are checked on Wine's real registry.
TEST(TaskModes, TheMenuAndTheDialogueRegisterTheSourceToo) {
    qt::Machine m;
    m.lines = "run\tschtasks\t0\n";
    m.load();
    testing::internal::CaptureStdout();
    EXPECT_EQ(install_task_ui(), TASK_INSTALLED);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(message_file(), std::u16string(m.exe.begin(), m.exe.end()));
}

TEST(TaskModes, TheExitCodeIsTheTaskDeletionsAlone) {
    qt::Machine m;
    m.dir = qt::fresh_dir();
    m.owned = true;
    const std::string reg = m.dir + "registry.txt";
    const std::string source = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Quillfen\tTypesSupported\tdword\t7\n";
    qt::spit(reg, source);
    m.lines = "run\tschtasks\t1\nevents\tyes\nregistry\t" + reg + "\n";
    m.load();
    EXPECT_EQ(run_app({"--remove-task"}), 1);
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
