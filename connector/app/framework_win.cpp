#include "connector/app/framework_win.h"

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

void CWinApp::SetRegistryKey(const wchar_t* key) {
    m_strRegistryKey = key;
    m_strProfileName = m_strAppName;
}

HICON CWinApp::LoadIconResource(UINT id) const {
    return LoadIconW(m_hInstance, MAKEINTRESOURCEW(id));
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

CDialog::CDialog(UINT templateId, CWnd* parent) : m_nTemplateId(templateId), m_pParent(parent) {}

CDialog::~CDialog() = default;

const MessageMap* CDialog::GetMessageMap() const {
    static const MessageMapEntry entries[] = {{0, 0, nullptr}};
    static const MessageMap map = {nullptr, entries};
    return &map;
}

INT_PTR CDialog::DoModal() {
    CWinApp* app = AfxGetApp();
    HINSTANCE instance = app != nullptr ? app->m_hInstance : GetModuleHandleW(nullptr);
    return DialogBoxParamW(instance, MAKEINTRESOURCEW(m_nTemplateId),
                           m_pParent != nullptr ? m_pParent->m_hWnd : nullptr, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(int result) {
    if (m_hWnd != nullptr) {
        ::EndDialog(m_hWnd, result);
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
            *result = (this->*(entry->handler))(wParam, lParam);
            return true;
        }
    }
    return false;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        dialog->m_hWnd = window;
        return dialog->OnInitDialog();
    }
    auto* dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (dialog == nullptr) {
        return FALSE;
    }
    LRESULT result = 0;
    if (dialog->Dispatch(message, wParam, lParam, &result)) {
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
    if (message == WM_NCDESTROY) {
        dialog->m_hWnd = nullptr;
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
    return app->ExitInstance();
}

}  // namespace kx7

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    return kx7::AfxWinMain(instance);
}
