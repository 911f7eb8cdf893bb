// The connector's start-up, driven from outside as the user and the system would.
#include <windows.h>

#include <gtest/gtest.h>

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

    // Closes the main window as the system would at log-off, and checks the exit code.
    static void CloseAndExpectCleanExit(ChildProcess& process, HWND window) {
        PostMessageW(window, WM_CLOSE, 0, 0);
        DWORD code = 1234;
        ASSERT_TRUE(process.WaitExit(20000, &code));
        EXPECT_EQ(code, 0u);
    }

    static void Plant(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        test::PlantValue(HKEY_CURRENT_USER, kSettingsKey, name, type, data, size);
    }

    static void ExpectStored(const wchar_t* name, DWORD expected) {
        DWORD type = 0;
        DWORD value = 0;
        ASSERT_TRUE(ReadUserDword(kSettingsKey, name, &type, &value)) << "missing value";
        EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(value, expected);
    }
};

TEST_F(ConnectorStartup, FirstStartWritesTheSixDefaults) {
    ChildProcess connector;
    ASSERT_TRUE(connector.Start(ProgramPath(L"KX7AutoConnector.exe"), L""));
    HWND window = WaitForWindow(kClass, kTitle, connector.pid(), kWindowTimeoutMs);
    ASSERT_NE(window, nullptr) << "main window of class KX7AutoConnector_Class";

    ExpectStored(L"Interval", 10);
    ExpectStored(L"WarmupDelay", 100);
    ExpectStored(L"ActiveResetTime", 100);
    ExpectStored(L"ResetTime", 5);
    ExpectStored(L"AfterResetDelay", 2000);
    ExpectStored(L"DetachDelay", 5000);
    CloseAndExpectCleanExit(connector, window);
}

TEST_F(ConnectorStartup, BadStoredValuesAreReplacedGoodOnesKept) {
    const wchar_t text[] = L"10";
    const ULONGLONG qword = 100;
    const BYTE three[3] = {5, 0, 0};
    const DWORD ones = 0xFFFFFFFF;
    const DWORD warmup = 70000;
    const DWORD afterReset = 0x12345;
    Plant(L"Interval", REG_SZ, text, sizeof(text));
    Plant(L"WarmupDelay", REG_DWORD, &warmup, 4);
    Plant(L"ActiveResetTime", REG_QWORD, &qword, 8);
    Plant(L"ResetTime", REG_DWORD, three, 3);
    Plant(L"AfterResetDelay", REG_DWORD, &afterReset, 4);
    Plant(L"DetachDelay", REG_DWORD, &ones, 4);

    ChildProcess connector;
    ASSERT_TRUE(connector.Start(ProgramPath(L"KX7AutoConnector.exe"), L""));
    HWND window = WaitForWindow(kClass, kTitle, connector.pid(), kWindowTimeoutMs);
    ASSERT_NE(window, nullptr);
    ExpectStored(L"Interval", 10);
    ExpectStored(L"WarmupDelay", 70000);
    ExpectStored(L"ActiveResetTime", 100);
    ExpectStored(L"ResetTime", 5);
    ExpectStored(L"AfterResetDelay", 0x12345);
    ExpectStored(L"DetachDelay", 5000);
    CloseAndExpectCleanExit(connector, window);
}

TEST_F(ConnectorStartup, SecondCopyIsRefusedWithAMessageAndDoesNotWait) {
    ChildProcess first;
    ASSERT_TRUE(first.Start(ProgramPath(L"KX7AutoConnector.exe"), L""));
    HWND window = WaitForWindow(kClass, kTitle, first.pid(), kWindowTimeoutMs);
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
    DWORD code = 1234;
    ASSERT_TRUE(second.WaitExit(20000, &code)) << "the refused copy ends once the box is gone";
    EXPECT_EQ(code, 0u);
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
    ASSERT_TRUE(connector.Start(ProgramPath(L"KX7AutoConnector.exe"), L"/D:1500"));
    HWND window = WaitForWindow(kClass, kTitle, connector.pid(), kWindowTimeoutMs);
    ASSERT_NE(window, nullptr);
    EXPECT_GE(GetTickCount64() - started, 1500u);
    CloseAndExpectCleanExit(connector, window);
}

}  // namespace
}  // namespace kx7::e2e
