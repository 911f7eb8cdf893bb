// The connector's start-up, driven from outside as the user and the system would.
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "tests/e2e/process_driver_win.h"
#include "tests/fakes/product_texts.h"
#include "tests/fakes/registry_values_win.h"

namespace kx7::e2e {
namespace {

using namespace test;

constexpr DWORD kWindowTimeoutMs = 30000;

class ConnectorStartup : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(FindWindowW(nullptr, kTitle), nullptr) << "a connector is already running";
        DeleteUserKey(kSettingsKey);
    }
    void TearDown() override { DeleteUserKey(kSettingsKey); }

    static void ExpectCleanExit(ChildProcess& process) {
        DWORD code = 1234;
        ASSERT_TRUE(process.WaitExit(20000, &code)) << "the program did not end";
        EXPECT_EQ(code, 0u);
    }
    // Closes the main window as the system would at log-off, and checks the exit code.
    static void CloseAndExpectCleanExit(ChildProcess& process, HWND window) {
        PostMessageW(window, WM_CLOSE, 0, 0);
        ExpectCleanExit(process);
    }

    // Starts the connector and waits for its main window.
    static HWND Start(ChildProcess& process, const wchar_t* arguments) {
        if (!process.Start(ProgramPath(L"KX7AutoConnector.exe"), arguments)) {
            return nullptr;
        }
        return WaitForWindow(kClass, kTitle, process.pid(), kWindowTimeoutMs);
    }
};

// The six settings as planted before a start (none at all: a first start), and as stored once
// the main window is up.
const wchar_t* const kSettingNames[] = {L"Interval",  L"WarmupDelay",     L"ActiveResetTime",
                                        L"ResetTime", L"AfterResetDelay", L"DetachDelay"};
struct StoredSettings {
    const char* name;
    std::vector<RegValue> planted;
    std::array<DWORD, 6> stored;
    friend void PrintTo(const StoredSettings& c, std::ostream* os) { *os << c.name; }
};

class SettingsAtStartup : public ConnectorStartup,
                          public ::testing::WithParamInterface<StoredSettings> {};

TEST_P(SettingsAtStartup, AreStoredAsExpected) {
    const StoredSettings& p = GetParam();
    for (size_t i = 0; i < p.planted.size(); ++i) {
        PlantValue(HKEY_CURRENT_USER, kSettingsKey, kSettingNames[i], p.planted[i]);
    }
    ChildProcess connector;
    HWND window = Start(connector, L"");
    ASSERT_NE(window, nullptr) << "main window of class KX7AutoConnector_Class";
    for (size_t i = 0; i < p.stored.size(); ++i) {
        SCOPED_TRACE(kSettingNames[i]);
        DWORD type = 0;
        DWORD value = 0;
        ASSERT_TRUE(ReadUserDword(kSettingsKey, kSettingNames[i], &type, &value))
            << "missing value";
        EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(value, p.stored[i]);
    }
    CloseAndExpectCleanExit(connector, window);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SettingsAtStartup,
    ::testing::Values(
        StoredSettings{"FirstStartWritesTheSixDefaults", {}, {10, 100, 100, 5, 2000, 5000}},
        StoredSettings{"BadStoredValuesAreReplacedGoodOnesKept",
                       {Text(L"10"), Dword(70000), Qword(100), RegValue{REG_DWORD, {5, 0, 0}},
                        Dword(0x12345), Dword(0xFFFFFFFF)},
                       {10, 70000, 100, 5, 0x12345, 5000}}),
    [](const ::testing::TestParamInfo<StoredSettings>& info) { return info.param.name; });

TEST_F(ConnectorStartup, SecondCopyIsRefusedWithAMessageAndDoesNotWait) {
    ChildProcess first;
    HWND window = Start(first, L"");
    ASSERT_NE(window, nullptr);

    // A refused copy must not sit out its minute-long delay before saying so.
    ChildProcess second;
    ASSERT_TRUE(second.Start(ProgramPath(L"KX7AutoConnector.exe"), L"/D:60000 /HIDE"));
    HWND box = WaitForWindow(L"#32770", L"KX7AutoConnector", second.pid(), kWindowTimeoutMs);
    ASSERT_NE(box, nullptr) << "framework message box captioned with the application name";
    EXPECT_EQ(MessageBoxText(box), L"HostPair is already in operation.");
    EXPECT_EQ(GetDlgItem(box, IDCANCEL), nullptr) << "an OK box only";
    HWND ok = GetDlgItem(box, IDOK);
    ASSERT_NE(ok, nullptr);
    PostMessageW(ok, BM_CLICK, 0, 0);
    ExpectCleanExit(second);  // once the box is gone
    EXPECT_TRUE(first.Running());
    CloseAndExpectCleanExit(first, window);
}

// A window of the private class stands in for a copy that has not yet set its title.
LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST_F(ConnectorStartup, CopyFoundOnlyByClassIsBroughtForwardSilently) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = PlainWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClass;
    ASSERT_NE(RegisterClassExW(&wc), 0);
    HWND stand_in = CreateWindowExW(0, kClass, L"starting", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                    200, 100, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(stand_in, nullptr);
    HWND other = CreateWindowExW(0, kClass, L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 300, 0, 200,
                                 100, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(other, nullptr);
    SetForegroundWindow(other);

    ChildProcess connector;
    ASSERT_TRUE(connector.Start(ProgramPath(L"KX7AutoConnector.exe"), L""));
    DWORD code = 1234;
    bool ended = false;
    // Keep this thread's windows answering while the connector looks for them.
    for (int i = 0; i < 600 && !ended; ++i) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&msg);
        }
        EXPECT_EQ(FindWindowW(L"#32770", L"KX7AutoConnector"), nullptr) << "no message box";
        ended = connector.WaitExit(50, &code);
    }
    ASSERT_TRUE(ended) << "a copy found by class ends by itself";
    EXPECT_EQ(code, 0u);
    // FindWindow returns the most recently activated top-level window of the class first, so
    // the found copy is whichever the system lists first; it must now be in front.
    HWND found = FindWindowW(kClass, nullptr);
    EXPECT_EQ(GetForegroundWindow(), found);
    DestroyWindow(other);
    DestroyWindow(stand_in);
    UnregisterClassW(kClass, wc.hInstance);
}

TEST_F(ConnectorStartup, DelaySwitchReallyWaits) {
    ChildProcess connector;
    const ULONGLONG started = GetTickCount64();
    HWND window = Start(connector, L"/D:1500");
    ASSERT_NE(window, nullptr);
    EXPECT_GE(GetTickCount64() - started, 1500u);
    CloseAndExpectCleanExit(connector, window);
}

}  // namespace
}  // namespace kx7::e2e
