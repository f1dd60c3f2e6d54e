// The task definition: well-formed XML that a real parser reads back with
// every element the task needs, whatever the program's path holds.
#include <expat.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "task/task.h"

namespace {

// Element paths ("Task/Settings/Enabled") to their text, as a parser sees them.
struct Parsed {
    bool ok = false;
    std::map<std::string, std::string> text;
    std::map<std::string, std::string> attr;  // "Task@version"
    std::vector<std::string> stack;

    std::string path() const {
        std::string p;
        for (const auto& s : stack) p += (p.empty() ? "" : "/") + s;
        return p;
    }
};

Parsed parse(const std::u16string& xml) {
    std::string bytes = "\xFF\xFE";  // as written: UTF-16 LE with its mark
    for (char16_t c : xml) bytes += (char)(c & 0xFF), bytes += (char)(c >> 8);
    Parsed p;
    XML_Parser x = XML_ParserCreate(nullptr);
    XML_SetUserData(x, &p);
    XML_SetElementHandler(
        x,
        [](void* u, const XML_Char* name, const XML_Char** atts) {
            auto* p = static_cast<Parsed*>(u);
            p->stack.push_back(name);
            for (int i = 0; atts[i]; i += 2) p->attr[p->path() + "@" + atts[i]] = atts[i + 1];
        },
        [](void* u, const XML_Char*) { static_cast<Parsed*>(u)->stack.pop_back(); });
    XML_SetCharacterDataHandler(x, [](void* u, const XML_Char* s, int n) {
        auto* p = static_cast<Parsed*>(u);
        std::string t(s, (size_t)n);
        if (t.find_first_not_of(" \r\n") != std::string::npos) p->text[p->path()] += t;
    });
    p.ok = XML_Parse(x, bytes.data(), (int)bytes.size(), 1) == XML_STATUS_OK;
    XML_ParserFree(x);
    return p;
}

std::u16string build(const char16_t* exe, unsigned triggers) {
    static char16_t out[32768];
    const int start[6] = {2026, 12, 8, 9, 5, 3};
    size_t n = task_xml(out, 32768, exe, start, triggers);
    EXPECT_GT(n, 0u);
    return std::u16string(out, n);
}

TEST(TaskXml, EveryElementReadsBackForAnAwkwardPath) {
    Parsed p = parse(build(u"C:\\R&D <x>\\it's 工具\\quillfen.exe", TRIGGER_DEVICES));
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.attr["Task@version"], "1.2");
    EXPECT_EQ(p.attr["Task@xmlns"], "http://schemas.microsoft.com/windows/2004/02/mit/task");
    const std::map<std::string, std::string> want = {
        {"Task/RegistrationInfo/Author", "Quillfen"},
        {"Task/RegistrationInfo/Description", "删除拉黑名单中重新出现的设备（Quillfen）"},
        {"Task/Principals/Principal/UserId", "S-1-5-18"},
        {"Task/Principals/Principal/RunLevel", "HighestAvailable"},
        {"Task/Triggers/TimeTrigger/Enabled", "true"},
        {"Task/Triggers/TimeTrigger/StartBoundary", "2026-12-08T09:05:03"},
        {"Task/Triggers/TimeTrigger/Repetition/Interval", "PT5M"},
        {"Task/Triggers/TimeTrigger/Repetition/StopAtDurationEnd", "false"},
        {"Task/Triggers/EventTrigger/Enabled", "true"},
        {"Task/Triggers/EventTrigger/Subscription",
         "<QueryList><Query Id=\"0\" Path=\"Microsoft-Windows-Kernel-PnP/Configuration\">"
         "<Select Path=\"Microsoft-Windows-Kernel-PnP/Configuration\">*[System[(EventID=400 or EventID=410)]]"
         "</Select></Query></QueryList>"},
        {"Task/Triggers/EventTrigger/Delay", "PT3S"},
        {"Task/Settings/MultipleInstancesPolicy", "Queue"},
        {"Task/Settings/DisallowStartIfOnBatteries", "false"},
        {"Task/Settings/StopIfGoingOnBatteries", "false"},
        {"Task/Settings/AllowHardTerminate", "true"},
        {"Task/Settings/StartWhenAvailable", "true"},
        {"Task/Settings/Enabled", "true"},
        {"Task/Settings/ExecutionTimeLimit", "PT1H"},
        {"Task/Actions/Exec/Command", "C:\\R&D <x>\\it's 工具\\quillfen.exe"},
        {"Task/Actions/Exec/Arguments", "--enforce"},
        {"Task/Actions/Exec/WorkingDirectory", "C:\\R&D <x>\\it's 工具"},
    };
    EXPECT_EQ(p.text, want);
    EXPECT_EQ(p.attr["Task/Principals/Principal@id"], p.attr["Task/Actions@Context"]);
}

TEST(TaskXml, TheFallbackHasTheTimerAloneAndARootFolderKeepsItsBackslash) {
    Parsed p = parse(build(u"C:\\quillfen.exe", 0));
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.text.count("Task/Triggers/EventTrigger/Subscription"), 0u);
    EXPECT_EQ(p.text["Task/Triggers/TimeTrigger/Repetition/Interval"], "PT5M");
    EXPECT_EQ(p.text["Task/Actions/Exec/WorkingDirectory"], "C:\\");
    static char16_t small[64];
    const int start[6] = {2026, 1, 1, 0, 0, 0};
    EXPECT_EQ(task_xml(small, 64, u"C:\\quillfen.exe", start, TRIGGER_DEVICES), 0u);
    EXPECT_EQ(small[0], 0);
}

}  // namespace
