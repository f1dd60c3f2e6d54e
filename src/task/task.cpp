// The task's definition file, and creating and deleting the task.
#include "task/task.h"

#include "base/text.h"
#include "proc/run.h"
#include "files/datafile.h"
#include "files/exepath.h"
#include "log/log.h"
#include "sys/sys.h"

const char16_t TASK_NAME[] = u"Quillfen-Enforce";

namespace {

// A path of PATH_UNITS units, every character escaped ("&quot;"), twice,
// and the rest of the definition.
constexpr size_t XML_UNITS = 2 * 6 * PATH_UNITS + 4096;

// The event log in which the system records device arrivals: 400 when a
// device is configured, 410 when it is started.
const char EVENT_QUERY[] =
    "&lt;QueryList&gt;&lt;Query Id=\"0\" Path=\"Microsoft-Windows-Kernel-PnP/Configuration\"&gt;"
    "&lt;Select Path=\"Microsoft-Windows-Kernel-PnP/Configuration\"&gt;"
    "*[System[(EventID=400 or EventID=410)]]&lt;/Select&gt;&lt;/Query&gt;&lt;/QueryList&gt;";

// Applying a policy that manages the block's list empties the list first:
// the pass puts our values back. Group Policy ends a successful processing
// run with 1500 to 1503 in the System log (computer and user alike); the
// MDM client logs 813 and 814 when it sets a policy and 815 when it
// deletes one.
const char POLICY_QUERY[] =
    "&lt;QueryList&gt;&lt;Query Id=\"0\" Path=\"System\"&gt;&lt;Select Path=\"System\"&gt;"
    "*[System[Provider[@Name='Microsoft-Windows-GroupPolicy'] and "
    "(EventID=1500 or EventID=1501 or EventID=1502 or EventID=1503)]]&lt;/Select&gt;&lt;/Query&gt;"
    "&lt;Query Id=\"1\" Path=\"Microsoft-Windows-DeviceManagement-Enterprise-Diagnostics-Provider/Admin\"&gt;"
    "&lt;Select Path=\"Microsoft-Windows-DeviceManagement-Enterprise-Diagnostics-Provider/Admin\"&gt;"
    "*[System[(EventID=813 or EventID=814 or EventID=815)]]&lt;/Select&gt;&lt;/Query&gt;&lt;/QueryList&gt;";

struct Xml {
    char16_t* out;
    size_t units;
    size_t n;
    void ascii(const char* s) {
        for (; *s; s++) unit((char16_t)(unsigned char)*s);
    }
    void unit(char16_t c) {
        if (n + 1 < units) out[n] = c;
        n++;
    }
    void text(const char16_t* s) {
        for (; *s; s++) {
            switch (*s) {
            case u'&': ascii("&amp;"); break;
            case u'<': ascii("&lt;"); break;
            case u'>': ascii("&gt;"); break;
            case u'"': ascii("&quot;"); break;
            case u'\'': ascii("&apos;"); break;
            default: unit(*s);
            }
        }
    }
    // An event trigger; a few seconds' delay lets the device finish
    // arriving, or the policy finish being written.
    void event_trigger(const char* query) {
        ascii("<EventTrigger>\r\n<Enabled>true</Enabled>\r\n<Subscription>");
        ascii(query);
        ascii("</Subscription>\r\n<Delay>PT3S</Delay>\r\n</EventTrigger>\r\n");
    }
    void element(const char* name, const char16_t* value) {
        ascii("<");
        ascii(name);
        ascii(">");
        text(value);
        ascii("</");
        ascii(name);
        ascii(">\r\n");
    }
};

// The definition, its bytes and the command line: static, as together
// they are some 40 KB.
char16_t g_xml[XML_UNITS];
char g_xml_bytes[2 * XML_UNITS + 2];
char16_t g_args[3 * PATH_UNITS];

// A scanner or an indexer may hold the definition open for a moment.
constexpr uint32_t DELETE_WAIT_MS = 2000;

// Writes the definition as UTF-16 LE with its byte-order mark, fresh: a
// leftover of an earlier install is deleted first, and one that cannot be
// deleted fails it.
int write_definition(const char16_t* path, const char16_t* xml, size_t n) {
    g_xml_bytes[0] = (char)0xFF;
    g_xml_bytes[1] = (char)0xFE;
    for (size_t i = 0; i < n; i++) {
        g_xml_bytes[2 + 2 * i] = (char)(xml[i] & 0xFF);
        g_xml_bytes[3 + 2 * i] = (char)(xml[i] >> 8);
    }
    (void)sys_file_delete_wait(path, DELETE_WAIT_MS);  // one that stays fails the create
    return sys_file_create(path, g_xml_bytes, (uint32_t)(2 + 2 * n));
}

enum attempt { CREATED, REFUSED, FAILED };

// The exit code of the last schtasks run; -1 when it did not run to its end.
int g_last_rc;

// One attempt: write, hand to schtasks, delete whatever happened. A task
// that schtasks created stays created, whatever becomes of the file;
// REFUSED: schtasks ran and said no.
attempt create_from(const char16_t* exe, const char16_t* file, const int start[6], unsigned triggers) {
    size_t n = task_xml(g_xml, countof(g_xml), exe, start, triggers);
    if (n == 0 || !write_definition(file, g_xml, n)) return FAILED;
    g_args[0] = 0;
    wcat8(g_args, countof(g_args), "/Create /TN ");
    add_arg(g_args, countof(g_args), TASK_NAME);
    wcat8(g_args, countof(g_args), " /XML ");
    int rc = -1;
    int ran = add_arg(g_args, countof(g_args), file);
    wcat8(g_args, countof(g_args), " /F");
    ran = ran && run_silent("schtasks.exe", g_args, &rc);
    // The definition names the program SYSTEM will run: it must not stay
    // for anyone to read, or to edit for a later install.
    if (!sys_file_delete_wait(file, DELETE_WAIT_MS)) {
        char shown[3 * PATH_UNITS];
        utf8(file, shown, sizeof shown);
        logline(EV_TASK_XML_LEFT, "任务定义文件未能删除 | %s", shown);
    }
    g_last_rc = ran ? rc : -1;
    return !ran ? FAILED : rc == 0 ? CREATED : REFUSED;
}

}  // namespace

size_t task_xml(char16_t* out, size_t units, const char16_t* exe, const int start[6], unsigned triggers) {
    if (units == 0) return 0;
    Xml x{out, units, 0};
    // The folder the program runs in is its own.
    char16_t dir[PATH_UNITS];
    size_t cut = 0;
    for (size_t i = 0; exe[i]; i++)
        if (exe[i] == u'\\' || exe[i] == u'/') cut = i;
    if (cut + 2 > countof(dir)) return 0;
    for (size_t i = 0; i < cut; i++) dir[i] = exe[i];
    dir[cut] = 0;
    if (cut == 2 && exe[1] == u':') dir[cut++] = u'\\', dir[cut] = 0;  // "C:\", not "C:"
    char when[32];
    fmt(when, sizeof when, "%04d-%02d-%02dT%02d:%02d:%02d", start[0], start[1], start[2], start[3], start[4], start[5]);

    x.ascii("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n");
    x.ascii("<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n");
    x.ascii("<RegistrationInfo>\r\n");
    x.element("Author", u"Quillfen");
    x.element("Description", u"删除拉黑名单中重新出现的设备（Quillfen）");
    x.ascii("</RegistrationInfo>\r\n<Triggers>\r\n");
    x.ascii("<TimeTrigger>\r\n<Enabled>true</Enabled>\r\n<StartBoundary>");
    x.ascii(when);
    x.ascii("</StartBoundary>\r\n<Repetition>\r\n<Interval>PT5M</Interval>\r\n");
    x.ascii("<StopAtDurationEnd>false</StopAtDurationEnd>\r\n</Repetition>\r\n</TimeTrigger>\r\n");
    if (triggers & TRIGGER_DEVICES) x.event_trigger(EVENT_QUERY);
    if (triggers & TRIGGER_POLICY) x.event_trigger(POLICY_QUERY);
    x.ascii("</Triggers>\r\n<Principals>\r\n<Principal id=\"Author\">\r\n");
    x.ascii("<UserId>S-1-5-18</UserId>\r\n<RunLevel>HighestAvailable</RunLevel>\r\n");
    x.ascii("</Principal>\r\n</Principals>\r\n<Settings>\r\n");
    // A laptop on battery needs the pass as much as one on the mains; an
    // arrival during a pass gets a pass of its own after it.
    x.ascii("<MultipleInstancesPolicy>Queue</MultipleInstancesPolicy>\r\n");
    x.ascii("<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>\r\n");
    x.ascii("<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>\r\n");
    x.ascii("<AllowHardTerminate>true</AllowHardTerminate>\r\n");
    x.ascii("<StartWhenAvailable>true</StartWhenAvailable>\r\n");
    x.ascii("<Enabled>true</Enabled>\r\n");
    x.ascii("<ExecutionTimeLimit>PT1H</ExecutionTimeLimit>\r\n");
    x.ascii("</Settings>\r\n<Actions Context=\"Author\">\r\n<Exec>\r\n");
    x.element("Command", exe);
    x.element("Arguments", u"--enforce");
    x.element("WorkingDirectory", dir);
    x.ascii("</Exec>\r\n</Actions>\r\n</Task>\r\n");
    if (x.n + 1 > units) {
        out[0] = 0;
        return 0;
    }
    out[x.n] = 0;
    return x.n;
}

namespace {

task_result install(void) {
    char16_t exe[PATH_UNITS], file[PATH_UNITS];
    // No path, no task that could run us.
    if (!exe_path(exe, countof(exe)) || !data_path(file, countof(file), DATA_TASK_XML)) return TASK_FAILED;
    int start[6];
    sys_local_time(sys_now(), start);
    // A system without one of the event logs refuses the whole definition,
    // so the triggers go one at a time, the policy's first; a schtasks that
    // cannot start or never finishes would not do better with fewer.
    const unsigned tries[] = {TRIGGER_DEVICES | TRIGGER_POLICY, TRIGGER_DEVICES, 0};
    const task_result made[] = {TASK_INSTALLED, TASK_NO_POLICY, TASK_TIMER_ONLY};
    for (size_t i = 0; i < countof(tries); i++) {
        attempt a = create_from(exe, file, start, tries[i]);
        if (a == CREATED) return made[i];
        if (a == FAILED) break;
    }
    return TASK_FAILED;
}

}  // namespace

task_result task_install(int* code) {
    g_last_rc = -1;
    task_result r = install();
    if (code) *code = g_last_rc;
    return r;
}

namespace {

// schtasks <verb> /TN "Quillfen-Enforce" [<tail>]: 1 when it ran to its end,
// with its exit code in *rc.
int schtasks_on_task(const char* verb, const char* tail, int* rc) {
    char16_t args[128] = {0};
    wcat8(args, countof(args), verb);
    wcat8(args, countof(args), " /TN ");
    add_arg(args, countof(args), TASK_NAME);
    wcat8(args, countof(args), tail);
    return run_silent("schtasks.exe", args, rc);
}

}  // namespace

int task_remove(void) {
    int rc;
    return schtasks_on_task("/Delete", " /F", &rc) && rc == 0;
}

task_state task_query(void) {
    int rc;
    if (!schtasks_on_task("/Query", "", &rc)) return TASK_QUERY_FAILED;
    return rc == 0 ? TASK_PRESENT : rc == 1 ? TASK_ABSENT : TASK_QUERY_FAILED;
}
