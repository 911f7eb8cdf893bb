// The installers built by this tree, run silently under Wine: where the programs and the log-on
// entry go, that the entry starts the connector through the agent, that the MSI replaces an
// older version and refuses to replace a newer one, that uninstalling ends the connector and
// removes everything but the user's own data, and that the service mode's service serves a
// simulated drive and gives way to the log-on start when installed again without it.
#include <windows.h>
#include <taskschd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/win32/sim_pipe_win.h"
#include "startup_agent/agent_arguments.h"
#include "tests/e2e/process_driver_win.h"

namespace kx7::e2e {
namespace {

const wchar_t kSetupName[] = L"" KX7_SETUP_NAME;
const wchar_t kMsiName[] = L"" KX7_MSI_NAME;
const wchar_t kNextMsiName[] = L"" KX7_MSI_NEXT_NAME;
const wchar_t kNextVersion[] = L"" KX7_MSI_NEXT_VERSION;
const wchar_t kSimServiceMsiName[] = L"" KX7_MSI_SIM_SERVICE_NAME;
const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kRunValue[] = L"StonevaultStartupAgent";
const wchar_t kUninstallRoot[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const wchar_t kUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KX7HostPair";
const wchar_t kEventSourceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\KX7 HostPair";
const wchar_t kSettingsKey[] = L"SOFTWARE\\Stonevault\\AutoConn";
const wchar_t kRecordKey[] = L"SOFTWARE\\Stonevault\\KX7EntryPCAgent\\PCInfo";
const wchar_t kConnectorClass[] = L"KX7AutoConnector_Class";
const wchar_t kConnectorTitle[] = L"KX7 HostPair Auto Connector";
constexpr DWORD kSetupTimeoutMs = 60000;
// The agent waits 3 s, the connector 2 s more before its window settles.
constexpr DWORD kConnectorStartTimeoutMs = 30000;
constexpr DWORD kUninstallTimeoutMs = 60000;

// Program Files as a 32-bit package sees it: "Program Files (x86)" on 64-bit Windows.
std::wstring ProgramFiles32() {
    wchar_t path[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"ProgramFiles(x86)", path, MAX_PATH) == 0) {
        GetEnvironmentVariableW(L"ProgramFiles", path, MAX_PATH);
    }
    return path;
}

// Program Files as the test itself sees it, as does the NSIS installer built with it: the shipped
// 32-bit one and the x86_64 build's 64-bit copy alike.
std::wstring ProgramFilesOfThisBuild() {
    wchar_t path[MAX_PATH] = {};
    GetEnvironmentVariableW(L"ProgramFiles", path, MAX_PATH);
    return path;
}
const std::wstring kPublisherDir = ProgramFilesOfThisBuild() + L"\\Stonevault";
const std::wstring kInstallDir = kPublisherDir + L"\\KX7 HostPair";

// The registered log-on task's definition, as the Task Scheduler gives it back.
std::wstring LogonTaskXml() {
    std::wstring result = L"<absent>";
    ITaskService* service = nullptr;
    ITaskFolder* root = nullptr;
    IRegisteredTask* task = nullptr;
    VARIANT none;
    VariantInit(&none);
    BSTR rootPath = SysAllocString(L"\\");
    BSTR name = SysAllocString(L"KX7 HostPair Auto Connector");
    BSTR xml = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ITaskService, reinterpret_cast<void**>(&service))) &&
        SUCCEEDED(service->Connect(none, none, none, none)) &&
        SUCCEEDED(service->GetFolder(rootPath, &root)) && SUCCEEDED(root->GetTask(name, &task)) &&
        SUCCEEDED(task->get_Xml(&xml))) {
        result = xml;
    }
    SysFreeString(xml);
    SysFreeString(name);
    SysFreeString(rootPath);
    for (IUnknown* object : {static_cast<IUnknown*>(task), static_cast<IUnknown*>(root),
                             static_cast<IUnknown*>(service)}) {
        if (object != nullptr) {
            object->Release();
        }
    }
    return result;
}

// Both installers are 32-bit packages: on 64-bit Windows their machine-wide keys are in the
// 32-bit view, whichever program reads them. Strings come back unexpanded, numbers in decimal.
std::wstring MachineText(const wchar_t* key, const wchar_t* name) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | KEY_WOW64_32KEY, &h) !=
        ERROR_SUCCESS) {
        return L"<absent>";
    }
    DWORD size = 0;
    DWORD type = 0;
    const DWORD kinds = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND | RRF_RT_REG_DWORD;
    std::wstring result = L"<absent>";
    if (RegGetValueW(h, nullptr, name, kinds, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
        RegGetValueW(h, nullptr, name, kinds, nullptr, text.data(), &size);
        result = type == REG_DWORD ? std::to_wstring(*reinterpret_cast<DWORD*>(text.data()))
                                   : std::wstring(text.data());
    }
    RegCloseKey(h);
    return result;
}

bool MachineKeyExists(const wchar_t* key) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | KEY_WOW64_32KEY, &h) !=
        ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(h);
    return true;
}

// The Add/Remove Programs entries that show the connector's name, by key path.
std::vector<std::wstring> ProductEntries() {
    std::vector<std::wstring> entries;
    HKEY root = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallRoot, 0, KEY_READ | KEY_WOW64_32KEY, &root) !=
        ERROR_SUCCESS) {
        return entries;
    }
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(root, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        const std::wstring key = std::wstring(kUninstallRoot) + L"\\" + name;
        if (MachineText(key.c_str(), L"DisplayName") == L"KX7 HostPair Auto Connector") {
            entries.push_back(key);
        }
    }
    RegCloseKey(root);
    return entries;
}

std::vector<char> FileBytes(const std::wstring& path) {
    std::vector<char> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return bytes;
    }
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got != 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    CloseHandle(file);
    return bytes;
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void PlantUserText(const wchar_t* key, const wchar_t* name, const std::wstring& text) {
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, key, name, REG_SZ, text.c_str(),
                              static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

std::wstring UserText(const wchar_t* key, const wchar_t* name) {
    wchar_t text[256] = {};
    DWORD size = sizeof(text);
    if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, text, &size) !=
        ERROR_SUCCESS) {
        return L"<absent>";
    }
    return text;
}

// A registered PC, so that the connector's first pass ends without a message that would hold
// it up; and a setting of the user's own.
void PlantUserData() {
    DeleteUserKey(L"SOFTWARE\\Stonevault");
    PlantUserText(kRecordKey, L"NICDescription", L"eth0");
    PlantUserText(kRecordKey, L"MACID", L"00-00-00-00-00-00");
    PlantUserText(kRecordKey, L"DIskSerial", L"");
    PlantUserText(kRecordKey, L"ComputerName", L"KX7-INSTALL-PC");
    PlantUserText(kRecordKey, L"OSKey", L"BBBBB-BBBBB-BBBBB-BBBBB-BBBBB");
    PlantUserText(kRecordKey, L"CPUID", L"306C3");
    ASSERT_TRUE(WriteUserDword(kSettingsKey, L"Interval", 7));
}

void ExpectUserDataKept() {
    DWORD type = 0;
    DWORD interval = 0;
    EXPECT_TRUE(ReadUserDword(kSettingsKey, L"Interval", &type, &interval));
    EXPECT_EQ(interval, 7u);
    EXPECT_EQ(UserText(kRecordKey, L"ComputerName"), L"KX7-INSTALL-PC");
    EXPECT_EQ(UserText(kRecordKey, L"MACID"), L"00-00-00-00-00-00");
}

// The log-on entry's arguments as the agent's wWinMain receives them: everything after the
// quoted program name and the blanks that follow it.
std::u16string AgentArgumentsOf(const std::wstring& entry, std::wstring* program) {
    if (entry.empty() || entry[0] != L'"' || entry.find(L'"', 1) == std::wstring::npos) {
        return std::u16string();
    }
    const size_t close = entry.find(L'"', 1);
    *program = entry.substr(1, close - 1);
    size_t start = close + 1;
    while (start < entry.size() && entry[start] == L' ') {
        ++start;
    }
    return std::u16string(entry.begin() + static_cast<std::ptrdiff_t>(start), entry.end());
}

// What both installers put in DIR on a system from Vista on: the built programs, and the
// log-on task. This scheduler keeps a task only in part: its description names the agent it
// starts (the definition's text is tested natively).
void ExpectProgramsAndLogOnTaskIn(const std::wstring& dir) {
    for (const wchar_t* program :
         {L"KX7AutoConnector.exe", L"StonevaultStartupAgent.exe", L"KX7HostCheck.exe"}) {
        SCOPED_TRACE(program);
        const std::vector<char> built = FileBytes(ProgramPath(program));
        ASSERT_FALSE(built.empty());
        EXPECT_TRUE(FileBytes(dir + L"\\" + program) == built) << "not the built program";
    }
    EXPECT_EQ(MachineText(kRunKey, kRunValue), L"<absent>");
    EXPECT_EQ(MachineText(kEventSourceKey, L"EventMessageFile"), dir + L"\\KX7AutoConnector.exe");
    EXPECT_EQ(MachineText(kEventSourceKey, L"TypesSupported"), L"7");
    EXPECT_NE(LogonTaskXml().find(L"when a user logs on, through " + dir +
                                  L"\\StonevaultStartupAgent.exe.</Description>"),
              std::wstring::npos)
        << "no log-on task for this folder";
}

// What both installers' tests share: no connector running before, the user's data planted, and
// the connector a test started ended and forgotten afterwards.
class InstalledConnector : public ::testing::Test {
  protected:
    void TearDown() override {
        if (process_ != nullptr) {
            TerminateProcess(process_, 99);
            CloseHandle(process_);
        }
        DeleteUserKey(L"SOFTWARE\\Stonevault");
    }

    // The connector must have ended as by Exit: WM_CLOSE to its window, exit code 0.
    void ExpectConnectorEnded() {
        ASSERT_EQ(WaitForSingleObject(process_, 0), WAIT_OBJECT_0) << "the connector still runs";
        DWORD code = 1234;
        GetExitCodeProcess(process_, &code);
        EXPECT_EQ(code, 0u) << "not ended as by Exit";
        CloseHandle(process_);
        process_ = nullptr;
    }

    // Removed: the connector ended as by Exit, DIR and its publisher's folder gone with the
    // log-on start, and the user's own data kept.
    void ExpectRemoved(const std::wstring& dir, const std::wstring& publisherDir) {
        ExpectConnectorEnded();
        EXPECT_FALSE(Exists(dir));
        EXPECT_FALSE(Exists(publisherDir));
        EXPECT_EQ(MachineText(kRunKey, kRunValue), L"<absent>");
        EXPECT_EQ(LogonTaskXml(), L"<absent>");
        EXPECT_FALSE(MachineKeyExists(kEventSourceKey));
        ExpectUserDataKept();
    }

    HANDLE process_ = nullptr;  // the installed connector, when one was started
};

// The NSIS installer: where a silent install puts everything, then the log-on start. The
// x86_64 build runs a 64-bit copy of it, which keeps the shipped one's registry view.
const std::wstring kOtherDir = L"C:\\My Apps\\KX7";
const std::wstring kStaleDir = L"C:\\Old KX7";

// Runs PROGRAM with ARGUMENTS to its end; its exit code, or 0xFFFFFFFF.
DWORD RunToEnd(const std::wstring& program, const std::wstring& arguments,
               DWORD timeoutMs = kSetupTimeoutMs) {
    ChildProcess child;
    DWORD code = 0xFFFFFFFF;
    if (child.Start(program, arguments) && !child.WaitExit(timeoutMs, &code)) {
        child.Kill();
    }
    return code;
}

// An uninstaller run in place (_?=) waits for its work instead of handing it to a copy of
// itself, and leaves itself behind.
DWORD UninstallInPlace(const std::wstring& dir) {
    const DWORD code = RunToEnd(dir + L"\\Uninstall.exe", L"/S _?=" + dir);
    DeleteFileW((dir + L"\\Uninstall.exe").c_str());
    RemoveDirectoryW(dir.c_str());
    return code;
}

// What a failed earlier run in the same prefix may have left installed by the NSIS installer.
void RemoveSetupCopies() {
    for (const std::wstring& dir : {kInstallDir, kOtherDir, kStaleDir}) {
        if (Exists(dir + L"\\Uninstall.exe")) {
            UninstallInPlace(dir);
        }
    }
    RemoveDirectoryW(kPublisherDir.c_str());
}

class Installer : public InstalledConnector {
  protected:
    void SetUp() override {
        ASSERT_EQ(FindWindowW(kConnectorClass, kConnectorTitle), nullptr)
            << "a connector is already running";
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        RemoveSetupCopies();
        ASSERT_FALSE(MachineKeyExists(kUninstallKey)) << "cannot remove an earlier installation";
        PlantUserData();
    }
    void TearDown() override {
        CoUninitialize();
        InstalledConnector::TearDown();
    }

    // The programs in DIR, and the log-on start and Add/Remove Programs entry naming them.
    void ExpectInstalledAt(const std::wstring& dir) {
        ExpectProgramsAndLogOnTaskIn(dir);
        EXPECT_TRUE(Exists(dir + L"\\Uninstall.exe"));
        EXPECT_EQ(MachineText(kUninstallKey, L"DisplayName"), L"KX7 HostPair Auto Connector");
        EXPECT_EQ(MachineText(kUninstallKey, L"DisplayVersion"), L"2.0.5.3");
        EXPECT_EQ(MachineText(kUninstallKey, L"Publisher"), L"Stonevault");
        EXPECT_EQ(MachineText(kUninstallKey, L"InstallLocation"), dir);
        EXPECT_EQ(MachineText(kUninstallKey, L"DisplayIcon"), dir + L"\\KX7AutoConnector.exe,-128");
        EXPECT_EQ(MachineText(kUninstallKey, L"UninstallString"),
                  L"\"" + dir + L"\\Uninstall.exe\"");
        EXPECT_EQ(MachineText(kUninstallKey, L"QuietUninstallString"),
                  L"\"" + dir + L"\\Uninstall.exe\" /S");
    }
};

TEST_F(Installer, SilentInstallAndUninstallWithTheConnectorRunning) {
    ASSERT_EQ(RunToEnd(ProgramPath(kSetupName), L"/S"), 0u);
    ExpectInstalledAt(kInstallDir);

    // --- Log on: the task's command starts the agent, the agent the connector ----------------
    std::wstring commandLine = L"\"" + kInstallDir + L"\\StonevaultStartupAgent.exe\" /D:3000 " +
                               L"/HIDE /S:" + kInstallDir + L"\\KX7AutoConnector.exe";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION agentInfo = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &agentInfo));
    CloseHandle(agentInfo.hThread);
    CloseHandle(agentInfo.hProcess);
    const HWND window =
        WaitForWindow(kConnectorClass, kConnectorTitle, 0, kConnectorStartTimeoutMs);
    ASSERT_NE(window, nullptr) << "the log-on start did not start the connector";
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    process_ = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE,
                           FALSE, pid);
    ASSERT_NE(process_, nullptr);

    // --- Uninstall ----------------------------------------------------------------------------
    // The uninstaller hands over to a copy of itself outside the folder and ends; the copy
    // removes the Add/Remove Programs entry last.
    EXPECT_EQ(RunToEnd(kInstallDir + L"\\Uninstall.exe", L"/S"), 0u);
    EXPECT_TRUE(WaitUntil([] { return !MachineKeyExists(kUninstallKey); }, kUninstallTimeoutMs))
        << "the uninstall did not finish";

    ExpectRemoved(kInstallDir, kPublisherDir);
}

// Installing again into another folder, in both orders, leaves one copy whose log-on start and
// Add/Remove Programs entry are its own; an uninstaller left in a third folder takes neither.
TEST_F(Installer, InstallingIntoAnotherFolderReplacesTheEarlierCopy) {
    ASSERT_EQ(RunToEnd(ProgramPath(kSetupName), L"/S"), 0u);
    ASSERT_EQ(RunToEnd(ProgramPath(kSetupName), L"/S /D=" + kOtherDir), 0u);
    ExpectInstalledAt(kOtherDir);
    EXPECT_FALSE(Exists(kInstallDir)) << "the earlier copy stayed";

    // A copy's uninstaller in a folder that is no longer the installed one.
    ASSERT_TRUE(CreateDirectoryW(kStaleDir.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW((kOtherDir + L"\\Uninstall.exe").c_str(),
                          (kStaleDir + L"\\Uninstall.exe").c_str(), FALSE));
    EXPECT_EQ(UninstallInPlace(kStaleDir), 0u);
    ExpectInstalledAt(kOtherDir);

    // A folder that holds what an install does not put there is refused before anything is
    // written or removed.
    const std::wstring notes = kStaleDir + L"\\notes.txt";
    ASSERT_TRUE(CreateDirectoryW(kStaleDir.c_str(), nullptr));
    CloseHandle(CreateFileW(notes.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    EXPECT_EQ(RunToEnd(ProgramPath(kSetupName), L"/S /D=" + kStaleDir), 2u);
    EXPECT_FALSE(Exists(kStaleDir + L"\\KX7AutoConnector.exe"));
    ExpectInstalledAt(kOtherDir);
    DeleteFileW(notes.c_str());
    RemoveDirectoryW(kStaleDir.c_str());

    // Without /D= an install goes where the product already is; with it, the copy moves.
    ASSERT_EQ(RunToEnd(ProgramPath(kSetupName), L"/S"), 0u);
    ExpectInstalledAt(kOtherDir);
    ASSERT_EQ(RunToEnd(ProgramPath(kSetupName), L"/S /D=" + kInstallDir), 0u);
    ExpectInstalledAt(kInstallDir);
    EXPECT_FALSE(Exists(kOtherDir)) << "the earlier copy stayed";

    EXPECT_EQ(UninstallInPlace(kInstallDir), 0u);
    EXPECT_FALSE(MachineKeyExists(kUninstallKey));
    EXPECT_EQ(LogonTaskXml(), L"<absent>");
    ExpectUserDataKept();
}

// --- The MSI -----------------------------------------------------------------------------------

constexpr DWORD kMsiTimeoutMs = 90000;

// Which Windows version Wine reports to the installer service: "winxp64", or "" for the
// prefix's own (Windows 7).
void ReportToInstaller(const wchar_t* version) {
    const wchar_t key[] = L"Software\\Wine\\AppDefaults\\msiexec.exe";
    if (*version == L'\0') {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"Version");
        return;
    }
    RegSetKeyValueW(HKEY_CURRENT_USER, key, L"Version", REG_SZ, version,
                    static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t)));
}
constexpr DWORD kNewerVersionInstalled = 1603;  // the launch condition refuses: a fatal error

// msiexec ARGUMENTS with a verbose log beside the test, for a failure's post-mortem.
DWORD RunMsiexec(const std::wstring& arguments, const wchar_t* logName) {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    return RunToEnd(std::wstring(system) + L"\\msiexec.exe",
                    arguments + L" /qn /l*v \"" + ProgramPath(logName) + L"\"", kMsiTimeoutMs);
}

class Msi : public InstalledConnector {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ReportToInstaller(L"");
        ASSERT_EQ(FindWindowW(kConnectorClass, kConnectorTitle), nullptr)
            << "a connector is already running";
        // What a failed earlier run in the same prefix may have left installed.
        RemoveSetupCopies();
        RunMsiexec(L"/x \"" + ProgramPath(kNextMsiName) + L"\"", L"msi-leftover-next.log");
        RunMsiexec(L"/x \"" + ProgramPath(kMsiName) + L"\"", L"msi-leftover.log");
        ASSERT_TRUE(ProductEntries().empty()) << "cannot remove an earlier installation";
        PlantUserData();
    }
    // Starts the installed connector and waits for its window.
    void StartConnector() {
        std::wstring line = L"\"" + dir_ + L"\\KX7AutoConnector.exe\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                   &startup, &info));
        CloseHandle(info.hThread);
        if (process_ != nullptr) {
            CloseHandle(process_);
        }
        process_ = info.hProcess;
        ASSERT_NE(WaitForWindow(kConnectorClass, kConnectorTitle, info.dwProcessId,
                                kConnectorStartTimeoutMs),
                  nullptr);
    }

    void TearDown() override {
        ReportToInstaller(L"");
        CoUninitialize();
        InstalledConnector::TearDown();
    }

    // Exactly one Add/Remove Programs entry, of this version, and everything it installs.
    void ExpectInstalled(const wchar_t* version) {
        const std::vector<std::wstring> entries = ProductEntries();
        ASSERT_EQ(entries.size(), 1u) << "not exactly one Add/Remove Programs entry";
        const wchar_t* entry = entries[0].c_str();
        EXPECT_EQ(MachineText(entry, L"DisplayVersion"), version);
        EXPECT_EQ(MachineText(entry, L"Publisher"), L"Stonevault");
        EXPECT_EQ(MachineText(entry, L"InstallLocation"), dir_ + L"\\");
        EXPECT_EQ(MachineText(entry, L"UninstallString").rfind(L"MsiExec.exe /X{", 0), 0u)
            << "not removed by the installer service";

        ExpectProgramsAndLogOnTaskIn(dir_);
    }

    const std::wstring publisherDir_ = ProgramFiles32() + L"\\Stonevault";
    const std::wstring dir_ = publisherDir_ + L"\\KX7 HostPair";
};

TEST_F(Msi, InstallUpgradeRefuseDowngradeAndRemoveWithTheConnectorRunning) {
    const std::wstring package = L"\"" + ProgramPath(kMsiName) + L"\"";
    const std::wstring nextPackage = L"\"" + ProgramPath(kNextMsiName) + L"\"";

    ASSERT_EQ(RunMsiexec(L"/i " + package, L"msi-install.log"), 0u);
    ExpectInstalled(L"" KX7_VERSION);

    // The same package again is the same product: nothing to do, and the connector is left
    // alone.
    ASSERT_NO_FATAL_FAILURE(StartConnector());
    ASSERT_EQ(RunMsiexec(L"/i " + package, L"msi-install-again.log"), 0u);
    ExpectInstalled(L"" KX7_VERSION);
    EXPECT_EQ(WaitForSingleObject(process_, 0), WAIT_TIMEOUT) << "ended for nothing";

    // A newer version replaces it, ending the connector before its file is replaced.
    ASSERT_EQ(RunMsiexec(L"/i " + nextPackage, L"msi-upgrade.log"), 0u);
    ExpectConnectorEnded();
    ExpectInstalled(kNextVersion);

    // The older one refuses to go over it and changes nothing.
    EXPECT_EQ(RunMsiexec(L"/i " + package, L"msi-downgrade.log"), kNewerVersionInstalled);
    ExpectInstalled(kNextVersion);

    ASSERT_NO_FATAL_FAILURE(StartConnector());
    ASSERT_EQ(RunMsiexec(L"/x " + nextPackage, L"msi-remove.log"), 0u);
    EXPECT_TRUE(ProductEntries().empty());
    ExpectRemoved(dir_, publisherDir_);
}

// The MSI replaces a copy of the NSIS installer's, and the NSIS installer one of the MSI's: one
// copy and one Add/Remove Programs entry at any time.
TEST_F(Msi, AndTheSetupProgramReplaceEachOther) {
    const std::wstring package = L"\"" + ProgramPath(kMsiName) + L"\"";
    ASSERT_EQ(RunToEnd(ProgramPath(kSetupName), L"/S"), 0u);
    ASSERT_EQ(RunMsiexec(L"/i " + package, L"msi-over-setup.log"), 0u);
    ExpectInstalled(L"" KX7_VERSION);
    EXPECT_FALSE(MachineKeyExists(kUninstallKey)) << "the setup program's entry stayed";
    if (kInstallDir != dir_) {
        EXPECT_FALSE(Exists(kInstallDir)) << "the setup program's copy stayed";
    }

    ASSERT_EQ(RunToEnd(ProgramPath(kSetupName), L"/S"), 0u);
    const std::vector<std::wstring> entries = ProductEntries();
    EXPECT_EQ(entries, std::vector<std::wstring>{kUninstallKey}) << "the MSI's entry stayed";
    EXPECT_EQ(MachineText(kUninstallKey, L"InstallLocation"), kInstallDir);
    EXPECT_NE(LogonTaskXml().find(L"through " + kInstallDir + L"\\StonevaultStartupAgent.exe."),
              std::wstring::npos);
    if (kInstallDir != dir_) {
        EXPECT_FALSE(Exists(dir_)) << "the MSI's copy stayed";
    }
    EXPECT_EQ(UninstallInPlace(kInstallDir), 0u);
    EXPECT_EQ(LogonTaskXml(), L"<absent>");
}

// Windows XP has no such task and no consent prompt: the Run value is the log-on start there.
TEST_F(Msi, OnWindowsXpTheLogOnStartIsTheRunValue) {
    ReportToInstaller(L"winxp64");
    const std::wstring package = L"\"" + ProgramPath(kMsiName) + L"\"";
    ASSERT_EQ(RunMsiexec(L"/i " + package, L"msi-install-xp.log"), 0u);
    const std::wstring entry = MachineText(kRunKey, kRunValue);
    EXPECT_EQ(entry, L"\"" + dir_ + L"\\StonevaultStartupAgent.exe\" /D:3000 /HIDE /S:" + dir_ +
                         L"\\KX7AutoConnector.exe");
    EXPECT_EQ(LogonTaskXml(), L"<absent>");
    // The entry as the agent reads it names the installed connector.
    std::wstring agentProgram;
    std::u16string arguments = AgentArgumentsOf(entry, &agentProgram);
    EXPECT_EQ(agentProgram, dir_ + L"\\StonevaultStartupAgent.exe");
    agent::AgentArguments parsed;
    ASSERT_EQ(agent::ParseAgentArguments(&arguments[0], &parsed), agent::AgentAction::kStart);
    const std::u16string target = parsed.szPath;
    EXPECT_TRUE(Exists(std::wstring(target.begin(), target.end()))) << "names no file";

    ASSERT_EQ(RunMsiexec(L"/x " + package, L"msi-remove-xp.log"), 0u);
    EXPECT_TRUE(ProductEntries().empty());
    EXPECT_EQ(MachineText(kRunKey, kRunValue), L"<absent>");
}

// --- The service mode -------------------------------------------------------------------------

// The program the service starts, or "<absent>"; whether it runs. The installer service quotes
// the path, or not (Wine's).
std::wstring ServiceProgram(bool* running) {
    *running = false;
    std::wstring result = L"<absent>";
    const SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    const SC_HANDLE service =
        OpenServiceW(manager, L"KX7HostPair", SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
    if (service != nullptr) {
        std::vector<BYTE> buffer(8192);
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
        DWORD needed = 0;
        SERVICE_STATUS status = {};
        if (QueryServiceConfigW(service, config, 8192, &needed)) {
            result = config->lpBinaryPathName;
            if (result.size() > 1 && result.front() == L'"' && result.back() == L'"') {
                result = result.substr(1, result.size() - 2);
            }
        }
        *running = QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return result;
}

// Wine's reports of the programs' events since OFFSET of the file: "ReportEventW" lines, each
// followed by its strings.
std::string EventReports(std::streamoff offset) {
    std::ifstream in(ProgramPath(L"kx7_installer_e2e_tests-eventlog.txt").c_str());
    in.seekg(offset);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(Msi, ServiceModeUnlocksForTheConsoleUserAndSwitchesWithTheLogOnStart) {
    const std::wstring package = L"\"" + ProgramPath(kSimServiceMsiName) + L"\"";
    const std::wstring serviceProgram = dir_ + L"\\KX7HostPairService.exe";
    // This user's record and the drives' bindings before the service reads them; a 1 s settle
    // wait from the machine's settings, which are the service's.
    std::string hosts[2];
    const wchar_t* drives[2] = {L"good KX7GOOD000000001", L"refusing KX7REFUSE0000101"};
    for (int i = 0; i < 2; ++i) {
        DWORD code = 1;
        ASSERT_TRUE(RunCapturingOutput(ProgramPath(L"kx7pair.exe"),
                                       L"this " + std::wstring(drives[i]) + L" --print", 30000,
                                       &hosts[i], &code));
        hosts[i] = LastLine(hosts[i]);
    }
    ASSERT_EQ(
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, kSettingsKey, L"Interval", REG_DWORD, "\2\0\0\0", 4),
        ERROR_SUCCESS);
    const std::streamoff eventsFrom = EventReports(0).size();

    ASSERT_EQ(RunMsiexec(L"/i " + package + L" KX7_START=service", L"msi-service.log"), 0u);
    bool running = false;
    EXPECT_EQ(ServiceProgram(&running), serviceProgram);
    EXPECT_TRUE(running);
    EXPECT_EQ(LogonTaskXml(), L"<absent>") << "both ways to start";

    // A paired drive unlocks; a refusing one stays locked and leaves its event.
    ASSERT_TRUE(WaitUntil([] { return sim::SendSimCommand("list").rfind("error", 0) != 0; }, 10000))
        << "the service serves no simulated bus";
    ASSERT_EQ(sim::SendSimCommand("add good id=KX7GOOD000000001 serial=GOOD0001"), "ok");
    ASSERT_EQ(sim::SendSimCommand(hosts[0]), "ok");
    ASSERT_EQ(sim::SendSimCommand("plug good"), "ok");
    EXPECT_TRUE(WaitUntil(
        [] { return sim::SendSimCommand("status good").find(" unlocked=1") != std::string::npos; },
        30000));
    ASSERT_EQ(sim::SendSimCommand("add refusing id=KX7REFUSE0000101 serial=REFUSE01"), "ok");
    ASSERT_EQ(sim::SendSimCommand(hosts[1]), "ok");
    ASSERT_EQ(sim::SendSimCommand("fault refusing hostpair=off"), "ok");
    ASSERT_EQ(sim::SendSimCommand("plug refusing"), "ok");
    EXPECT_TRUE(WaitUntil(
        [&] {
            return EventReports(eventsFrom)
                       .find(
                           "L\"The HostPair mode is disable. After "
                           "changing the KX7 setup, use.\"") != std::string::npos;
        },
        30000))
        << "no event of the refusal";

    // Stopped within the bound of a log-off.
    const ULONGLONG stopAt = GetTickCount64();
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    RunToEnd(std::wstring(system) + L"\\sc.exe", L"stop KX7HostPair");
    EXPECT_TRUE(WaitUntil([&] { return ServiceProgram(&running), !running; }, 10000));
    EXPECT_LT(GetTickCount64() - stopAt, 2500u) << "1.5 s and the manager's own time";

    // A repair, which any user may start (msiexec /fa, written out here for Wine's msiexec),
    // keeps the service; the log-on start replaces it only when asked for, and back.
    ASSERT_EQ(RunMsiexec(L"/i " + package + L" REINSTALL=ALL REINSTALLMODE=omus",
                         L"msi-service-repair.log"),
              0u);
    EXPECT_EQ(ServiceProgram(&running), serviceProgram);
    EXPECT_EQ(LogonTaskXml(), L"<absent>");
    ASSERT_EQ(RunMsiexec(L"/i " + package + L" KX7_START=task", L"msi-service-to-task.log"), 0u);
    EXPECT_EQ(ServiceProgram(&running), L"<absent>");
    EXPECT_FALSE(Exists(dir_ + L"\\KX7HostPairService.exe"));
    ExpectInstalled(L"" KX7_VERSION);
    ASSERT_EQ(RunMsiexec(L"/i " + package + L" KX7_START=service", L"msi-task-to-service.log"), 0u);
    EXPECT_EQ(ServiceProgram(&running), serviceProgram);
    EXPECT_TRUE(running);
    EXPECT_EQ(LogonTaskXml(), L"<absent>");

    ASSERT_EQ(RunMsiexec(L"/x " + package, L"msi-service-remove.log"), 0u);
    EXPECT_EQ(ServiceProgram(&running), L"<absent>");
    EXPECT_FALSE(Exists(dir_));
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSettingsKey, L"Interval");
}

}  // namespace
}  // namespace kx7::e2e
