// The connector's application object and its start-up hook.
#include <windows.h>
#include <commctrl.h>

#include "connector/app/app_win.h"
#include "connector/app/main_dialog_win.h"
#include "connector/app/startup.h"
#include "connector/platform/dll_search_win.h"

namespace kx7 {

namespace {

class Win32StartupHost final : public StartupHost {
  public:
    explicit Win32StartupHost(CKX7AutoConnectorApp& app) : app_(app) {}

    uintptr_t FindWindowByTitle(const wchar_t* title) override {
        return reinterpret_cast<uintptr_t>(FindWindowW(nullptr, title));
    }
    uintptr_t FindWindowByClass(const wchar_t* className) override {
        return reinterpret_cast<uintptr_t>(FindWindowW(className, nullptr));
    }
    void SetForeground(uintptr_t window) override {
        SetForegroundWindow(reinterpret_cast<HWND>(window));
    }
    void ShowFrameworkMessage(const wchar_t* text) override { AfxMessageBox(text, MB_OK); }
    void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }

    void InitFramework() override {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES};
        InitCommonControlsEx(&controls);
        app_.CWinApp::InitInstance();
    }

    void RegisterPrivateClass() override {
        WNDCLASSEXW wc;
        ZeroMemory(&wc, sizeof(wc));
        wc.cbSize = sizeof(wc);
        GetClassInfoExW(app_.m_hInstance, L"#32770", &wc);
        // The dialog template is looked up with the program's instance, so the class must be
        // registered under it, not under the instance the system class reports.
        wc.hInstance = app_.m_hInstance;
        wc.lpszClassName = kPrivateClassName;
        RegisterClassExW(&wc);
    }

    void RunMainDialog(const StartupState& state) override {
        // Known before the dialog exists: it decides the dialog's first moments.
        app_.m_strArguments = state.m_strArguments;
        app_.m_bHideMode = state.m_bHideMode;
        auto* dialog = new CKX7AutoConnectorDlg(state.m_bHideMode != 0);
        app_.m_pMainWnd = dialog;
        dialog->DoModal();
        // The worker still holds the dialog's state while it finishes; a worker that does not
        // end (a box of its own left open) keeps it, and the process ends around both.
        if (!dialog->WaitForWorker(kWorkerEndTimeoutMs)) {
            return;
        }
        app_.m_pMainWnd = nullptr;
        delete dialog;
    }

  private:
    static constexpr DWORD kWorkerEndTimeoutMs = 5000;
    CKX7AutoConnectorApp& app_;
};

#if defined(__i386__)
static_assert(sizeof(WNDCLASSEXW) == 48, "the class record the system expects on i686");
#endif

}  // namespace

BOOL CKX7AutoConnectorApp::InitInstance() {
    // The framework's start has loaded nothing yet; from here on no DLL comes from the
    // program's folder or the current directory.
    RestrictDllSearchToSystem();
    Win32StartupHost host(*this);
    StartupState state;
    RunStartup(host, m_strCommandLine, &state);
    return FALSE;
}

CKX7AutoConnectorApp theApp;

}  // namespace kx7
