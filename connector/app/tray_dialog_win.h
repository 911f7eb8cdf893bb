// A dialog that lives in the notification area instead of on the screen: hiding it adds its
// tray icon, restoring it removes the icon, and mouse events on the icon become virtual calls,
// the right button opening a pop-up menu from a menu resource.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include "connector/app/framework_win.h"

namespace kx7 {

// The tray icon's callback message.
constexpr UINT WM_TRAY_NOTIFY = WM_USER + 0x61;
// lParam of the dialog's own request to hide to the tray, which a plain minimise lacks.
constexpr LPARAM TRAY_MINIMIZE_MARKER = 10090;
// The record the shell is given: the version that ends with the item GUID. Newer headers may
// declare a longer record; the shell reads only as much as the size field announces.
constexpr DWORD kTrayIconRecordSize = NOTIFYICONDATAW_V3_SIZE;
#if defined(__i386__)
static_assert(kTrayIconRecordSize == 952, "the 32-bit record with the item GUID is 952 bytes");
#endif
static_assert(sizeof(NOTIFYICONDATAW) >= kTrayIconRecordSize,
              "the header's record holds the 952-byte version");
static_assert(offsetof(NOTIFYICONDATAW, guidItem) + sizeof(GUID) == kTrayIconRecordSize,
              "the 952-byte version ends with the item GUID");

// The system calls of the tray, replaceable in a test. The two message filters may be missing:
// Windows 7 has both, Vista only the one for the whole process, XP neither (nor the barrier).
struct TrayShellCalls {
    BOOL(WINAPI* notifyIcon)(DWORD message, PNOTIFYICONDATAW record);
    BOOL(WINAPI* filterForWindow)(HWND window, UINT message, DWORD action, void* change);
    BOOL(WINAPI* filterForProcess)(UINT message, DWORD action);
};
TrayShellCalls SystemTrayShellCalls();

class CTrayDialog : public CDialog {
  public:
    explicit CTrayDialog(UINT templateId, CWnd* parent = nullptr,
                         const TrayShellCalls& shell = SystemTrayShellCalls());
    ~CTrayDialog() override;

    // The icon at the display's small icon size, which the notification area shows unscaled.
    void SetTrayIcon(UINT iconResourceId);
    // At most 127 characters are kept: the field holds 128 with the terminator.
    void SetTrayTip(const wchar_t* text);
    BOOL SetTrayMenu(UINT menuResourceId);
    BOOL ShowTrayIcon();
    BOOL HideTrayIcon();
    void RestoreFromTray();

    // The right button, or the shell's context-menu request, on the icon: the tray menu.
    virtual void OnTrayRightDown(POINT point);

  protected:
    const MessageMap* GetMessageMap() const override;

    LRESULT OnCreate(WPARAM, LPARAM);
    LRESULT OnDestroy(WPARAM, LPARAM);
    LRESULT OnSysCommand(WPARAM command, LPARAM lParam);
    LRESULT OnTrayNotify(WPARAM iconId, LPARAM mouseMessage);
    // A (re)started shell has no icon of ours: see the handler.
    LRESULT OnTaskbarCreated(WPARAM, LPARAM);

    BOOL m_bMinimizeToTray = TRUE;
    BOOL m_bTrayIconVisible = FALSE;
    NOTIFYICONDATAW m_nid;
    CMenu m_trayMenu;

    // Lets message through to this window from programs with fewer rights; see the definition.
    void AllowFromLowerRights(UINT message);

  private:
    // The shell call, with the record cut to the size it announces.
    BOOL NotifyShell(DWORD message);

    TrayShellCalls m_shell;
};

}  // namespace kx7
