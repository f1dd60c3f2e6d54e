// Registering and removing the event log source.
#include "task/eventsource.h"

#include "base/text.h"
#include "files/exepath.h"
#include "log/log.h"
#include "sys/sys.h"

namespace {

// The key's last name is the source name that the events are written under
// ("Event Sources" in the Event Logging documentation).
const char16_t LOG_KEY[] = u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

const char16_t* source_key(void) {
    static char16_t key[countof(LOG_KEY) + 64];
    key[0] = 0;
    wcat(key, countof(key), LOG_KEY);
    wcat(key, countof(key), EVENT_SOURCE);
    return key;
}
// EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE.
constexpr uint32_t TYPES = 0x1 | 0x2 | 0x4;

}  // namespace

int event_source_register(void) {
    char16_t exe[PATH_UNITS];
    // The final path: the one the task runs, which stays when a link goes.
    if (!exe_path(exe, countof(exe))) return 0;
    // Expandable like the system's own sources; nothing in it expands, since
    // no task is installed from a path holding '%'.
    return sys_reg_set_text(source_key(), u"EventMessageFile", exe, SYS_REG_EXPAND_SZ) &&
           sys_reg_set_dword(source_key(), u"TypesSupported", TYPES);
}

int event_source_remove(void) { return sys_reg_delete_key(source_key()); }
