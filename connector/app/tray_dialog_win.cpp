#include "connector/app/tray_dialog_win.h"

#include <cwchar>

namespace kx7 {
namespace {

constexpr UINT kTrayIconId = 1;
constexpr int kTrayMenuPopup = 1;  // the second pop-up of the menu resource
constexpr UINT kTrayMenuFlags = TPM_RIGHTBUTTON | TPM_BOTTOMALIGN;
static_assert(kTrayMenuFlags == 0x22, "right button, bottom-aligned");

// The message the shell broadcasts to every top-level window once its taskbar exists again
// (Explorer restarted after a crash, an update or Task Manager), with every icon gone.
UINT TaskbarCreatedMessage() {
    static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    return message;
}

}  // namespace

TrayShellCalls SystemTrayShellCalls() {
    TrayShellCalls calls = {Shell_NotifyIconW, nullptr, nullptr};
    if (HMODULE user32 = GetModuleHandleW(L"user32.dll")) {
        // Through void* so that the compiler does not take the cast between function types
        // for a mistake.
        calls.filterForWindow = reinterpret_cast<decltype(calls.filterForWindow)>(
            reinterpret_cast<void*>(GetProcAddress(user32, "ChangeWindowMessageFilterEx")));
        calls.filterForProcess = reinterpret_cast<decltype(calls.filterForProcess)>(
            reinterpret_cast<void*>(GetProcAddress(user32, "ChangeWindowMessageFilter")));
    }
    return calls;
}

CTrayDialog::CTrayDialog(UINT templateId, CWnd* parent, const TrayShellCalls& shell)
    : CDialog(templateId, parent), m_shell(shell) {
    ZeroMemory(&m_nid, sizeof(m_nid));
    m_nid.cbSize = kTrayIconRecordSize;
    m_nid.uID = kTrayIconId;
    m_nid.uFlags = NIF_MESSAGE;
    m_nid.uCallbackMessage = WM_TRAY_NOTIFY;
}

CTrayDialog::~CTrayDialog() {
    if (m_nid.hIcon != nullptr) {
        DestroyIcon(m_nid.hIcon);
    }
}

const MessageMap* CTrayDialog::GetMessageMap() const {
    static const MessageMapEntry entries[] = {
        OnMessage(WM_CREATE, &CTrayDialog::OnCreate),
        OnMessage(WM_DESTROY, &CTrayDialog::OnDestroy),
        OnMessage(WM_SYSCOMMAND, &CTrayDialog::OnSysCommand),
        OnMessage(WM_TRAY_NOTIFY, &CTrayDialog::OnTrayNotify),
        OnMessage(TaskbarCreatedMessage(), &CTrayDialog::OnTaskbarCreated),
        kEndOfMessageMap,
    };
    static const MessageMap map = {CDialog::GetMessageMap(), entries};
    return &map;
}

void CTrayDialog::SetTrayIcon(UINT iconResourceId) {
    CWinApp* app = AfxGetApp();
    HICON icon = app != nullptr ? app->LoadSmallIconResource(iconResourceId) : nullptr;
    if (icon != nullptr) {
        if (m_nid.hIcon != nullptr) {
            DestroyIcon(m_nid.hIcon);
        }
        m_nid.hIcon = icon;
        m_nid.uFlags |= NIF_ICON;
    }
}

void CTrayDialog::SetTrayTip(const wchar_t* text) {
    const size_t room = sizeof(m_nid.szTip) / sizeof(m_nid.szTip[0]);
    // A longer tip is cut at the field's end rather than written past it.
    std::wcsncpy(m_nid.szTip, text, room - 1);
    m_nid.szTip[room - 1] = L'\0';
    m_nid.uFlags |= NIF_TIP;
}

BOOL CTrayDialog::SetTrayMenu(UINT menuResourceId) {
    return m_trayMenu.LoadMenu(menuResourceId);
}

BOOL CTrayDialog::NotifyShell(DWORD message) {
    NOTIFYICONDATAW record;
    ZeroMemory(&record, sizeof(record));
    CopyMemory(&record, &m_nid, kTrayIconRecordSize);
    record.cbSize = kTrayIconRecordSize;
    return m_shell.notifyIcon(message, &record);
}

BOOL CTrayDialog::ShowTrayIcon() {
    if (m_bTrayIconVisible) {
        return FALSE;
    }
    const BOOL added = NotifyShell(NIM_ADD);
    if (added) {
        m_bTrayIconVisible = TRUE;
    }
    return added;
}

BOOL CTrayDialog::HideTrayIcon() {
    if (!m_bTrayIconVisible) {
        return FALSE;
    }
    const BOOL deleted = NotifyShell(NIM_DELETE);
    if (deleted) {
        m_bTrayIconVisible = FALSE;
    }
    return deleted;
}

void CTrayDialog::RestoreFromTray() {
    if (m_bMinimizeToTray && HideTrayIcon()) {
        ShowWindow(SW_SHOW);
    }
}

LRESULT CTrayDialog::OnCreate(WPARAM, LPARAM) {
    m_nid.hWnd = m_hWnd;
    m_nid.uID = kTrayIconId;
    // The shell's broadcast "TaskbarCreated".
    AllowFromLowerRights(TaskbarCreatedMessage());
    return 0;
}

void CTrayDialog::AllowFromLowerRights(UINT message) {
    // The shell runs with the user's normal rights and this program elevated; from Vista on the
    // system drops messages from a lower integrity level unless the window lets them through.
    constexpr DWORD kAllow = 1;  // MSGFLT_ALLOW, and MSGFLT_ADD of the process-wide call
    if (m_shell.filterForWindow != nullptr) {
        m_shell.filterForWindow(m_hWnd, message, kAllow, nullptr);
    } else if (m_shell.filterForProcess != nullptr) {
        m_shell.filterForProcess(message, kAllow);
    }
}

LRESULT CTrayDialog::OnTaskbarCreated(WPARAM, LPARAM) {
    // Only an icon the shell had is put back: the window hidden to the tray. A shown window has
    // none, and in hide mode there never is one.
    if (!m_bTrayIconVisible) {
        return 0;
    }
    // The broadcast also comes without a restart (some systems send it when the display's
    // scale changes); an icon the shell still has is kept, never added a second time.
    if (NotifyShell(NIM_MODIFY) || NotifyShell(NIM_ADD)) {
        return 0;
    }
    // A hidden window without an icon could be neither opened nor ended: show it, with the icon
    // counted as gone, so that Close hides it to the tray again later.
    m_bTrayIconVisible = FALSE;
    ShowWindow(SW_SHOW);
    return 0;
}

LRESULT CTrayDialog::OnDestroy(WPARAM, LPARAM) {
    if (m_nid.hWnd != nullptr && m_nid.uID > 0 && m_bTrayIconVisible) {
        NotifyShell(NIM_DELETE);
    }
    SetMsgHandled(false);  // the dialog's own destruction goes on
    return 0;
}

LRESULT CTrayDialog::OnSysCommand(WPARAM command, LPARAM lParam) {
    const UINT id = static_cast<UINT>(command & 0xFFF0);
    if (lParam == TRAY_MINIMIZE_MARKER || id == SC_CLOSE) {
        // Closing never closes, and anything else that carries the marker is dropped.
        if (m_bMinimizeToTray && id == SC_MINIMIZE && ShowTrayIcon()) {
            ShowWindow(SW_HIDE);
        }
        return 0;
    }
    SetMsgHandled(false);
    return 0;
}

LRESULT CTrayDialog::OnTrayNotify(WPARAM iconId, LPARAM mouseMessage) {
    if (iconId != kTrayIconId) {
        return static_cast<LRESULT>(-1);
    }
    POINT point = {0, 0};
    GetCursorPos(&point);
    // Only the right button does anything; moves, the left button and double clicks do not.
    switch (static_cast<UINT>(mouseMessage)) {
        case WM_RBUTTONDOWN:
        case WM_CONTEXTMENU:
            OnTrayRightDown(point);
            break;
        default:
            break;
    }
    return 1;
}

void CTrayDialog::OnTrayRightDown(POINT point) {
    SetForegroundWindow();
    HMENU popup = m_trayMenu.GetSubMenu(kTrayMenuPopup);
    if (popup != nullptr) {
        TrackPopupMenu(popup, kTrayMenuFlags, point.x, point.y, 0, m_hWnd, nullptr);
    }
}

}  // namespace kx7
