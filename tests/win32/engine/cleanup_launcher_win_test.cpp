// The cleanup launcher through the real shell: stand-ins built under both tool names lie beside
// this test, as the tools lie beside the connector, and log every start. Then through a replaced
// shell: the requests it gets, byte for byte, and the apartment around them.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "connector/engine/cleanup_launcher.h"
#include "connector/engine/cleanup_launcher_win.h"
#include "tests/fakes/shell_execute_record_win.h"
#include "tests/fakes/standin_process_win.h"

namespace kx7 {
namespace {

constexpr DWORD kStartTimeoutMs = 10000;
constexpr DWORD kPollMs = 100;
// Time a second, unwanted start would have to show up in the log.
constexpr DWORD kQuietMs = 500;

using test::Arguments;
using test::OwnDirectory;
using test::Utf8;

class CleanupLaunch : public ::testing::Test {
  protected:
    void SetUp() override {
        directory_ = OwnDirectory();
        ASSERT_FALSE(directory_.empty());
        logPath_ = directory_ + L"\\" + test::kCleanupToolLogName;
        DeleteFileW(logPath_.c_str());
    }
    void TearDown() override { DeleteFileW(logPath_.c_str()); }

    // Starts the tool for osVersion and expects exactly that tool, once, without arguments.
    void ExpectStarted(uint32_t osVersion, const wchar_t* toolName) {
        EXPECT_EQ(LaunchRegistryCleanup(SystemShellLauncher(), osVersion, 0),
                  directory_ + L"\\" + toolName);

        std::vector<test::StandInStart> starts;
        for (DWORD waited = 0; waited < kStartTimeoutMs && starts.empty(); waited += kPollMs) {
            Sleep(kPollMs);
            starts = test::ReadStandInStarts(logPath_);
        }
        ASSERT_FALSE(starts.empty()) << "no tool started within " << kStartTimeoutMs << " ms";
        Sleep(kQuietMs);
        starts = test::ReadStandInStarts(logPath_);
        ASSERT_EQ(starts.size(), 1u);

        const std::string expected = Utf8(directory_ + L"\\" + toolName);
        EXPECT_TRUE(test::SameText(starts[0].program, expected))
            << starts[0].program << " started instead of " << expected;
        EXPECT_EQ(Arguments(starts[0].commandLine), "") << starts[0].commandLine;
    }

    std::wstring directory_;
    std::wstring logPath_;
};

TEST_F(CleanupLaunch, OlderSystemOpensTheXpTool) {
    ExpectStarted(0x501, L"SVCleanRegXP.exe");
}

TEST_F(CleanupLaunch, NewerSystemRunsTheWin7ToolElevated) {
    ExpectStarted(0x601, L"SVCleanRegWin7.exe");
}

// What the replaced calls saw, in order, with their arguments, and whether the shell starts.
std::vector<std::wstring>& g_calls = test::g_startCalls;
HRESULT g_comResult = S_OK;
bool g_shellStarts = false;
test::ShellExecuteRecord g_seen;

HRESULT WINAPI FakeCoInitializeEx(LPVOID reserved, DWORD flags) {
    g_calls.push_back(L"CoInitializeEx " + std::to_wstring(flags) +
                      (reserved ? L" reserved" : L""));
    return g_comResult;
}
void WINAPI FakeCoUninitialize() {
    g_calls.push_back(L"CoUninitialize");
}
BOOL WINAPI FakeShellExecuteExW(SHELLEXECUTEINFOW* info) {
    g_seen = test::RecordShellExecute(*info);
    g_calls.push_back(L"ShellExecuteExW " + g_seen.verb + L" " + g_seen.file + L" " +
                      g_seen.parameters);
    return g_shellStarts;
}
HINSTANCE WINAPI FakeShellExecuteW(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters,
                                   LPCWSTR directory, INT show) {
    g_calls.push_back(L"ShellExecuteW " + std::to_wstring(reinterpret_cast<UINT_PTR>(owner)) +
                      L" " + test::TextOrNull(verb) + L" " + test::TextOrNull(file) + L" " +
                      test::TextOrNull(parameters) + L" " + test::TextOrNull(directory) + L" " +
                      std::to_wstring(show));
    return reinterpret_cast<HINSTANCE>(g_shellStarts ? 33 : SE_ERR_DLLNOTFOUND);  // 32: an error
}
const CleanupShellCalls kFakeCalls = {FakeShellExecuteW,          FakeShellExecuteExW,
                                      FakeCoInitializeEx,         FakeCoUninitialize,
                                      test::FakeOpenProcessToken, test::FakeGetTokenInformation,
                                      test::FakeCreateProcessW,   test::FakeCloseHandle};

TEST(CleanupRequest, EachStartAsksForNoBoxInAnApartmentOfItsOwn) {
    const std::wstring dir = OwnDirectory();
    Win32ShellLauncher shell(kFakeCalls);
    test::ResetStartCalls(0);
    g_comResult = S_OK;
    g_shellStarts = false;
    EXPECT_EQ(LaunchRegistryCleanup(shell, 0x601, 0x1A2B3C), L"");
    EXPECT_EQ(LaunchRegistryCleanup(shell, 0x501, 0x1A2B3C), L"");
    // 6 is COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE.
    EXPECT_EQ(g_calls, (std::vector<std::wstring>{
                           L"CloseHandle 1", L"CoInitializeEx 6",
                           L"ShellExecuteExW runas " + dir + L"\\SVCleanRegWin7.exe <null>",
                           L"CoUninitialize", L"CloseHandle 1", L"CoInitializeEx 6",
                           L"ShellExecuteW 0 open " + dir + L"\\SVCleanRegXP.exe <null> <null> 0",
                           L"CoUninitialize"}));
    g_shellStarts = true;
    EXPECT_EQ(LaunchRegistryCleanup(shell, 0x501, 0x1A2B3C), dir + L"\\SVCleanRegXP.exe");
    EXPECT_EQ(LaunchRegistryCleanup(shell, 0x601, 0x1A2B3C), dir + L"\\SVCleanRegWin7.exe");
    SHELLEXECUTEINFOW expected{};
    expected.cbSize = sizeof(expected);
    expected.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    expected.hwnd = reinterpret_cast<HWND>(static_cast<UINT_PTR>(0x1A2B3C));
    expected.nShow = SW_HIDE;
    EXPECT_EQ(g_seen.fields, test::DescribeFields(expected));
#if defined(__i386__)
    // Size 60, mask SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI (no process handle), the owner, then
    // zeros: the pointers are checked by their texts, no directory, SW_HIDE, nothing returned.
    const std::array<unsigned char, 60> kRunAs = {0x3C, 0, 0,    0,    0x00, 0x05,
                                                  0,    0, 0x3C, 0x2B, 0x1A};
    EXPECT_EQ(g_seen.bytes, kRunAs);
#endif
}

TEST(CleanupRequest, OnlyAnApartmentOfOurOwnIsLeftAgain) {
    const std::wstring start =
        L"ShellExecuteExW runas " + OwnDirectory() + L"\\SVCleanRegWin7.exe <null>";
    const struct {
        HRESULT result;
        std::vector<std::wstring> calls;
    } cases[] = {
        // Already single-threaded: counted all the same, so it is undone.
        {S_FALSE, {L"CloseHandle 1", L"CoInitializeEx 6", start, L"CoUninitialize"}},
        // Multi-threaded: the thread stays so, and the shell is asked there.
        {RPC_E_CHANGED_MODE, {L"CloseHandle 1", L"CoInitializeEx 6", start}},
    };
    Win32ShellLauncher shell(kFakeCalls);
    for (const auto& c : cases) {
        test::ResetStartCalls(-1);  // no answer: the shell is asked
        g_comResult = c.result;
        LaunchRegistryCleanup(shell, 0x600, 0);
        EXPECT_EQ(g_calls, c.calls) << std::hex << c.result;
    }
}

TEST(CleanupRequest, ElevatedConnectorStartsTheToolItselfHidden) {
    const std::wstring tool = OwnDirectory() + L"\\SVCleanRegWin7.exe";
    Win32ShellLauncher shell(kFakeCalls);
    test::ResetStartCalls(1);
    g_shellStarts = true;  // only a start of its own may be tried
    EXPECT_EQ(LaunchRegistryCleanup(shell, 0x601, 0x1A2B3C), tool);
    // 1 and 0 are STARTF_USESHOWWINDOW and SW_HIDE.
    EXPECT_EQ(g_calls,
              (std::vector<std::wstring>{L"CloseHandle 1",
                                         L"CreateProcessW " + tool + L" | \"" + tool + L"\" | 1 0",
                                         L"CloseHandle 3", L"CloseHandle 2"}));
    test::g_processStarts = FALSE;
    EXPECT_EQ(LaunchRegistryCleanup(shell, 0, 0), L"");  // the XP tool, also its own start
}

}  // namespace
}  // namespace kx7
