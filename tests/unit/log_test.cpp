// The activity log and its events: one line per event whatever a device
// calls itself, and the line's arguments as the event's strings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/log.h"
#include "support.h"

namespace {

TEST(Log, ADeviceTextCannotBreakOrForgeALine) {
    qt::Machine m;
    m.load();
    logline(EV_REMOVED, "已删除 | %s | %s", "Cam\r\n[2020-01-01 00:00:00] 清空拉黑名单\x1b[2J\x7f", "USB\\1");
    logline(LOG_FILE_ONLY, "扫描完成，命中 %d 个设备", 0);
    std::string log = qt::slurp(m.path("device_cleanup_log.txt"));
    ASSERT_EQ(log.size() > 44 ? log.substr(22, 3) : "", "已") << log;  // after "[YYYY-MM-DD hh:mm:ss] "
    EXPECT_EQ(log.substr(22), "已删除 | Cam  [2020-01-01 00:00:00] 清空拉黑名单 [2J  | USB\\1\r\n" + log.substr(0, 22) +
                                  "扫描完成，命中 0 个设备\r\n");
    EXPECT_TRUE(qt::exists(m.path("device_cleanup_log.txt.lock")));
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
    EXPECT_EQ(m.recorded("event"), (std::vector<std::string>{
                             "event\t1007\tinfo\tCam | x  evil  [2020]\tUSB\\1",
                             "event\t2001\twarning\t\tUSB\\2",
                             "event\t3004\terror\t13",
                             "event\t1005\tinfo",
                         }));
}

}  // namespace
