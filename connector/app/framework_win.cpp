#include "connector/app/framework_win.h"

#include <process.h>

#include <vector>

namespace kx7 {
namespace {

CWinApp* g_pApp = nullptr;

std::wstring ModuleBaseName(HINSTANCE instance) {
    // Long paths exist; a truncated name would give the boxes a wrong caption.
    std::vector<wchar_t> path(32768);
    const DWORD length = GetModuleFileNameW(instance, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) {
        return L"";
    }
    std::wstring name(path.data(), length);
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) {
        name.erase(0, slash + 1);
    }
    const size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos) {
        name.erase(dot);
    }
    return name;
}

// The text after the program name, which may be quoted and may contain blanks.
std::wstring ArgumentsOf(const wchar_t* commandLine) {
    const wchar_t* p = commandLine;
    if (*p == L'"') {
        ++p;
        while (*p != L'\0' && *p != L'"') {
            ++p;
        }
        if (*p == L'"') {
            ++p;
        }
    } else {
        while (*p != L'\0' && *p != L' ' && *p != L'\t') {
            ++p;
        }
    }
    while (*p == L' ' || *p == L'\t') {
        ++p;
    }
    return p;
}

}  // namespace

CWinApp::CWinApp() {
    g_pApp = this;
}

CWinApp::~CWinApp() {
    if (g_pApp == this) {
        g_pApp = nullptr;
    }
}

CWinApp* AfxGetApp() {
    return g_pApp;
}

std::wstring CWnd::GetWindowText() const {
    const int length = ::GetWindowTextLengthW(m_hWnd);
    if (length <= 0) {
        return std::wstring();
    }
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
    const int copied = ::GetWindowTextW(m_hWnd, buffer.data(), length + 1);
    return std::wstring(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

CMenu::~CMenu() {
    if (m_hMenu != nullptr) {
        DestroyMenu(m_hMenu);
    }
}

BOOL CMenu::LoadMenu(UINT resourceId) {
    CWinApp* app = AfxGetApp();
    HMENU menu = ::LoadMenuW(app != nullptr ? app->m_hInstance : GetModuleHandleW(nullptr),
                             MAKEINTRESOURCEW(resourceId));
    if (menu == nullptr) {
        return FALSE;
    }
    if (m_hMenu != nullptr) {
        DestroyMenu(m_hMenu);
    }
    m_hMenu = menu;
    return TRUE;
}

HMENU CMenu::GetSubMenu(int position) const {
    return m_hMenu != nullptr ? ::GetSubMenu(m_hMenu, position) : nullptr;
}

HANDLE AfxBeginThread(unsigned(__stdcall* fn)(void*), void* param) {
    // The C runtime's own start, so the thread's runtime state is set up and released with it.
    const uintptr_t thread = _beginthreadex(nullptr, 0, fn, param, 0, nullptr);
    return reinterpret_cast<HANDLE>(thread);
}

HICON CWinApp::LoadIconResource(UINT id) const {
    return LoadIconW(m_hInstance, MAKEINTRESOURCEW(id));
}

HICON CWinApp::LoadSmallIconResource(UINT id) const {
    // Not shared: a shared load may hand back the image of an earlier load of the same
    // resource at another size.
    return static_cast<HICON>(LoadImageW(m_hInstance, MAKEINTRESOURCEW(id), IMAGE_ICON,
                                         GetSystemMetrics(SM_CXSMICON),
                                         GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
}

int CWinApp::DoMessageBox(const wchar_t* text, UINT type) const {
    if ((type & MB_ICONMASK) == 0) {
        switch (type & MB_TYPEMASK) {
            case MB_OK:
            case MB_OKCANCEL:
                type |= MB_ICONEXCLAMATION;
                break;
            case MB_YESNO:
            case MB_YESNOCANCEL:
                type |= MB_ICONQUESTION;
                break;
            default:
                break;
        }
    }
    HWND owner = m_pMainWnd != nullptr ? m_pMainWnd->m_hWnd : nullptr;
    if (owner != nullptr && !IsWindow(owner)) {
        owner = nullptr;
    }
    return MessageBoxW(owner, text, m_strAppName.c_str(), type);
}

int AfxMessageBox(const wchar_t* text, UINT type) {
    CWinApp* app = AfxGetApp();
    if (app == nullptr) {
        return MessageBoxW(nullptr, text, L"", type | MB_ICONEXCLAMATION);
    }
    return app->DoMessageBox(text, type);
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    if (control.m_hWnd == nullptr) {
        control.m_hWnd = pDX->m_pDlgWnd->GetDlgItem(id);
    }
}

void DDX_Text(CDataExchange* pDX, int id, const std::wstring& value) {
    HWND item = pDX->m_pDlgWnd->GetDlgItem(id);
    if (item != nullptr) {
        ::SetWindowTextW(item, value.c_str());
    }
}

CDialog::CDialog(UINT templateId, CWnd* parent) : m_nTemplateId(templateId), m_pParent(parent) {}

CDialog::~CDialog() {
    if (m_hWnd != nullptr) {
        DestroyWindow(m_hWnd);
    }
}

const MessageMap* CDialog::GetMessageMap() const {
    static const MessageMapEntry entries[] = {kEndOfMessageMap};
    static const MessageMap map = {nullptr, entries};
    return &map;
}

BOOL CDialog::OnInitDialog() {
    UpdateData();
    return TRUE;
}

BOOL CDialog::UpdateData() {
    CDataExchange dx(this);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::PreTranslateMessage(MSG* msg) {
    // Keyboard navigation (Tab, arrows, Enter and Escape as commands) for this dialog's window
    // and its controls; messages of other windows pass through untouched.
    if (m_hWnd == nullptr || (msg->hwnd != m_hWnd && !IsChild(m_hWnd, msg->hwnd))) {
        return FALSE;
    }
    return IsDialogMessageW(m_hWnd, msg);
}

INT_PTR CDialog::DoModal() {
    CWinApp* app = AfxGetApp();
    HINSTANCE instance = app != nullptr ? app->m_hInstance : GetModuleHandleW(nullptr);
    HWND owner = m_pParent != nullptr ? m_pParent->m_hWnd : nullptr;
    if (owner == nullptr && app != nullptr && app->m_pMainWnd != nullptr &&
        app->m_pMainWnd != this) {
        owner = app->m_pMainWnd->m_hWnd;
    }
    m_bModalRunning = true;
    m_nModalResult = -1;
    // Modeless from the template and run by this loop rather than the system's, so that every
    // message passes PreTranslateMessage before the dialog manager sees it.
    if (CreateDialogParamW(instance, MAKEINTRESOURCEW(m_nTemplateId), owner, DialogProc,
                           reinterpret_cast<LPARAM>(this)) == nullptr) {
        m_bModalRunning = false;
        return -1;
    }
    const bool ownerWasEnabled = owner != nullptr && IsWindowEnabled(owner);
    if (ownerWasEnabled) {
        EnableWindow(owner, FALSE);
    }
    MSG msg;
    while (m_bModalRunning) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            // The quit request belongs to the thread's outermost loop: a box open when the
            // program is told to end must not swallow it, or the program would run on with
            // nothing left to end it. Handed on as the system's own dialog loop does.
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (got == -1) {
            break;
        }
        if (!PreTranslateMessage(&msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    m_bModalRunning = false;
    // The owner comes back before this window goes, so that the system activates it and not
    // some other program's window.
    if (ownerWasEnabled) {
        EnableWindow(owner, TRUE);
    }
    if (m_hWnd != nullptr) {
        DestroyWindow(m_hWnd);
    }
    return m_nModalResult;
}

void CDialog::EndDialog(int result) {
    m_nModalResult = result;
    if (m_bModalRunning) {
        m_bModalRunning = false;
        // Wakes the loop, which may be waiting for a message that never comes.
        ::PostMessageW(m_hWnd, WM_NULL, 0, 0);
    }
}

bool CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    for (const MessageMap* map = GetMessageMap(); map != nullptr; map = map->base) {
        for (const MessageMapEntry* entry = map->entries; entry->handler != nullptr; ++entry) {
            if (entry->message != message) {
                continue;
            }
            if (message == WM_COMMAND && entry->id != LOWORD(wParam)) {
                continue;
            }
            // A handler may cause messages of its own (showing a window sends several), whose
            // handlers set the flag too; each dispatch keeps its own answer.
            const bool outer = m_bMsgHandled;
            m_bMsgHandled = true;
            *result = (this->*(entry->handler))(wParam, lParam);
            const bool handled = m_bMsgHandled;
            m_bMsgHandled = outer;
            return handled;
        }
    }
    return false;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        dialog->m_hWnd = window;
        // The dialog procedure is attached only after the window exists, so it never sees
        // WM_CREATE; the map's creation handler runs here instead, before the initialisation.
        LRESULT created = 0;
        if (dialog->Dispatch(WM_CREATE, 0, 0, &created) && created == -1) {
            dialog->EndDialog(-1);
            return FALSE;
        }
        return dialog->OnInitDialog();
    }
    auto* dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (dialog == nullptr) {
        return FALSE;
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, DWLP_USER, 0);
        dialog->m_hWnd = nullptr;
        dialog->m_bModalRunning = false;  // a window destroyed from elsewhere ends its run too
        return FALSE;
    }
    LRESULT result = 0;
    if (dialog->Dispatch(message, wParam, lParam, &result)) {
        // These few return their answer directly rather than through the message result.
        if (message == WM_QUERYDRAGICON || message == WM_CTLCOLORDLG ||
            message == WM_CTLCOLORSTATIC || message == WM_CTLCOLOREDIT) {
            return static_cast<INT_PTR>(result);
        }
        SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
        return TRUE;
    }
    if (message == WM_COMMAND && HIWORD(wParam) == 0) {
        if (LOWORD(wParam) == IDOK) {
            dialog->OnOK();
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            dialog->OnCancel();
            return TRUE;
        }
    }
    return FALSE;
}

int AfxWinMain(HINSTANCE instance) {
    CWinApp* app = AfxGetApp();
    if (app == nullptr) {
        return 0;
    }
    app->m_hInstance = instance;
    app->m_strAppName = ModuleBaseName(instance);
    app->m_strCommandLine = ArgumentsOf(GetCommandLineW());
    // Whether the hook ran the program or refused to start it, the process ends here.
    app->InitInstance();
    return 0;
}

}  // namespace kx7

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    return kx7::AfxWinMain(instance);
}
