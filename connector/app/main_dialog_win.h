// The connector's main window: the device tree, the serial of the drive being served and the
// log, hidden in the notification area with the tray commands Open, Reconnect, Program Info and
// Exit. Its initialisation starts the program's work in a fixed order, and its handlers turn
// commands and device events into the requests the connect worker acts on. The run-time state
// and the logic on it live in ConnectorState and DeviceTree; this class is their window.
#pragma once

#include <windows.h>

#include <setupapi.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "connector/app/tray_dialog_win.h"
#include "connector/devtree/device_tree.h"
#include "connector/devtree/tree_control_win.h"
#include "connector/engine/audit_trail.h"
#include "connector/engine/settings.h"
#include "connector/engine/worker/connector_state.h"

namespace kx7 {

constexpr UINT_PTR TICK_TIMER_ID = 0x1001;
constexpr UINT kTickPeriodMs = 500;
constexpr UINT kSysCommandAbout = 0x10;
extern const wchar_t kExitConfirmationText[];
extern const wchar_t kRegisterNotificationFailedText[];  // "Can't register device notification: "

class CAboutDlg : public CDialog {
  public:
    CAboutDlg();
};

class CKX7AutoConnectorDlg : public CTrayDialog, public ConnectorView, public DeviceTreeUi {
  public:
    // hideMode: started with /HIDE, so the window and the tray icon never show.
    explicit CKX7AutoConnectorDlg(bool hideMode, CWnd* parent = nullptr);
    ~CKX7AutoConnectorDlg() override;

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL PreTranslateMessage(MSG* msg) override;
    // Enter and a cancel request from the dialog manager end nothing: only Exit, with its
    // confirmation, ends the program, and only after the worker has finished.
    void OnOK() override {}
    void OnCancel() override {}

    // After the modal run: waits for the worker to have ended. False when it did not end in
    // time, in which case the dialog must outlive the process's last moments.
    bool WaitForWorker(DWORD timeoutMs);

    // ConnectorView, called from the worker thread.
    void SetLogText(const std::wstring& text) override;
    void AddLogLine(const std::wstring& line) override;
    void SetDeviceSerialText(const std::wstring& text) override;
    void ShowAppMessage(const std::wstring& text) override;
    void ShowRefusal(const std::wstring& text) override;
    void PostWorkerDone(uintptr_t wParam, intptr_t lParam) override;
    WindowHandle OwnerWindow() override;

    // DeviceTreeUi, called on the user-interface thread.
    std::wstring GetLogEditText() override;
    void SetLogEditText(const std::wstring& text) override;
    void ShowError(const std::wstring& text) override;

  protected:
    const MessageMap* GetMessageMap() const override;

    LRESULT OnSysCommand(WPARAM command, LPARAM lParam);
    LRESULT OnPaint(WPARAM, LPARAM);
    LRESULT OnQueryDragIcon(WPARAM, LPARAM);
    LRESULT OnDeviceChange(WPARAM event, LPARAM data);
    LRESULT OnTickTimer(WPARAM timerId, LPARAM);
    LRESULT OnWorkerDone(WPARAM wParam, LPARAM lParam);
    LRESULT OnContextMenu(WPARAM, LPARAM);
    LRESULT OnWindowPosChanging(WPARAM, LPARAM position);
    LRESULT OnClose(WPARAM, LPARAM);
    LRESULT OnQueryEndSession(WPARAM, LPARAM);
    LRESULT OnEndSession(WPARAM ending, LPARAM);
    LRESULT OnDestroy(WPARAM, LPARAM);
    LRESULT OnOpenCommand(WPARAM, LPARAM);
    LRESULT OnReconnect(WPARAM, LPARAM);
    LRESULT OnProgramInfo(WPARAM, LPARAM);
    LRESULT OnExitCommand(WPARAM, LPARAM);
    LRESULT OnCloseButton(WPARAM, LPARAM);

  private:
    bool HideMode() const;
    // False, after telling the user, when any registration fails; the initialisation then
    // stops there, and no worker starts.
    bool RegisterDeviceNotifications();
    void CollectFingerprint();
    void StartTickTimer(UINT periodMs);
    int GetClassImageIndex(const InterfaceGuid& classGuid);
    // The orderly end: no new pass, the running one finishes, then the worker's done message
    // ends the run. Without a worker the run ends at once.
    void RequestQuit();
    // Writes the end of the run to the event log, once, however the run ends.
    void ReportEnded();

    const int32_t m_bHideMode;
    AuditTrail m_audit;
    const std::wstring m_strVersion;  // as the version resource states it, for the events
    bool m_bEndReported = false;
    HICON m_hIcon = nullptr;
    HICON m_hSmallIcon = nullptr;  // owned; the window's small icon
    ConnectorSettings m_settings;
    std::wstring m_strDeviceSerial;  // the text edit 1004 is set up with
    CWnd m_wndTree;
    CWnd m_wndLog;
    SP_CLASSIMAGELIST_DATA m_classImageList;
    std::unique_ptr<ConnectorState> m_state;
    std::unique_ptr<Win32TreeControl> m_treeControl;
    std::unique_ptr<DeviceInfoSource> m_deviceInfo;
    std::unique_ptr<DeviceTree> m_deviceTree;
    // Kept, unlike a fire-and-forget thread, so the dialog is never destroyed under the worker.
    HANDLE m_hWorkerThread = nullptr;
    // Set when the session ends: from then on no box is shown, by either thread.
    std::atomic<bool> m_bSessionEnding{false};
    bool m_bImageListLoaded = false;
};

}  // namespace kx7
