// The agent's run with the shell replaced: the start request it builds, byte by byte, and the
// calls it makes around it.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include "startup_agent/agent_arguments.h"
#include "startup_agent/agent_main_win.h"
#include "tests/fakes/shell_execute_record_win.h"

namespace kx7 {
namespace agent {
namespace {

// What the replaced calls saw, in order.
std::vector<std::string> g_calls;
DWORD g_versionWord = 0;
BOOL g_shellResult = TRUE;
test::ShellExecuteRecord g_seen;

void WINAPI FakeSleep(DWORD milliseconds) {
    g_calls.push_back("Sleep " + std::to_string(milliseconds));
}

DWORD FakeVersionWord() {
    g_calls.push_back("GetWindowsVersionWord");
    return g_versionWord;
}

BOOL WINAPI FakeShellExecuteExW(SHELLEXECUTEINFOW* info) {
    g_calls.push_back("ShellExecuteExW");
    g_seen = test::RecordShellExecute(*info);
    if (!g_shellResult) {
        SetLastError(ERROR_FILE_NOT_FOUND);
    }
    return g_shellResult;
}

DWORD WINAPI FakeGetLastError() {
    g_calls.push_back("GetLastError");
    return ::GetLastError();
}

const AgentCalls kFakeCalls = {FakeSleep, FakeVersionWord, FakeShellExecuteExW, FakeGetLastError};

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
        g_calls.clear();
        g_versionWord = 0x0601;
        g_shellResult = TRUE;
        g_seen = test::ShellExecuteRecord();
        g_seen.bytes.fill(0xCC);
    }

    static int Run(const std::string& line) {
        std::vector<char> buffer(line.begin(), line.end());
        buffer.push_back('\0');
        return AgentMain(buffer.data(), kFakeCalls);
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

TEST_F(AgentRun, VersionWordChoosesTheVerbAfterTheWait) {
    const struct {
        DWORD versionWord;
        const wchar_t* verb;  // null: the shell's default verb
    } cases[] = {{0x0501, nullptr}, {0x0600, L"runas"}, {0x0601, L"runas"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.versionWord);
        SetUp();
        g_versionWord = c.versionWord;
        EXPECT_EQ(Run("/D:3000 /HIDE /S:C:\\Tools\\Connector.exe"), 0);
        EXPECT_EQ(g_calls, (std::vector<std::string>{"Sleep 3000", "GetWindowsVersionWord",
                                                     "ShellExecuteExW"}));
        ExpectRecordBytesApartFromPointers();
        EXPECT_EQ(g_seen.verb, test::TextOrNull(c.verb));
        EXPECT_EQ(g_seen.file, L"C:\\TOOLS\\CONNECTOR.EXE");
        EXPECT_EQ(g_seen.parameters, L"/HIDE");
    }
}

TEST_F(AgentRun, WithoutHideThereAreNoParameters) {
    g_versionWord = 0;  // the version query failed: treated as an older system
    EXPECT_EQ(Run("/S:C:\\Program Files\\Connector.exe"), 0);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"GetWindowsVersionWord", "ShellExecuteExW"}));
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
        EXPECT_EQ(g_calls, (std::vector<std::string>{"GetWindowsVersionWord", "ShellExecuteExW"}))
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
        EXPECT_TRUE(g_calls.empty()) << line;
    }
    EXPECT_EQ(AgentMain(nullptr, kFakeCalls), 0);
    EXPECT_TRUE(g_calls.empty());
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
    EXPECT_EQ(g_calls, (std::vector<std::string>{"GetWindowsVersionWord", "ShellExecuteExW",
                                                 "GetLastError"}));
    EXPECT_EQ(g_seen.file, L"C:\\TOOLS\\CONNECTOR.EXE /HIDE");
}

TEST(AgentSystem, VersionWordMatchesTheOlderVersionCall) {
    // GetVersion packs major and minor the other way round, in its low word.
    const DWORD packed = GetVersion();
    const DWORD expected = (packed & 0xFF) * 256 + ((packed >> 8) & 0xFF);
    EXPECT_EQ(GetWindowsVersionWord(), expected);
    EXPECT_GE(expected, 0x0501u);
}

TEST(AgentSystem, RuntimeWidensThePathAsTheParserDoes) {
    // Every byte but NUL and the lower-case letters, which the parser upper-cases first.
    std::string bytes;
    for (int b = 1; b < 256; ++b) {
        if (b < 'a' || b > 'z') {
            bytes.push_back(static_cast<char>(b));
        }
    }
    ASSERT_LT(bytes.size(), kPathChars);
    wchar_t widened[kPathChars] = {};
    ASSERT_EQ(std::mbstowcs(widened, bytes.c_str(), kPathChars), bytes.size());

    std::string line = "/S:" + bytes;
    AgentArguments parsed;
    ASSERT_EQ(ParseAgentArguments(&line[0], &parsed), AgentAction::kStart);
    for (size_t i = 0; i <= bytes.size(); ++i) {
        EXPECT_EQ(static_cast<unsigned>(parsed.szPath[i]), static_cast<unsigned>(widened[i]))
            << "byte " << i;
    }
}

}  // namespace
}  // namespace agent
}  // namespace kx7
