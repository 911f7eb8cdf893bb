// The agent's run with the shell replaced: the start request it builds, byte by byte, and the
// calls it makes around it.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "startup_agent/agent_main_win.h"
#include "tests/fakes/shell_execute_record_win.h"

namespace kx7 {
namespace agent {
namespace {

using namespace test;  // the stand-ins of a start and their log

DWORD g_versionWord = 0;
BOOL g_shellResult = TRUE;
test::ShellExecuteRecord g_seen;

void WINAPI FakeSleep(DWORD milliseconds) {
    g_startCalls.push_back(L"Sleep " + std::to_wstring(milliseconds));
}

DWORD FakeVersionWord() {
    g_startCalls.push_back(L"GetWindowsVersionWord");
    return g_versionWord;
}

BOOL WINAPI FakeShellExecuteExW(SHELLEXECUTEINFOW* info) {
    g_startCalls.push_back(L"ShellExecuteExW");
    g_seen = test::RecordShellExecute(*info);
    if (!g_shellResult) {
        SetLastError(ERROR_FILE_NOT_FOUND);
    }
    return g_shellResult;
}

DWORD WINAPI FakeGetLastError() {
    g_startCalls.push_back(L"GetLastError");
    return ::GetLastError();
}

const AgentCalls kFakeCalls = {FakeSleep,          FakeVersionWord,      FakeShellExecuteExW,
                               FakeGetLastError,   FakeOpenProcessToken, FakeGetTokenInformation,
                               FakeCreateProcessW, FakeCloseHandle};

// The start request as the older shells know it. The three pointers (verb at 12, file at 16,
// parameters at 20) are checked by the texts they point to and left zero here.
const std::array<unsigned char, 60> kExpectedRecord = {
    0x3C, 0, 0, 0,  // size 60
    0,    0, 0, 0,  // mask: no flags, so no process handle is returned
    0,    0, 0, 0,  // no owner window
    0,    0, 0, 0,  // verb
    0,    0, 0, 0,  // file
    0,    0, 0, 0,  // parameters
    0,    0, 0, 0,  // no directory
    1,    0, 0, 0,  // SW_SHOWNORMAL
    0,    0, 0, 0,  // instance result
    0,    0, 0, 0,  // item list
    0,    0, 0, 0,  // class
    0,    0, 0, 0,  // class key
    0,    0, 0, 0,  // hot key
    0,    0, 0, 0,  // icon or monitor
    0,    0, 0, 0,  // process handle
};

class AgentRun : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetStartCalls(0);
        g_versionWord = 0x0501;
        g_shellResult = TRUE;
        g_seen = test::ShellExecuteRecord();
        g_seen.bytes.fill(0xCC);
    }

    static int Run(const std::string& ascii) {
        return AgentMain(std::wstring(ascii.begin(), ascii.end()).c_str(), kFakeCalls);
    }

    static void ExpectRecordBytesApartFromPointers() {
        SHELLEXECUTEINFOW expected{};
        expected.cbSize = sizeof(expected);
        expected.nShow = SW_SHOWNORMAL;
        EXPECT_EQ(g_seen.fields, test::DescribeFields(expected));
#if defined(__i386__)
        EXPECT_EQ(g_seen.bytes, kExpectedRecord);
#endif
    }
};

TEST_F(AgentRun, VersionWordAndTokenChooseHowTheTargetStartsAfterTheWait) {
    const std::wstring wait = L"Sleep 3000", version = L"GetWindowsVersionWord",
                       token = L"CloseHandle 1", shell = L"ShellExecuteExW";
    // Already elevated: no shell. 1 and 1 are STARTF_USESHOWWINDOW and SW_SHOWNORMAL.
    const std::wstring direct =
        L"CreateProcessW C:\\TOOLS\\CONNECTOR.EXE | \"C:\\TOOLS\\CONNECTOR.EXE\" /HIDE | 1 1";
    const struct {
        DWORD versionWord;
        int elevated;
        std::vector<std::wstring> calls;
        const wchar_t* verb;  // null: the shell's default verb
    } cases[] = {
        {0x0501, 1, {wait, version, shell}, nullptr},  // no token asked before Vista
        {0x0600, 0, {wait, version, token, shell}, L"runas"},
        {0x0601, -1, {wait, version, token, shell}, L"runas"},
        {0x0601, 1, {wait, version, token, direct, L"CloseHandle 3", L"CloseHandle 2"}, nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.versionWord);
        SetUp();
        g_versionWord = c.versionWord;
        g_tokenElevated = c.elevated;
        EXPECT_EQ(Run("/D:3000 /HIDE /S:C:\\Tools\\Connector.exe"), 0);
        EXPECT_EQ(g_startCalls, c.calls);
        if (c.calls.back() == shell) {
            ExpectRecordBytesApartFromPointers();
            EXPECT_EQ(g_seen.verb, test::TextOrNull(c.verb));
            EXPECT_EQ(g_seen.file, L"C:\\TOOLS\\CONNECTOR.EXE");
            EXPECT_EQ(g_seen.parameters, L"/HIDE");
        }
    }
}

TEST_F(AgentRun, WithoutHideThereAreNoParameters) {
    g_versionWord = 0;  // the version query failed: treated as an older system
    EXPECT_EQ(Run("/S:C:\\Program Files\\Connector.exe"), 0);
    EXPECT_EQ(g_startCalls,
              (std::vector<std::wstring>{L"GetWindowsVersionWord", L"ShellExecuteExW"}));
    ExpectRecordBytesApartFromPointers();
    EXPECT_EQ(g_seen.verb, L"<null>");
    EXPECT_EQ(g_seen.parameters, L"<null>");
    EXPECT_EQ(g_seen.file, L"C:\\PROGRAM FILES\\CONNECTOR.EXE");

    SetUp();
    g_versionWord = 0x0A00;  // version 10 compares as a larger word, not as "1" and "0"
    EXPECT_EQ(Run("/s:c:\\tools\\connector.exe"), 0);
    ExpectRecordBytesApartFromPointers();
    EXPECT_EQ(g_seen.verb, L"runas");
    EXPECT_EQ(g_seen.parameters, L"<null>");
}

TEST_F(AgentRun, ZeroNegativeOrUnreadableDelaysStartAtOnce) {
    for (const char* line :
         {"/D:0 /S:X.EXE", "/D:-100 /S:X.EXE", "/D:-2147483648 /S:X.EXE", "/D:ABC /S:X.EXE"}) {
        SetUp();
        EXPECT_EQ(Run(line), 0) << line;
        EXPECT_EQ(g_startCalls,
                  (std::vector<std::wstring>{L"GetWindowsVersionWord", L"ShellExecuteExW"}))
            << line;
        EXPECT_EQ(g_seen.file, L"X.EXE") << line;
    }
}

TEST_F(AgentRun, NothingToStartMeansNoWaitAndNoShell) {
    const std::string tooLong = "C:\\" + std::string(253, 'P') + ".EXE";
    ASSERT_EQ(tooLong.size(), 260u);
    for (const std::string& line :
         {std::string(), std::string("/D:3000 /HIDE"), std::string("/D:3000 /HIDE /S:"),
          "/D:3000 /HIDE /S:" + tooLong}) {
        SetUp();
        EXPECT_EQ(Run(line), 0) << line;
        EXPECT_TRUE(g_startCalls.empty()) << line;
    }
    EXPECT_EQ(AgentMain(nullptr, kFakeCalls), 0);
    EXPECT_TRUE(g_startCalls.empty());
}

TEST_F(AgentRun, PathOf259IsHandedOverWhole) {
    const std::string path = "C:\\" + std::string(252, 'P') + ".EXE";
    ASSERT_EQ(path.size(), 259u);
    EXPECT_EQ(Run("/S:" + path), 0);
    EXPECT_EQ(g_seen.file, std::wstring(path.begin(), path.end()));
}

TEST_F(AgentRun, FailedStartIsSwallowed) {
    g_shellResult = FALSE;
    EXPECT_EQ(Run("/HIDE /S:C:\\Tools\\Connector.exe /HIDE"), 0);
    EXPECT_EQ(g_startCalls, (std::vector<std::wstring>{L"GetWindowsVersionWord", L"ShellExecuteExW",
                                                       L"GetLastError"}));
    EXPECT_EQ(g_seen.file, L"C:\\TOOLS\\CONNECTOR.EXE /HIDE");
}

TEST(AgentSystem, VersionWordMatchesTheOlderVersionCall) {
    // GetVersion packs major and minor the other way round, in its low word.
    const DWORD packed = GetVersion();
    const DWORD expected = (packed & 0xFF) * 256 + ((packed >> 8) & 0xFF);
    EXPECT_EQ(GetWindowsVersionWord(), expected);
    EXPECT_GE(expected, 0x0501u);
}

}  // namespace
}  // namespace agent
}  // namespace kx7
