// What the installers register as the log-on start, checked as text: the scheduler of the test
// system keeps too little of a task to read it back.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "installer/tools/logon_start.h"
#include "startup_agent/agent_arguments.h"

namespace kx7::installer {
namespace {

bool Has(const std::wstring& text, const std::wstring& part) {
    return text.find(part) != std::wstring::npos;
}

TEST(LogonStart, TaskStartsTheAgentElevatedAtEveryLogOnWithoutLimits) {
    const std::wstring xml = LogonTaskXml(L"C:\\Tools & Co\\KX7");
    EXPECT_TRUE(Has(xml,
                    L"<Triggers>\r\n    <LogonTrigger>\r\n      <Enabled>true</Enabled>\r\n"
                    L"    </LogonTrigger>\r\n  </Triggers>"));
    EXPECT_TRUE(Has(xml,
                    L"<Principal id=\"Administrators\">\r\n"
                    L"      <GroupId>S-1-5-32-544</GroupId>\r\n"
                    L"      <RunLevel>HighestAvailable</RunLevel>"));
    for (const wchar_t* setting :
         {L"<ExecutionTimeLimit>PT0S</ExecutionTimeLimit>",
          L"<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>",
          L"<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>", L"<Priority>4</Priority>"}) {
        EXPECT_TRUE(Has(xml, setting)) << std::string(setting, setting + wcslen(setting));
    }
    EXPECT_TRUE(Has(xml,
                    L"<Actions Context=\"Administrators\">\r\n    <Exec>\r\n"
                    L"      <Command>\"C:\\Tools &amp; Co\\KX7\\StonevaultStartupAgent.exe\""
                    L"</Command>\r\n"
                    L"      <Arguments>/D:3000 /HIDE /S:C:\\Tools &amp; Co\\KX7\\"
                    L"KX7AutoConnector.exe</Arguments>\r\n"
                    L"      <WorkingDirectory>C:\\Tools &amp; Co\\KX7</WorkingDirectory>"));
    EXPECT_FALSE(Has(xml, L"Tools & Co")) << "an unescaped '&' makes the XML invalid";
}

TEST(LogonStart, RunCommandAsTheAgentReadsIt) {
    const std::wstring command = LogonRunCommand(L"C:\\My Apps\\KX7");
    EXPECT_EQ(command,
              L"\"C:\\My Apps\\KX7\\StonevaultStartupAgent.exe\" /D:3000 /HIDE "
              L"/S:C:\\My Apps\\KX7\\KX7AutoConnector.exe");
    std::u16string arguments(command.begin() + command.find(L"/D:"), command.end());
    agent::AgentArguments parsed;
    ASSERT_EQ(agent::ParseAgentArguments(&arguments[0], &parsed), agent::AgentAction::kStart);
    EXPECT_EQ(parsed.nDelayMs, 3000);
    EXPECT_EQ(std::u16string(parsed.szPath), u"C:\\MY APPS\\KX7\\KX7AUTOCONNECTOR.EXE");
}

TEST(LogonStart, OnlyTheCopyInTheFolderOwnsItsLogOnStart) {
    const std::wstring runValue = LogonRunCommand(L"C:\\Program Files\\Stonevault\\KX7 HostPair");
    const std::wstring task = LogonTaskXml(L"C:\\A & B");
    // A scheduler that keeps only the description still tells whose task it is.
    const size_t from = task.find(L"<Description>");
    const std::wstring described = task.substr(from, task.find(L"</Description>") - from);
    const struct {
        const std::wstring* text;
        const wchar_t* folder;
        bool owns;
    } cases[] = {
        {&runValue, L"C:\\Program Files\\Stonevault\\KX7 HostPair", true},
        {&runValue, L"c:\\program files\\stonevault\\kx7 hostpair", true},
        {&runValue, L"C:\\My Apps\\KX7", false},
        {&runValue, L"C:\\Program Files\\Stonevault", false},
        {&task, L"C:\\A & B", true},
        {&described, L"C:\\a & b", true},
        {&task, L"C:\\A", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StartsAgentIn(*c.text, c.folder), c.owns)
            << std::string(c.folder, c.folder + wcslen(c.folder));
    }
}

}  // namespace
}  // namespace kx7::installer
