// The connector's application object and its start-up hook.
#include <windows.h>
#include <commctrl.h>

#include "connector/app/framework_win.h"
#include "connector/app/main_dialog_win.h"
#include "connector/app/startup.h"

namespace kx7 {

class CKX7AutoConnectorApp : public CWinApp {
  public:
    BOOL InitInstance() override;

    std::wstring m_strArguments;
    int32_t m_bHideMode = 0;
};

namespace {

class Win32StartupHost final : public StartupHost {
  public:
    explicit Win32StartupHost(CWinApp& app) : app_(app) {}

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
        app_.SetRegistryKey(L"Stonevault");
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

    void RunMainDialog() override {
        auto* dialog = new CKX7AutoConnectorDlg(nullptr);
        app_.m_pMainWnd = dialog;
        dialog->DoModal();
        app_.m_pMainWnd = nullptr;
        delete dialog;
    }

  private:
    CWinApp& app_;
};

static_assert(sizeof(WNDCLASSEXW) == 48, "the class record the system expects on i686");

}  // namespace

BOOL CKX7AutoConnectorApp::InitInstance() {
    Win32StartupHost host(*this);
    StartupState state;
    RunStartup(host, m_strCommandLine, &state);
    m_strArguments = state.m_strArguments;
    m_bHideMode = state.m_bHideMode;
    return FALSE;
}

CKX7AutoConnectorApp theApp;

}  // namespace kx7
