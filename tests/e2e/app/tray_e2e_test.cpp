// The connector as a tray program, driven from outside as a user and the system would: its
// window, its tray commands, and the device notifications it is sent.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "connector/platform/end_connector_message.h"
#include "tests/e2e/process_driver_win.h"
#include "tests/fakes/product_texts.h"

namespace kx7::e2e {
namespace {

using namespace test;

const wchar_t kKx7UsbName[] =
    L"\\\\?\\USB#VID_6B2F&PID_1181#AB12#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
const wchar_t kKx7UsbNoSerial[] =
    L"\\\\?\\USB#VID_6B2F&PID_1180##{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
const wchar_t kRootName[] = L"\\\\?\\ROOT#NET#0000#{ad498944-762f-11d0-8dcb-00c04fc3358c}";

constexpr UINT kTrayNotify = 0x461;
constexpr DWORD kWindowTimeoutMs = 30000;
// Deleting a visible tray icon takes about 2 s under Wine.
constexpr DWORD kShowHideTimeoutMs = 8000;
constexpr DWORD kExitTimeoutMs = 12000;

class TrayProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(FindWindowW(nullptr, kTitle), nullptr) << "a connector is already running";
        DeleteUserKey(kSettingsKey);
        DeleteUserKey(kAgentKey);
        // No pass during these tests unless one asks for it: a pass on this unregistered PC
        // would put up its own box.
        ASSERT_TRUE(WriteUserDword(kSettingsKey, L"Interval", 600));
    }
    void TearDown() override {
        connector.Kill();
        DeleteUserKey(kSettingsKey);
        DeleteUserKey(kAgentKey);
    }

    HWND Start(const wchar_t* arguments) {
        started = GetTickCount64();
        if (!connector.Start(ProgramPath(L"KX7AutoConnector.exe"), arguments)) {
            return nullptr;
        }
        return WaitForWindow(kClass, kTitle, connector.pid(), kWindowTimeoutMs);
    }
    // Started and hidden to the tray, as after every start from Explorer: the window shows
    // briefly, then goes to the tray.
    HWND StartToTray() {
        HWND window = Start(L"");
        const bool shown =
            window != nullptr &&
            WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, kWindowTimeoutMs);
        const bool hidden =
            shown && WaitUntil([&] { return IsWindowVisible(window) == FALSE; }, kWindowTimeoutMs);
        return hidden ? window : nullptr;
    }
    HWND WaitForBox(DWORD timeoutMs = kWindowTimeoutMs) {
        return WaitForWindow(L"#32770", kAppName, connector.pid(), timeoutMs);
    }
    HWND WaitForAbout() {
        return WaitForWindow(L"#32770", L"About KX7AutoConnector", connector.pid(),
                             kWindowTimeoutMs);
    }
    void ExpectExitCodeZero(DWORD timeoutMs = kExitTimeoutMs) {
        DWORD code = 1234;
        ASSERT_TRUE(connector.WaitExit(timeoutMs, &code));
        EXPECT_EQ(code, 0u);
    }
    // A right click on the tray icon with this id, as the shell reports it.
    static void ClickTrayIcon(HWND window, UINT iconId) {
        PostMessageW(window, kTrayNotify, iconId, WM_RBUTTONDOWN);
        PostMessageW(window, kTrayNotify, iconId, WM_RBUTTONUP);
    }
    void ExitThroughTheMenu(HWND window) {
        PostMessageW(window, WM_COMMAND, kExit, 0);
        HWND box = WaitForBox();
        ASSERT_NE(box, nullptr);
        ASSERT_EQ(MessageBoxText(box), kExitText);
        ClickButton(box, IDOK);
        ExpectExitCodeZero();
    }

    ChildProcess connector;
    ULONGLONG started = 0;
};

TEST_F(TrayProgram, HidesToTheTrayAfterItsStartAndShowsItsCommands) {
    HWND window = StartToTray();
    ASSERT_NE(window, nullptr) << "the window shows briefly, then goes to the tray";
    EXPECT_GE(GetTickCount64() - started, 2000u) << "after the 2 s start-up wait";
    Sleep(500);
    EXPECT_FALSE(IsWindowVisible(window)) << "hidden, not minimised to the taskbar";
    EXPECT_FALSE(IsIconic(window));
    EXPECT_EQ(ControlText(window, kSerial), L"");
    EXPECT_NE(GetDlgItem(window, kTree), nullptr);

    // Open shows it; Escape, wherever the focus is, does nothing; Close hides it again.
    PostMessageW(window, WM_COMMAND, kOpen, 0);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, kShowHideTimeoutMs));
    for (int id : {kLog, kTree}) {
        HWND control = GetDlgItem(window, id);
        PostMessageW(control, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageW(control, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    }
    PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    Sleep(1000);
    EXPECT_TRUE(connector.Running());
    EXPECT_TRUE(IsWindowVisible(window));
    // Enter asks nothing of the dialog either.
    PostMessageW(window, WM_COMMAND, IDOK, 0);
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    Sleep(500);
    EXPECT_TRUE(connector.Running());
    EXPECT_TRUE(IsWindowVisible(window));

    ClickButton(window, kCloseButton);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(window) == FALSE; }, kShowHideTimeoutMs));

    // Program Info shows the About box, which OK closes.
    PostMessageW(window, WM_COMMAND, kProgramInfo, 0);
    HWND about = WaitForAbout();
    ASSERT_NE(about, nullptr);
    const std::vector<std::wstring> texts = StaticTexts(about);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], L"KX7AutoConnector Version 2.0.5.3");
    EXPECT_EQ(texts[1], L"Unlocks paired KX7 drives on this PC automatically.");
    ClickButton(about, IDOK);
    EXPECT_TRUE(WaitUntil([&] { return IsWindow(about) == FALSE; }, kShowHideTimeoutMs));

    // Exit, then Cancel: nothing changes.
    PostMessageW(window, WM_COMMAND, kExit, 0);
    HWND box = WaitForBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), kExitText);
    EXPECT_NE(GetDlgItem(box, IDCANCEL), nullptr);
    ClickButton(box, IDCANCEL);
    ASSERT_TRUE(WaitUntil([&] { return IsWindow(box) == FALSE; }, kShowHideTimeoutMs));
    Sleep(1000);
    EXPECT_TRUE(connector.Running());

    // An installer's close request while Program Info is open ends the program all the same:
    // the About box's loop hands the quit on. On Windows that takes the worker's 100 ms; under
    // Wine, closing the box, destroying the window and deleting its tray icon take about 2 s
    // each, so the bound here only says that the end does not hang.
    PostMessageW(window, WM_COMMAND, kProgramInfo, 0);
    ASSERT_NE(WaitForAbout(), nullptr);
    PostMessageW(window, WM_CLOSE, 0, 0);
    ExpectExitCodeZero();
}

TEST_F(TrayProgram, DeviceNotificationsAreLoggedAndAKX7ShowsItsSerial) {
    HWND window = StartToTray();
    ASSERT_NE(window, nullptr);

    ASSERT_TRUE(SendInterfaceEvent(window, true, kKx7UsbName));
    EXPECT_EQ(ControlText(window, kLog), L"Adding USB\\VID_6B2F&PID_1181\\AB12\r\n");
    EXPECT_EQ(ControlText(window, kSerial), L"AB12");

    ASSERT_TRUE(SendInterfaceEvent(window, true, kRootName));
    ASSERT_TRUE(SendInterfaceEvent(window, false, kKx7UsbName));
    EXPECT_EQ(ControlText(window, kLog),
              L"Adding USB\\VID_6B2F&PID_1181\\AB12\r\n"
              L"Adding ROOT\\NET\\0000\r\n"
              L"Removing USB\\VID_6B2F&PID_1181\\AB12\r\n");
    EXPECT_EQ(ControlText(window, kSerial), L"") << "the removal clears the serial";
    // An instance ID that ends in its backslash names an empty serial, shown in its place.
    ASSERT_TRUE(SendInterfaceEvent(window, true, kKx7UsbName));
    ASSERT_TRUE(SendInterfaceEvent(window, true, kKx7UsbNoSerial));
    EXPECT_EQ(ControlText(window, kSerial), L"");
    // The computer at the root and nothing below it: neither device is listed by the system.
    HWND tree = GetDlgItem(window, kTree);
    EXPECT_EQ(SendMessageW(tree, TVM_GETCOUNT, 0, 0), 1);

    // Log-off: the program holds nothing up, asks nothing and ends.
    EXPECT_EQ(EndSession(window), TRUE);
    ExpectExitCodeZero(5000);
}

TEST_F(TrayProgram, HideModeNeverShowsTheWindow) {
    HWND window = Start(L"/HIDE");
    ASSERT_NE(window, nullptr);
    // Over the whole start-up, the Close button and an Open: never visible.
    bool everVisible = false;
    const ULONGLONG until = GetTickCount64() + 5000;
    while (GetTickCount64() < until) {
        everVisible = everVisible || IsWindowVisible(window);
        Sleep(20);
    }
    ClickButton(window, kCloseButton);
    PostMessageW(window, WM_COMMAND, kOpen, 0);
    PostMessageW(window, WM_COMMAND, kReconnect, 0);
    for (int i = 0; i < 50; ++i) {
        everVisible = everVisible || IsWindowVisible(window);
        Sleep(20);
    }
    EXPECT_FALSE(everVisible);
    EXPECT_TRUE(connector.Running()) << "Close does nothing";
    // Device tracking works as usual.
    ASSERT_TRUE(SendInterfaceEvent(window, true, kKx7UsbName));
    EXPECT_EQ(ControlText(window, kSerial), L"AB12");

    // No command ends it; an installer's end message ends it as a confirmed Exit would.
    PostMessageW(window, RegisterWindowMessageW(kEndConnectorMessageName), 0, 0);
    ExpectExitCodeZero(kShowHideTimeoutMs);
}

TEST_F(TrayProgram, UnregisteredPcIsToldOnceAfterTheSettleInterval) {
    ASSERT_TRUE(WriteUserDword(kSettingsKey, L"Interval", 4));  // 2 s
    HWND window = Start(L"");
    ASSERT_NE(window, nullptr);
    HWND box = WaitForBox();
    ASSERT_NE(box, nullptr);
    const ULONGLONG shownAfter = GetTickCount64() - started;
    EXPECT_EQ(MessageBoxText(box), kNotRegistered);
    EXPECT_EQ(GetDlgItem(box, IDCANCEL), nullptr);
    // 2 s start-up wait, then 4 ticks of 500 ms.
    EXPECT_GE(shownAfter, 2000u + 4 * 500u);
    ClickButton(box, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return IsWindow(box) == FALSE; }, kShowHideTimeoutMs));
    EXPECT_EQ(WaitForBox(4000), nullptr) << "not again until a drive arrives or Reconnect";

    // Reconnect asks again.
    PostMessageW(window, WM_COMMAND, kReconnect, 0);
    box = WaitForBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), kNotRegistered);

    // Exit confirmed while that pass waits on its box, then Program Info: the program ends once
    // the pass is over, with the About box still open.
    PostMessageW(window, WM_COMMAND, kExit, 0);
    HWND confirmation = e2e::WaitForBox(kAppName, kExitText, connector.pid(), kWindowTimeoutMs);
    ASSERT_NE(confirmation, nullptr);
    ClickButton(confirmation, IDOK);
    PostMessageW(window, WM_COMMAND, kProgramInfo, 0);
    ASSERT_NE(WaitForAbout(), nullptr);
    Sleep(500);
    EXPECT_TRUE(connector.Running()) << "the pass is not over";
    ClickButton(box, IDOK);
    ExpectExitCodeZero();
}

// The tray icon's own road: the shell's callback, the pop-up menu and its Open; and the icon
// put back when a restarted shell broadcasts "TaskbarCreated".
TEST_F(TrayProgram, TheIconsMenuWorksAndTheIconComesBackWhenTheShellRestarts) {
    HWND window = StartToTray();
    ASSERT_NE(window, nullptr);
    const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");

    // The shell restarts: the icon is gone, then the new taskbar announces itself.
    NOTIFYICONDATAW icon = {};
    icon.cbSize = sizeof(icon);
    icon.hWnd = window;
    icon.uID = 1;
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &icon));
    ASSERT_FALSE(Shell_NotifyIconW(NIM_MODIFY, &icon));
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(HWND_BROADCAST, taskbarCreated, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
    EXPECT_TRUE(WaitUntil([&] { return Shell_NotifyIconW(NIM_MODIFY, &icon) != FALSE; },
                          kShowHideTimeoutMs))
        << "icon 1 of the window is back";
    EXPECT_FALSE(IsWindowVisible(window));

    // Only icon 1 is the program's; its right click shows the second pop-up of menu 129.
    ClickTrayIcon(window, 2);
    EXPECT_EQ(WaitForPopupMenu(connector.pid(), 1500), nullptr);
    ClickTrayIcon(window, 1);
    HWND menu = WaitForPopupMenu(connector.pid(), kWindowTimeoutMs);
    ASSERT_NE(menu, nullptr);
    // Wine lets no other process read a menu, so the tracked pop-up is checked in the built
    // program's resource: the second pop-up of menu 129.
    HMODULE program = LoadLibraryExW(ProgramPath(L"KX7AutoConnector.exe").c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(program, nullptr);
    HMENU resource = LoadMenuW(program, MAKEINTRESOURCEW(129));
    ASSERT_NE(resource, nullptr);
    HMENU popup = GetSubMenu(resource, 1);
    std::vector<std::pair<UINT, std::wstring>> items;
    for (int i = 0; i < GetMenuItemCount(popup); ++i) {
        wchar_t text[64] = {};
        GetMenuStringW(popup, static_cast<UINT>(i), text, 64, MF_BYPOSITION);
        items.emplace_back(GetMenuItemID(popup, i), text);
    }
    DestroyMenu(resource);
    FreeLibrary(program);
    EXPECT_EQ(items, (std::vector<std::pair<UINT, std::wstring>>{{32773, L"Open"},
                                                                 {32780, L"Reconnect"},
                                                                 {0, L""},
                                                                 {32774, L"Program Info"},
                                                                 {32775, L"Exit"},
                                                                 {32782, L""}}));
    // Open, chosen from the keyboard: the first item.
    PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, kShowHideTimeoutMs));
    ExitThroughTheMenu(window);
}

}  // namespace
}  // namespace kx7::e2e
