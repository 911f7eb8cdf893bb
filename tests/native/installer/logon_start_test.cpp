// What the installers register as the log-on start, checked as text: the scheduler of the test
// system keeps too little of a task to read it back. And which service of our name is ours.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "installer/tools/host_pair_service.h"
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

// The installers stop, change and remove the service only where it starts our program in the
// folder they install into; any other command line is another program's.
TEST(HostPairService, OnlyTheServiceProgramInTheFolderIsOurs) {
    const wchar_t kFolder[] = L"C:\\Program Files\\Stonevault\\KX7 HostPair";
    EXPECT_EQ(ServiceCommandLine(kFolder),
              L"\"C:\\Program Files\\Stonevault\\KX7 HostPair\\KX7HostPairService.exe\"");
    const struct {
        const wchar_t* commandLine;
        bool ours;
    } cases[] = {
        {L"\"C:\\Program Files\\Stonevault\\KX7 HostPair\\KX7HostPairService.exe\"", true},
        {L"\"c:\\program files\\stonevault\\kx7 hostpair\\kx7hostpairservice.EXE\"", true},
        {L"C:\\Program Files\\Stonevault\\KX7 HostPair\\KX7HostPairService.exe", true},
        // Another copy, a look-alike folder, another program, arguments we never register.
        {L"\"C:\\My Apps\\KX7\\KX7HostPairService.exe\"", false},
        {L"\"C:\\Program Files\\Stonevault\\KX7 HostPair Old\\KX7HostPairService.exe\"", false},
        {L"\"C:\\Program Files\\Stonevault\\KX7 HostPair\\other.exe\"", false},
        {L"C:\\Program Files\\Stonevault\\KX7 HostPair\\KX7HostPairService.exe -x", false},
        {L"\"C:\\Program Files\\Stonevault\\KX7 HostPair\\KX7HostPairService.exe", false},
        {L"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ServiceRunsFrom(c.commandLine, kFolder), c.ours)
            << std::string(c.commandLine, c.commandLine + wcslen(c.commandLine));
    }
    EXPECT_FALSE(ServiceRunsFrom(L"\"\\KX7HostPairService.exe\"", L""));
}

}  // namespace
}  // namespace kx7::installer
