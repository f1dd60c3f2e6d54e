// The event log: the strings each log line hands it, and the source's key
// that installing the task writes and removing it deletes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app.h"
#include "app/ui.h"
#include "log/log.h"
#include "support.h"
#include "sys/sys.h"

namespace {

const char16_t KEY[] = u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Quillfen";

std::vector<std::string> events(const qt::Machine& m) {
    std::vector<std::string> out;
    for (const std::string& r : m.recorded())
        if (r.rfind("event\t", 0) == 0) out.push_back(r);
    return out;
}

// The message file named by the key; "<missing>" when there is none.
std::u16string message_file() {
    char16_t text[512];
    return sys_reg_text(KEY, u"EventMessageFile", text, 512) == SYS_REG_OK ? text : u"<missing>";
}

int run_app(std::initializer_list<const char*> list) {
    qt::Argv args(list);
    return app_main(args.argc(), args.argv());
}

TEST(EventStrings, EachArgumentIsOneStringBlankedLikeTheLog) {
    qt::Machine m;
    m.lines = "events\tyes\n";
    m.load();
    // The separator, a tab (the record's own), a right-to-left override and
    // a line break inside a name stay inside its one string.
    logline(EV_HIT, "后台命中拉黑 | %s | %s", "Cam | x\t\xE2\x80\xAE" "evil\r\n[2020]", "USB\\1");
    logline(LOG_FILE_ONLY, "扫描完成，命中 %d 个设备", 3);
    logline(EV_REMOVED_RESTART, "已删除（需重启） | %s | %s", "", "USB\\2");
    logline(EV_ENUM_FAILED, "枚举设备失败 (code %lu)", 13ul);
    logline(EV_CLEARED, "清空拉黑名单");
    EXPECT_EQ(events(m), (std::vector<std::string>{
                             "event\t1007\tinfo\tCam | x  evil  [2020]\tUSB\\1",
                             "event\t2001\twarning\t\tUSB\\2",
                             "event\t3004\terror\t13",
                             "event\t1005\tinfo",
                         }));
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
    EXPECT_TRUE(events(m).empty()) << "nothing was removed";
    EXPECT_EQ(qt::slurp(reg), "") << "a task already gone leaves no source behind";
    // The task goes, but the key cannot be changed: neither mode fails.
    qt::spit(reg, source);
    m.lines = "run\tschtasks\t0\nregistry\t" + reg + "\nreg-deny\tSYSTEM\\CurrentControlSet\\Services\\EventLog\n";
    m.load();
    EXPECT_EQ(run_app({"--remove-task"}), 0);
    EXPECT_EQ(run_app({"--install-task"}), 0);
    EXPECT_EQ(qt::slurp(reg), source);
}

}  // namespace
