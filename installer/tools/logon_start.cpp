#include "installer/tools/logon_start.h"

#include <algorithm>
#include <cwctype>
#include <iterator>
#include <utility>

namespace kx7::installer {

const wchar_t kLogonTaskName[] = L"KX7 HostPair Auto Connector";
const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kRunValueName[] = L"StonevaultStartupAgent";

namespace {

// A folder name may hold '&' and quotes, which XML text may not hold as they are.
std::wstring Escaped(const std::wstring& text) {
    static const std::pair<wchar_t, const wchar_t*> kEntities[] = {
        {L'&', L"&amp;"}, {L'<', L"&lt;"}, {L'>', L"&gt;"}, {L'"', L"&quot;"}, {L'\'', L"&apos;"}};
    std::wstring out;
    for (const wchar_t c : text) {
        const auto* entity = std::find_if(std::begin(kEntities), std::end(kEntities),
                                          [c](const auto& e) { return e.first == c; });
        out += entity != std::end(kEntities) ? std::wstring(entity->second) : std::wstring(1, c);
    }
    return out;
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
    }
    return text;
}

std::wstring AgentPath(const std::wstring& folder) {
    return folder + L"\\StonevaultStartupAgent.exe";
}

}  // namespace

std::wstring LogonTaskXml(const std::wstring& folder) {
    const std::wstring dir = Escaped(folder);
    // - The trigger names no user, so it fires at every user's log-on; the principal is the
    //   Administrators group, so the task runs as whoever logged on if they are an
    //   administrator, in their session, only while they are logged on, and with their
    //   elevated token (HighestAvailable) without a prompt. For a standard user it does not
    //   run at all: started without rights, the agent would ask for an administrator's
    //   password at every log-on, and a connector started with it would read that
    //   administrator's record, not the user's.
    // - No time limit and no battery rules: the agent ends by itself once it has started the
    //   connector, and a laptop on battery needs its drive as much.
    // - Parallel: users who log on at the same time each get their own start.
    // - Priority 4 is a normal process priority class; the scheduler's default (7) would pass
    //   below-normal priority on to the connector that the agent starts.
    // - The agent takes everything after /S: as the path, spaces and all, so it stays
    //   unquoted and last.
    // - The description names the agent, so that an administrator sees which copy the task
    //   starts (and so that an uninstaller can tell whose task it is even where the scheduler
    //   keeps only the description).
    return L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
           L"<Task version=\"1.2\" "
           L"xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
           L"  <RegistrationInfo>\r\n"
           L"    <Author>Stonevault</Author>\r\n"
           L"    <Description>Starts the KX7 HostPair Auto Connector with administrator rights "
           L"when a user logs on, through " +
           Escaped(AgentPath(folder)) +
           L".</Description>\r\n"
           L"  </RegistrationInfo>\r\n"
           L"  <Triggers>\r\n"
           L"    <LogonTrigger>\r\n"
           L"      <Enabled>true</Enabled>\r\n"
           L"    </LogonTrigger>\r\n"
           L"  </Triggers>\r\n"
           L"  <Principals>\r\n"
           L"    <Principal id=\"Administrators\">\r\n"
           L"      <GroupId>S-1-5-32-544</GroupId>\r\n"
           L"      <RunLevel>HighestAvailable</RunLevel>\r\n"
           L"    </Principal>\r\n"
           L"  </Principals>\r\n"
           L"  <Settings>\r\n"
           L"    <MultipleInstancesPolicy>Parallel</MultipleInstancesPolicy>\r\n"
           L"    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>\r\n"
           L"    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>\r\n"
           L"    <ExecutionTimeLimit>PT0S</ExecutionTimeLimit>\r\n"
           L"    <Priority>4</Priority>\r\n"
           L"    <Enabled>true</Enabled>\r\n"
           L"  </Settings>\r\n"
           L"  <Actions Context=\"Administrators\">\r\n"
           L"    <Exec>\r\n"
           L"      <Command>\"" +
           Escaped(AgentPath(folder)) +
           L"\"</Command>\r\n"
           L"      <Arguments>/D:3000 /HIDE /S:" +
           dir +
           L"\\KX7AutoConnector.exe</Arguments>\r\n"
           L"      <WorkingDirectory>" +
           dir +
           L"</WorkingDirectory>\r\n"
           L"    </Exec>\r\n"
           L"  </Actions>\r\n"
           L"</Task>\r\n";
}

std::wstring LogonRunCommand(const std::wstring& folder) {
    return L"\"" + AgentPath(folder) + L"\" /D:3000 /HIDE /S:" + folder + L"\\KX7AutoConnector.exe";
}

bool StartsAgentIn(const std::wstring& text, const std::wstring& folder) {
    const std::wstring lower = Lower(text);
    return lower.find(Lower(AgentPath(folder))) != std::wstring::npos ||
           lower.find(Lower(Escaped(AgentPath(folder)))) != std::wstring::npos;
}

}  // namespace kx7::installer
