// The tray base against a recording shell: what it asks of the message filter, and what it
// does when a restarted shell announces itself.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "connector/app/tray_dialog_win.h"
#include "connector/platform/end_connector_message.h"

namespace kx7 {
namespace {

const UINT kTaskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
const UINT kEndConnector = RegisterWindowMessageW(kEndConnectorMessageName);
std::vector<std::string> g_calls;
BOOL g_modifyAnswer = FALSE;
BOOL g_addAnswer = TRUE;
HWND g_filtered = nullptr;

BOOL WINAPI RecordNotify(DWORD message, PNOTIFYICONDATAW) {
    g_calls.push_back(message == NIM_ADD ? "add" : message == NIM_MODIFY ? "modify" : "delete");
    return message == NIM_ADD ? g_addAnswer : message == NIM_MODIFY ? g_modifyAnswer : TRUE;
}
BOOL WINAPI RecordWindowFilter(HWND window, UINT message, DWORD action, void* change) {
    g_filtered = window;
    const char* kind = change != nullptr            ? "stray filter "
                       : message == kTaskbarCreated ? "window filter "
                       : message == kEndConnector   ? "end filter "
                                                    : "stray filter ";
    g_calls.push_back(kind + std::to_string(action));
    return TRUE;
}
BOOL WINAPI RecordProcessFilter(UINT message, DWORD action) {
    g_calls.push_back((message == kTaskbarCreated ? "process filter "
                       : message == kEndConnector ? "process end filter "
                                                  : "stray filter ") +
                      std::to_string(action));
    return TRUE;
}

// Shown, then the script runs, then the dialog ends.
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
    void ShellRestarts() { SendMessage(kTaskbarCreated); }
    void AllowEndMessage() { AllowFromLowerRights(kEndConnector); }
    bool Visible() const { return IsWindowVisible(m_hWnd) != FALSE; }
    bool IconCounted() const { return m_bTrayIconVisible != FALSE; }

  private:
    std::function<void(ScriptedTray&)> script_;
};

// MSGFLT_ALLOW for the window where the system has it, else MSGFLT_ADD for the process: the
// restarted shell's broadcast, and whatever the window lets through besides.
TEST(TrayShell, TheRestartedShellsBroadcastIsLetThroughAsTheSystemAllows) {
    const TrayShellCalls systems[] = {{RecordNotify, RecordWindowFilter, RecordProcessFilter},
                                      {RecordNotify, nullptr, RecordProcessFilter},
                                      {RecordNotify, nullptr, nullptr}};
    const std::vector<std::string> expected[] = {
        {"window filter 1", "end filter 1"}, {"process filter 1", "process end filter 1"}, {}};
    for (size_t i = 0; i < 3; ++i) {
        g_calls.clear();
        HWND window = nullptr;
        ScriptedTray tray(systems[i], [&](ScriptedTray& t) {
            window = t.m_hWnd;
            t.AllowEndMessage();  // as the connector's window does for an installer's request
        });
        ASSERT_EQ(tray.DoModal(), IDOK);
        EXPECT_EQ(g_calls, expected[i]) << "system " << i;
        EXPECT_TRUE(i > 0 || g_filtered == window) << "the dialog's own window";
    }
}

TEST(TrayShell, TheIconIsPutBackOnlyWhenTheShellLostItAndTheWindowShowsWhenItCannotBe) {
    struct Case {
        BOOL modifyAnswer, addAnswer;
        std::vector<std::string> calls;
        bool visible;
    } cases[] = {
        {TRUE, TRUE, {"modify"}, false},          // the shell still has it: never a second
        {FALSE, TRUE, {"modify", "add"}, false},  // lost, and added again
        {FALSE, FALSE, {"modify", "add"}, true},  // refused: the window comes out instead
    };
    for (const Case& c : cases) {
        ScriptedTray tray({RecordNotify, nullptr, nullptr}, [&](ScriptedTray& t) {
            g_calls.clear();
            g_addAnswer = TRUE;
            t.ShellRestarts();
            EXPECT_TRUE(g_calls.empty()) << "a shown window has no icon to put back";
            t.SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, TRAY_MINIMIZE_MARKER);
            ASSERT_FALSE(t.Visible());
            g_calls.clear();
            g_modifyAnswer = c.modifyAnswer;
            g_addAnswer = c.addAnswer;
            t.ShellRestarts();
            EXPECT_EQ(g_calls, c.calls);
            EXPECT_EQ(t.Visible(), c.visible);
            EXPECT_EQ(t.IconCounted(), !c.visible) << "the icon counted as gone";
        });
        ASSERT_EQ(tray.DoModal(), IDOK);
    }
}

}  // namespace
}  // namespace kx7
