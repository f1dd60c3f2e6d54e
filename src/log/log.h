// The activity log: one timestamped line per event, appended to
// device_cleanup_log.txt beside the executable, and the same event in the
// system's event log.
#pragma once

#include <cstdint>

#include "base/text.h"

// The ids under which the lines reach the event log. Event Viewer shows
// them and administrators filter on them, so they are a public interface:
// a number never changes meaning, and a new line takes the next free id of
// its type. The thousands give the type: 1 information, 2 warning, 3 error.
enum log_event : uint16_t {
    LOG_FILE_ONLY = 0,  // the scan count: the file alone

    EV_REMOVED = 1001,            // 已删除 | name | id
    EV_BLACKLISTED = 1002,        // 拉黑 | name | seconds
    EV_TASK_INSTALLED = 1003,     // 已安装后台任务 task
    EV_TASK_REMOVED = 1004,       // 已卸载后台任务
    EV_CLEARED = 1005,            // 清空拉黑名单
    EV_LIFTED = 1006,             // 解除拉黑 | name
    EV_HIT = 1007,                // 后台命中拉黑 | name | id
    EV_ENFORCED = 1008,           // 后台已删除 | name
    EV_EXPIRED = 1009,            // 到期自动解除 n 条
    EV_BLOCKED = 1010,            // 已禁止系统安装 | id
    EV_UNBLOCKED = 1011,          // 已解除系统安装禁止 | id
    EV_DRIVEN_REMOVAL = 1012,     // 命令行删除 | keyword | n 个设备
    EV_BY_NAME_REACH = 1013,      // 按名称拉黑 | name | 另涉及 n 个设备

    EV_REMOVED_RESTART = 2001,    // 已删除（需重启） | name | id
    EV_ENFORCED_RESTART = 2002,   // 后台已删除（需重启） | name
    EV_TASK_UNSAFE = 2003,        // 后台任务装在不安全目录 | path
    EV_TASK_REFUSED = 2004,       // 拒绝安装后台任务 | path
    EV_BLOCK_REWRITTEN = 2005,    // 系统安装禁止被移除，已重新写入 | id
    EV_BLOCK_FAILED = 2006,       // 写入系统安装禁止失败 | id
    EV_BLOCK_UNSUPPORTED = 2007,  // 系统安装禁止不适用（Windows 版本或版本类型）
    EV_TASK_XML_LEFT = 2008,      // 任务定义文件未能删除 | path
    EV_BLOCK_DISABLED = 2009,     // 系统安装禁止由管理员设置为关闭，未写入
    EV_TASK_NO_POLICY = 2010,     // 后台任务未加策略刷新触发（系统不接受）
    EV_TASK_PATH_TOO_LONG = 2011, // 拒绝安装后台任务：程序路径超过 259 个字符 | path
    EV_BLOCK_KEPT = 2012,         // 系统安装禁止无法确认为本程序所写，已保留 | id
    EV_BLOCK_NOT_ON = 2013,       // 系统安装禁止的策略未启用，列表或开关属于他人，未写入
    EV_BLOCK_LOCK_BUSY = 2014,    // 系统安装禁止的锁被占用，未修改
    EV_TASK_RECORD_LEFT = 2015,   // 后台任务已卸载，但未能清除 TaskCommand
    EV_MODEL_NONE = 2016,         // 没有型号 ID，不按型号禁止安装 | name
    EV_MODEL_SHARED = 2017,       // 型号另有设备在用，不按型号禁止安装 | name | model | n 个设备
    EV_MODEL_BUILTIN = 2018,      // 内置设备，不按型号禁止安装 | name | model
    EV_MODEL_UNKNOWN = 2019,      // 读不到设备列表，不按型号禁止安装 | name | model
    EV_MODEL_LOST = 2020,         // 未能保存型号 ID，不按型号禁止安装 | name | model
    EV_LIFT_STILL_REACHED = 2021, // 解除拉黑后仍被其他条目涉及 | name | the other entry's name

    EV_REMOVE_FAILED = 3001,      // 删除失败 | name | id
    EV_ENFORCE_FAILED = 3002,     // 后台删除失败 | name
    EV_BLACKLIST_FAILED = 3003,   // 拉黑失败 | name
    EV_ENUM_FAILED = 3004,        // 枚举设备失败 (code n)
    EV_BLACKLIST_UNREADABLE = 3005,  // 读取拉黑名单失败
    EV_PROGRAM_TIMEOUT = 3006,    // 系统程序超时 | program
    EV_TASK_INSTALL_FAILED = 3007,   // 安装后台任务失败 | exit code, or 未能运行 schtasks
    EV_BLACKLIST_BAD_LINES = 3008,   // 拉黑名单有无法识别的行，未修改 | 第 n 行
    EV_UNBLOCK_FAILED = 3009,        // 解除系统安装禁止失败 | id
    EV_TASK_REMAINS = 3010,          // 卸载后台任务失败，任务仍在
    EV_MODELS_UNREADABLE = 3011,     // 读取型号文件失败，按型号的安装禁止未修改
    EV_MODELS_BAD_LINES = 3012,      // 型号文件有无法识别的行，按型号的安装禁止未修改 | 第 n 行
};

// The event source our events are written under: the name of its key under
// the Application log, which tells Event Viewer where their texts are.
extern const char16_t EVENT_SOURCE[];

// One line, printf-style (our own formatter: %d %lld %s ...). The event
// gets the line's arguments as its insertion strings, in order. Failures
// are silent.
void logline(log_event ev, const char* f, ...) QF_PRINTF(2, 3);

// From now on no line is written, neither to the file nor as an event: for
// --check, which must leave no trace of its own.
void log_off(void);
