// The small dialog-application framework the connector is written against: one application
// object with a start-up hook, windows and controls as thin wrappers over their handles, modal
// dialogs from resource templates with message maps, data exchange with their controls, the
// framework message box and worker threads. It holds what the program uses and no more.
#pragma once

#include <windows.h>

#include <string>

namespace kx7 {

class CWnd {
  public:
    CWnd() = default;
    virtual ~CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    BOOL ShowWindow(int command) const { return ::ShowWindow(m_hWnd, command); }
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::PostMessageW(m_hWnd, message, wParam, lParam);
    }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessageW(m_hWnd, message, wParam, lParam);
    }
    void SetWindowText(const std::wstring& text) const { ::SetWindowTextW(m_hWnd, text.c_str()); }
    std::wstring GetWindowText() const;
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
    BOOL SetForegroundWindow() const { return ::SetForegroundWindow(m_hWnd); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }

    HWND m_hWnd = nullptr;
};

// A menu loaded from a resource; destroyed with its owner.
class CMenu {
  public:
    CMenu() = default;
    ~CMenu();
    CMenu(const CMenu&) = delete;
    CMenu& operator=(const CMenu&) = delete;

    BOOL LoadMenu(UINT resourceId);
    HMENU GetSubMenu(int position) const;

    HMENU m_hMenu = nullptr;
};

class CWinApp {
  public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // The program runs inside the hook; the process ends once it returns.
    virtual BOOL InitInstance() { return TRUE; }

    // At the large icon size of the display (32 pixels at 100 %), shared and never destroyed.
    HICON LoadIconResource(UINT id) const;
    // At the small icon size of the display (16 pixels at 100 %, 24 at 150 %), for the
    // notification area and the window's small icon; the caller destroys it. The system would
    // scale the large image down for those places, and blur it.
    HICON LoadSmallIconResource(UINT id) const;
    // The framework message box: owner the main window when there is one, the application name
    // as caption, and the icon a box of that kind customarily has when the caller gives none.
    int DoMessageBox(const wchar_t* text, UINT type) const;

    HINSTANCE m_hInstance = nullptr;
    std::wstring m_strCommandLine;  // the arguments after the program name
    std::wstring m_strAppName;      // the executable's file name without extension
    CWnd* m_pMainWnd = nullptr;
};

CWinApp* AfxGetApp();
// Runs the one application object's start-up hook. Called from wWinMain.
int AfxWinMain(HINSTANCE instance);
int AfxMessageBox(const wchar_t* text, UINT type = MB_OK);
inline int AfxMessageBox(const std::wstring& text, UINT type = MB_OK) {
    return AfxMessageBox(text.c_str(), type);
}

// Starts fn(param) on a new thread at normal priority with the default stack size, running at
// once. Returns the thread's handle, which the caller closes, or null when no thread started.
HANDLE AfxBeginThread(unsigned(__stdcall* fn)(void*), void* param);

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
template <typename T>
constexpr MessageMapEntry OnMessage(UINT message, LRESULT (T::*fn)(WPARAM, LPARAM)) {
    return {message, 0, Handler(fn)};
}
template <typename T>
constexpr MessageMapEntry OnCommand(UINT id, LRESULT (T::*fn)(WPARAM, LPARAM)) {
    return {WM_COMMAND, id, Handler(fn)};
}
constexpr MessageMapEntry kEndOfMessageMap = {0, 0, nullptr};

// Moves data from a dialog's members to its controls when the dialog is set up; nothing is read
// back, since the program keeps its state outside the controls.
class CDataExchange {
  public:
    explicit CDataExchange(CWnd* dialog) : m_pDlgWnd(dialog) {}
    CWnd* m_pDlgWnd;
};
// Binds the control with this id to the member window, once.
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
// Puts the text into the control with this id.
void DDX_Text(CDataExchange* pDX, int id, const std::wstring& value);

class CDialog : public CWnd {
  public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    // Creates the dialog from its template and runs it until EndDialog or a quit message (which
    // it posts again, so that every loop around it ends too), offering every message to
    // PreTranslateMessage first. The owner (the given parent, else the application's main
    // window) is disabled meanwhile. Returns the dialog's result, or -1 when the dialog cannot
    // be created.
    INT_PTR DoModal();
    void EndDialog(int result);

    virtual BOOL OnInitDialog();
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // True when the message was handled and must not be dispatched.
    virtual BOOL PreTranslateMessage(MSG* msg);
    virtual void DoDataExchange(CDataExchange* pDX) { (void)pDX; }
    // Runs DoDataExchange: the members' values go to the controls.
    BOOL UpdateData();

  protected:
    virtual const MessageMap* GetMessageMap() const;
    // Within a handler: the message goes on to the system's default handling afterwards.
    void SetMsgHandled(bool handled) { m_bMsgHandled = handled; }

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

    UINT m_nTemplateId;
    CWnd* m_pParent;
    bool m_bModalRunning = false;
    bool m_bMsgHandled = true;
    INT_PTR m_nModalResult = -1;
};

}  // namespace kx7
