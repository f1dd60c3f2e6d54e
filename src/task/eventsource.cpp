// Registering and removing the event log source.
#include "task/eventsource.h"

#include "base/text.h"
#include "files/datafile.h"
#include "files/exepath.h"
#include "sys/sys.h"

namespace {

// The key's last name is the source name that sys_event reports under
// ("Event Sources" in the Event Logging documentation).
const char16_t KEY[] = u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Quillfen";
// EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE.
constexpr uint32_t TYPES = 0x1 | 0x2 | 0x4;

}  // namespace

int event_source_register(void) {
    char16_t exe[PATH_UNITS];
    // The final path: the one the task runs, which stays when a link goes.
    if (!exe_path(exe, countof(exe))) return 0;
    // Expandable like the system's own sources; nothing in it expands, since
    // no task is installed from a path holding '%'.
    return sys_reg_set_text(KEY, u"EventMessageFile", exe, SYS_REG_EXPAND_SZ) &&
           sys_reg_set_dword(KEY, u"TypesSupported", TYPES);
}

int event_source_remove(void) { return sys_reg_delete_key(KEY); }
