// The small dialog-application framework the connector is written against: one application
// object with a start-up hook, modal dialogs from resource templates with message maps, and the
// framework message box. It grows with the program; it is not a general library.
#pragma once

#include <windows.h>

#include <string>

namespace kx7 {

class CWnd {
  public:
    virtual ~CWnd() = default;
    HWND m_hWnd = nullptr;
};

class CWinApp {
  public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Returning false ends the process once the hook returns.
    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance() { return 0; }

    // The per-user profile root becomes HKEY_CURRENT_USER\Software\<key>\<application name>.
    void SetRegistryKey(const wchar_t* key);
    HICON LoadIconResource(UINT id) const;
    // The framework message box: owner the main window when there is one, the application name
    // as caption, and the icon a box of that kind customarily has when the caller gives none.
    int DoMessageBox(const wchar_t* text, UINT type) const;

    HINSTANCE m_hInstance = nullptr;
    std::wstring m_strCommandLine;  // the arguments after the program name
    std::wstring m_strAppName;      // the executable's file name without extension
    std::wstring m_strRegistryKey;
    std::wstring m_strProfileName;
    CWnd* m_pMainWnd = nullptr;
};

CWinApp* AfxGetApp();
// Runs the one application object: its start-up hook, then its exit. Called from wWinMain.
int AfxWinMain(HINSTANCE instance);
int AfxMessageBox(const wchar_t* text, UINT type = MB_OK);

class CDialog;
using DialogHandler = LRESULT (CDialog::*)(WPARAM, LPARAM);

// One entry binds a window message (and, for WM_COMMAND, a control or command id) to a handler.
struct MessageMapEntry {
    UINT message;
    UINT id;
    DialogHandler handler;
};
struct MessageMap {
    const MessageMap* base;
    const MessageMapEntry* entries;  // ends with an entry whose handler is null
};

template <typename T>
constexpr DialogHandler Handler(LRESULT (T::*fn)(WPARAM, LPARAM)) {
    return static_cast<DialogHandler>(fn);
}

class CDialog : public CWnd {
  public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    // Runs the dialog from its template until EndDialog; returns the dialog's result, or -1
    // when the dialog cannot be created.
    INT_PTR DoModal();
    void EndDialog(int result);

    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }

  protected:
    virtual const MessageMap* GetMessageMap() const;

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

    UINT m_nTemplateId;
    CWnd* m_pParent;
};

}  // namespace kx7
