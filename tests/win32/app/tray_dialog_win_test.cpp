// The tray base against a recording shell: what it asks of the message filter, and what it
// does when a restarted shell announces itself.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <tuple>
#include <vector>

#include "connector/app/tray_dialog_win.h"

namespace kx7 {
namespace {

struct ShellLog {
    std::vector<DWORD> notifications;
    BOOL modifyAnswer = FALSE;
    BOOL addAnswer = TRUE;
    std::vector<std::tuple<HWND, UINT, DWORD, void*>> windowFilters;
    std::vector<std::pair<UINT, DWORD>> processFilters;
};
ShellLog g_shell;

BOOL WINAPI RecordNotify(DWORD message, PNOTIFYICONDATAW) {
    g_shell.notifications.push_back(message);
    return message == NIM_ADD      ? g_shell.addAnswer
           : message == NIM_MODIFY ? g_shell.modifyAnswer
                                   : TRUE;
}
BOOL WINAPI RecordWindowFilter(HWND window, UINT message, DWORD action, void* change) {
    g_shell.windowFilters.emplace_back(window, message, action, change);
    return TRUE;
}
BOOL WINAPI RecordProcessFilter(UINT message, DWORD action) {
    g_shell.processFilters.emplace_back(message, action);
    return TRUE;
}

// Runs the script on the shown dialog, then ends it.
class ScriptedTray : public CTrayDialog {
  public:
    ScriptedTray(const TrayShellCalls& shell, std::function<void(ScriptedTray&)> script)
        : CTrayDialog(1, nullptr, shell), script_(std::move(script)) {}
    BOOL OnInitDialog() override {
        CTrayDialog::OnInitDialog();
        ShowWindow(SW_SHOW);
        script_(*this);
        EndDialog(IDOK);
        return TRUE;
    }
    void HideToTray() { SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, TRAY_MINIMIZE_MARKER); }
    void ShellRestarted() { SendMessage(RegisterWindowMessageW(L"TaskbarCreated")); }
    bool Visible() const { return IsWindowVisible(m_hWnd) != FALSE; }

  private:
    std::function<void(ScriptedTray&)> script_;
};

const UINT kTaskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");

TEST(TrayShell, TheRestartedShellsBroadcastIsLetThroughAsTheSystemAllows) {
    HWND window = nullptr;
    g_shell = ShellLog();
    ScriptedTray both({RecordNotify, RecordWindowFilter, RecordProcessFilter},
                      [&](ScriptedTray& tray) { window = tray.m_hWnd; });
    ASSERT_EQ(both.DoModal(), IDOK);
    EXPECT_EQ(
        g_shell.windowFilters,
        (std::vector<std::tuple<HWND, UINT, DWORD, void*>>{{window, kTaskbarCreated, 1u, nullptr}}))
        << "the window's own filter, MSGFLT_ALLOW";
    EXPECT_TRUE(g_shell.processFilters.empty());

    g_shell = ShellLog();
    ScriptedTray vista({RecordNotify, nullptr, RecordProcessFilter}, [](ScriptedTray&) {});
    ASSERT_EQ(vista.DoModal(), IDOK);
    EXPECT_EQ(g_shell.processFilters, (std::vector<std::pair<UINT, DWORD>>{{kTaskbarCreated, 1u}}))
        << "MSGFLT_ADD for the process";

    ScriptedTray xp({RecordNotify, nullptr, nullptr}, [](ScriptedTray&) {});
    EXPECT_EQ(xp.DoModal(), IDOK) << "starts without either";
}

TEST(TrayShell, TheIconIsPutBackOnlyWhenTheShellLostItAndTheWindowShowsWhenItCannotBe) {
    struct Case {
        BOOL modifyAnswer, addAnswer;
        std::vector<DWORD> afterHiding;
        bool visible, iconCounted;
    } cases[] = {
        {TRUE, TRUE, {NIM_MODIFY}, false, true},             // the shell still has it: no second
        {FALSE, TRUE, {NIM_MODIFY, NIM_ADD}, false, true},   // lost, and added again
        {FALSE, FALSE, {NIM_MODIFY, NIM_ADD}, true, false},  // refused: the window comes out
    };
    for (const Case& c : cases) {
        g_shell = ShellLog();
        bool visible = true;
        BOOL counted = FALSE;
        std::vector<DWORD> calls;
        ScriptedTray tray({RecordNotify, nullptr, nullptr}, [&](ScriptedTray& t) {
            t.ShellRestarted();
            EXPECT_TRUE(g_shell.notifications.empty()) << "a shown window has no icon to restore";
            t.HideToTray();
            ASSERT_FALSE(t.Visible());
            g_shell.notifications.clear();
            g_shell.modifyAnswer = c.modifyAnswer;
            g_shell.addAnswer = c.addAnswer;
            t.ShellRestarted();
            calls = g_shell.notifications;
            visible = t.Visible();
            counted = t.IsTrayIconVisible();
        });
        ASSERT_EQ(tray.DoModal(), IDOK);
        EXPECT_EQ(calls, c.afterHiding);
        EXPECT_EQ(visible, c.visible);
        EXPECT_EQ(counted != FALSE, c.iconCounted);
    }
}

}  // namespace
}  // namespace kx7
