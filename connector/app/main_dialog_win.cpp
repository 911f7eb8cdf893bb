#include "connector/app/main_dialog_win.h"

#include <dbt.h>

#include "connector/app/device_seams_win.h"
#include "connector/app/resource.h"
#include "connector/app/startup.h"
#include "connector/devtree/device_broadcast_win.h"
#include "connector/engine/cleanup_launcher.h"
#include "connector/hostid/system_info.h"
#include "connector/platform/clock.h"
#include "connector/platform/code_page.h"
#include "connector/platform/end_connector_message.h"
#include "connector/platform/event_log.h"
#include "connector/platform/program_version_win.h"
#include "connector/platform/registry.h"
#include "connector/platform/setupapi_win.h"
#include "connector/platform/system_message.h"

namespace kx7 {

const wchar_t kExitConfirmationText[] =
    L"The Stonevault(KX7) can't be used, if you exit this program,\r\nAre you sure you want to "
    L"terminate this program ?";
const wchar_t kRegisterNotificationFailedText[] = L"Can't register device notification: ";

namespace {

constexpr UINT kExitConfirmationStyle = MB_OKCANCEL | MB_ICONEXCLAMATION;
static_assert(kExitConfirmationStyle == 0x31, "OK and Cancel with the exclamation icon");
constexpr UINT kRefusalStyle = MB_OK | MB_ICONEXCLAMATION;
static_assert(kRefusalStyle == 0x30, "OK with the exclamation icon");
constexpr UINT kRefusalBeep = MB_ICONQUESTION;
static_assert(kRefusalBeep == 0x20, "the question beep");
constexpr DWORD kInitialSettleSleepMs = 2000;
// How long a running drive turn may go on once the session ends: long enough for a drive that
// has its packet to unlock (a second), short of the few seconds the system allows before it
// ends a program itself.
constexpr DWORD kSessionEndWorkerWaitMs = 1500;
constexpr DWORD kComputerNameChars = 260;

// Waits up to timeoutMs for handle while serving what other threads send to this thread's
// windows: the worker writes the log and the serial line through such calls, and would stop at
// the first of them if the wait did not. Nothing posted, no input, is taken from the queue.
bool WaitServingSentMessages(HANDLE handle, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        const DWORD elapsed = GetTickCount() - start;
        const DWORD left = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
        const DWORD result = MsgWaitForMultipleObjects(1, &handle, FALSE, left, QS_SENDMESSAGE);
        if (result != WAIT_OBJECT_0 + 1) {
            return result == WAIT_OBJECT_0;  // ended, or the time is up
        }
    }
}

UINT EndConnectorMessage() {
    static const UINT message = RegisterWindowMessageW(kEndConnectorMessageName);
    return message;
}

unsigned __stdcall ConnectThreadEntry(void* param) {
    return ConnectThreadProc(static_cast<ConnectorState*>(param));
}

}  // namespace

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}

CKX7AutoConnectorDlg::CKX7AutoConnectorDlg(bool hideMode, CWnd* parent)
    : CTrayDialog(IDD_KX7AUTOCONNECTOR_DIALOG, parent),
      m_bHideMode(hideMode ? 1 : 0),
      m_audit(&SystemEventLog()),
      m_strVersion(ProgramVersion()) {
    if (CWinApp* app = AfxGetApp()) {
        m_hIcon = app->LoadIconResource(IDR_MAINFRAME);
    }
    ZeroMemory(&m_classImageList, sizeof(m_classImageList));
    LoadConnectorSettings(SystemRegistry(), SystemOsVersion(), &m_settings);
    m_state = std::make_unique<ConnectorState>(
        m_settings, *this,
        ConnectorServices{SystemClock(), SystemRegistry(), ConnectorDeviceInterfaces(),
                          SystemCodePage(), SystemShellLauncher(), &SystemFingerprintCollector(),
                          &SystemEventLog(), &SystemDriveTurnLocks(), &SystemServicePresence()});
}

CKX7AutoConnectorDlg::~CKX7AutoConnectorDlg() {
    if (m_hWorkerThread != nullptr) {
        CloseHandle(m_hWorkerThread);
    }
    if (m_bImageListLoaded) {
        SystemSetupApi()->DestroyClassImageList(&m_classImageList);
    }
    if (m_hSmallIcon != nullptr) {
        DestroyIcon(m_hSmallIcon);
    }
}

const MessageMap* CKX7AutoConnectorDlg::GetMessageMap() const {
    using D = CKX7AutoConnectorDlg;
    static const MessageMapEntry entries[] = {
        OnMessage(WM_SYSCOMMAND, &D::OnSysCommand),
        OnMessage(WM_PAINT, &D::OnPaint),
        OnMessage(WM_QUERYDRAGICON, &D::OnQueryDragIcon),
        OnMessage(WM_DEVICECHANGE, &D::OnDeviceChange),
        OnMessage(WM_TIMER, &D::OnTickTimer),
        OnMessage(WM_CONNECT_WORKER_DONE, &D::OnWorkerDone),
        OnMessage(WM_CONTEXTMENU, &D::OnContextMenu),
        OnMessage(WM_WINDOWPOSCHANGING, &D::OnWindowPosChanging),
        OnMessage(WM_CLOSE, &D::OnClose),
        OnMessage(EndConnectorMessage(), &D::OnClose),
        OnMessage(WM_QUERYENDSESSION, &D::OnQueryEndSession),
        OnMessage(WM_ENDSESSION, &D::OnEndSession),
        OnMessage(WM_DESTROY, &D::OnDestroy),
        OnCommand(ID_TRAY_OPEN, &D::OnOpenCommand),
        OnCommand(ID_TRAY_RECONNECT, &D::OnReconnect),
        OnCommand(ID_TRAY_PROGRAM_INFO, &D::OnProgramInfo),
        OnCommand(ID_TRAY_EXIT, &D::OnExitCommand),
        OnCommand(IDC_CLOSE_BUTTON, &D::OnCloseButton),
        kEndOfMessageMap,
    };
    static const MessageMap map = {CTrayDialog::GetMessageMap(), entries};
    return &map;
}

bool CKX7AutoConnectorDlg::HideMode() const {
    return m_bHideMode != 0;
}

void CKX7AutoConnectorDlg::DoDataExchange(CDataExchange* pDX) {
    CTrayDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_DEVICE_TREE, m_wndTree);
    DDX_Control(pDX, IDC_LOG_EDIT, m_wndLog);
    DDX_Text(pDX, IDC_SERIAL_EDIT, m_strDeviceSerial);
}

BOOL CKX7AutoConnectorDlg::PreTranslateMessage(MSG* msg) {
    // Escape would cancel the dialog, and with it end the program.
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) {
        return TRUE;
    }
    return CTrayDialog::PreTranslateMessage(msg);
}

BOOL CKX7AutoConnectorDlg::OnInitDialog() {
    CTrayDialog::OnInitDialog();
    // An installer's request to end, from whatever rights the installer runs with.
    AllowFromLowerRights(EndConnectorMessage());
    m_audit.ConnectorStarted(m_strVersion, HideMode());

    if (HMENU systemMenu = GetSystemMenu(m_hWnd, FALSE)) {
        wchar_t about[256] = {};
        CWinApp* app = AfxGetApp();
        if (LoadStringW(app != nullptr ? app->m_hInstance : nullptr, IDS_ABOUTBOX, about,
                        static_cast<int>(sizeof(about) / sizeof(about[0]))) > 0) {
            AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(systemMenu, MF_STRING, kSysCommandAbout, about);
        }
    }
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    // Where the system draws the small icon (the taskbar in its small mode, for one), its own
    // image is sharper than m_hIcon scaled down.
    if (CWinApp* app = AfxGetApp()) {
        m_hSmallIcon = app->LoadSmallIconResource(IDR_MAINFRAME);
    }
    SendMessage(WM_SETICON, ICON_SMALL,
                reinterpret_cast<LPARAM>(m_hSmallIcon != nullptr ? m_hSmallIcon : m_hIcon));
    SetWindowText(kMainWindowTitle);

    if (!HideMode()) {
        SetTrayIcon(IDR_MAINFRAME);
        SetTrayTip(kMainWindowTitle);
        SetTrayMenu(IDR_TRAY_MENU);
    }

    ZeroMemory(&m_classImageList, sizeof(m_classImageList));
    m_classImageList.cbSize = sizeof(m_classImageList);
    const SetupApi* setupApi = SystemSetupApi();
    m_bImageListLoaded =
        setupApi != nullptr && setupApi->GetClassImageList(&m_classImageList) != FALSE;
    m_wndTree.SendMessage(TVM_SETIMAGELIST, TVSIL_NORMAL,
                          reinterpret_cast<LPARAM>(m_classImageList.ImageList));
    m_treeControl = std::make_unique<Win32TreeControl>(m_wndTree.m_hWnd);
    m_deviceInfo = MakeDeviceInfoSource(&m_classImageList);
    m_deviceTree = std::make_unique<DeviceTree>(
        DeviceTreeServices{*m_treeControl, *m_deviceInfo, *this, *m_state, SystemTextComparer(),
                           SystemMessageTable()});

    const int computerImage = GetClassImageIndex(kGuidDevclassComputer);
    wchar_t computerName[kComputerNameChars] = {};
    DWORD nameChars = kComputerNameChars;
    if (!GetComputerNameW(computerName, &nameChars)) {
        computerName[0] = L'\0';
    }
    m_deviceTree->SetRootItem(m_treeControl->InsertItem(0, computerName, computerImage, 0));

    if (!RegisterDeviceNotifications()) {
        return FALSE;
    }
    OnDeviceWindowReady(m_hWnd);

    Sleep(kInitialSettleSleepMs);
    if (!HideMode()) {
        PostMessage(WM_SYSCOMMAND, SC_MINIMIZE, TRAY_MINIMIZE_MARKER);
    }
    m_state->LoadRecordAtStartup();
    CollectFingerprint();
    StartTickTimer(kTickPeriodMs);
    m_state->RequestInitialScan();
    m_hWorkerThread = AfxBeginThread(ConnectThreadEntry, m_state.get());
    return TRUE;
}

bool CKX7AutoConnectorDlg::RegisterDeviceNotifications() {
    for (const InterfaceGuid& interfaceClass : kNotificationClasses) {
        DEV_BROADCAST_DEVICEINTERFACE_W filter = InterfaceClassFilter(interfaceClass);
        // The registration ends with the window; there is nothing to keep.
        if (RegisterDeviceNotificationW(m_hWnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE) == nullptr) {
            const DWORD error = GetLastError();
            AfxMessageBox(
                kRegisterNotificationFailedText + ErrorCodeText(SystemMessageTable(), error),
                MB_OK | MB_ICONEXCLAMATION);
            return false;
        }
    }
    return true;
}

void CKX7AutoConnectorDlg::CollectFingerprint() {
    m_state->ReplaceFingerprint(SystemFingerprintCollector().Collect(m_state->RecordCopy()));
}

void CKX7AutoConnectorDlg::StartTickTimer(UINT periodMs) {
    SetTimer(m_hWnd, TICK_TIMER_ID, periodMs, nullptr);
}

int CKX7AutoConnectorDlg::GetClassImageIndex(const InterfaceGuid& classGuid) {
    return m_deviceInfo != nullptr ? m_deviceInfo->GetClassImageIndex(classGuid) : -1;
}

LRESULT CKX7AutoConnectorDlg::OnSysCommand(WPARAM command, LPARAM lParam) {
    if ((command & 0xFFF0) == kSysCommandAbout) {
        CAboutDlg about;
        about.DoModal();
        return 0;
    }
    const LRESULT result = CTrayDialog::OnSysCommand(command, lParam);
    return result;
}

LRESULT CKX7AutoConnectorDlg::OnPaint(WPARAM, LPARAM) {
    if (!IsIconic()) {
        SetMsgHandled(false);
        return 0;
    }
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(m_hWnd, &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, m_hIcon);
    EndPaint(m_hWnd, &paint);
    return 0;
}

LRESULT CKX7AutoConnectorDlg::OnQueryDragIcon(WPARAM, LPARAM) {
    return reinterpret_cast<LRESULT>(m_hIcon);
}

LRESULT CKX7AutoConnectorDlg::OnDeviceChange(WPARAM event, LPARAM data) {
    if ((event == DBT_DEVICEARRIVAL || event == DBT_DEVICEREMOVECOMPLETE) &&
        m_deviceTree != nullptr) {
        std::wstring name;
        if (InterfaceNameOf(reinterpret_cast<const void*>(data), &name)) {
            m_deviceTree->UpdateDeviceTree(
                name, event == DBT_DEVICEARRIVAL ? DeviceEvent::kArrival : DeviceEvent::kRemoval);
        }
    }
    return 0;
}

LRESULT CKX7AutoConnectorDlg::OnTickTimer(WPARAM timerId, LPARAM) {
    if (timerId == TICK_TIMER_ID) {
        m_state->OnTickTimer();
    }
    return 0;
}

LRESULT CKX7AutoConnectorDlg::OnWorkerDone(WPARAM wParam, LPARAM lParam) {
    if (!m_state->IsFinalWorkerDone(wParam, lParam)) {
        return 0;
    }
    PostQuitMessage(0);
    return 1;
}

LRESULT CKX7AutoConnectorDlg::OnContextMenu(WPARAM, LPARAM) {
    return 0;
}

LRESULT CKX7AutoConnectorDlg::OnWindowPosChanging(WPARAM, LPARAM position) {
    if (HideMode()) {
        reinterpret_cast<WINDOWPOS*>(position)->flags &= ~static_cast<UINT>(SWP_SHOWWINDOW);
        return 0;
    }
    SetMsgHandled(false);
    return 0;
}

LRESULT CKX7AutoConnectorDlg::OnClose(WPARAM, LPARAM) {
    // WM_CLOSE or the registered end message. No user gesture reaches here (there is no close
    // box, and the system's Close command is dropped); it comes from programs such as an
    // installer, which get the end a confirmed Exit would give.
    RequestQuit();
    return 0;
}

LRESULT CKX7AutoConnectorDlg::OnQueryEndSession(WPARAM, LPARAM) {
    // Nothing here is worth holding a log-off or shut-down for, and no question is asked.
    return TRUE;
}

LRESULT CKX7AutoConnectorDlg::OnEndSession(WPARAM ending, LPARAM) {
    if (!ending) {
        return 0;  // another program refused; the session goes on, and so do we
    }
    // The end a confirmed Exit gives, without its question and within the session's few
    // seconds: no new pass starts, no box is shown, and a running drive turn gets a moment to
    // finish. A command that is still retrying (a drive that stopped answering may take a
    // minute) is not waited for: the drive stays locked, as it would once the PC is off.
    m_bSessionEnding = true;
    m_state->RequestQuit();
    const bool workerEnded = m_hWorkerThread == nullptr ||
                             WaitServingSentMessages(m_hWorkerThread, kSessionEndWorkerWaitMs);
    // Written here: once this returns, the system may end the process at any moment.
    ReportEnded();
    if (!workerEnded) {
        HideTrayIcon();
        // The worker may hold any lock of the process (the heap's, say), so nothing that
        // cleans up may run after it is stopped: the process ends here, as the system would
        // end it moments later.
        TerminateProcess(GetCurrentProcess(), 0);
    }
    PostQuitMessage(0);
    return 0;
}

LRESULT CKX7AutoConnectorDlg::OnDestroy(WPARAM wParam, LPARAM lParam) {
    ReportEnded();
    KillTimer(m_hWnd, TICK_TIMER_ID);
    if (m_deviceTree != nullptr) {
        m_deviceTree->ReleaseAll();
    }
    return CTrayDialog::OnDestroy(wParam, lParam);
}

LRESULT CKX7AutoConnectorDlg::OnOpenCommand(WPARAM, LPARAM) {
    RestoreFromTray();
    return 0;
}

LRESULT CKX7AutoConnectorDlg::OnReconnect(WPARAM, LPARAM) {
    CollectFingerprint();
    m_state->RequestReconnect();
    return 0;
}

LRESULT CKX7AutoConnectorDlg::OnProgramInfo(WPARAM, LPARAM) {
    CAboutDlg about;
    about.DoModal();
    return 0;
}

LRESULT CKX7AutoConnectorDlg::OnExitCommand(WPARAM, LPARAM) {
    if (AfxMessageBox(kExitConfirmationText, kExitConfirmationStyle) == IDOK) {
        RequestQuit();
    }
    return 0;
}

void CKX7AutoConnectorDlg::RequestQuit() {
    m_state->RequestQuit();
    // Without a worker (device notifications could not be registered) no done message will
    // come to end the run.
    if (m_hWorkerThread == nullptr) {
        PostQuitMessage(0);
    }
}

void CKX7AutoConnectorDlg::ReportEnded() {
    if (!m_bEndReported) {
        m_bEndReported = true;
        m_audit.ConnectorEnded(m_strVersion, HideMode());
    }
}

LRESULT CKX7AutoConnectorDlg::OnCloseButton(WPARAM, LPARAM) {
    if (!HideMode()) {
        PostMessage(WM_SYSCOMMAND, SC_MINIMIZE, TRAY_MINIMIZE_MARKER);
    }
    return 0;
}

bool CKX7AutoConnectorDlg::WaitForWorker(DWORD timeoutMs) {
    if (m_hWorkerThread == nullptr) {
        return true;
    }
    // Normally the worker has already ended; the run may also have ended by other means.
    m_state->RequestQuit();
    return WaitForSingleObject(m_hWorkerThread, timeoutMs) == WAIT_OBJECT_0;
}

void CKX7AutoConnectorDlg::SetLogText(const std::wstring& text) {
    // From the worker thread: the window system hands the text to the control's own thread.
    ::SetWindowTextW(m_wndLog.m_hWnd, text.c_str());
}

void CKX7AutoConnectorDlg::AddLogLine(const std::wstring& line) {
    // As the device tracking adds its lines, so both kinds stay in the log.
    SetLogEditText(kx7::AppendLogLine(GetLogEditText(), line));
}

void CKX7AutoConnectorDlg::SetDeviceSerialText(const std::wstring& text) {
    SetDlgItemTextW(m_hWnd, IDC_SERIAL_EDIT, text.c_str());
}

void CKX7AutoConnectorDlg::ShowAppMessage(const std::wstring& text) {
    if (m_bSessionEnding) {
        return;
    }
    AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
}

void CKX7AutoConnectorDlg::ShowRefusal(const std::wstring& text) {
    if (m_bSessionEnding) {
        return;
    }
    MessageBeep(kRefusalBeep);
    MessageBoxW(nullptr, text.c_str(), kRefusalCaption, kRefusalStyle);
}

void CKX7AutoConnectorDlg::PostWorkerDone(uintptr_t wParam, intptr_t lParam) {
    ::PostMessageW(m_hWnd, WM_CONNECT_WORKER_DONE, static_cast<WPARAM>(wParam),
                   static_cast<LPARAM>(lParam));
}

WindowHandle CKX7AutoConnectorDlg::OwnerWindow() {
    return reinterpret_cast<WindowHandle>(m_hWnd);
}

std::wstring CKX7AutoConnectorDlg::GetLogEditText() {
    return m_wndLog.GetWindowText();
}

void CKX7AutoConnectorDlg::SetLogEditText(const std::wstring& text) {
    m_wndLog.SetWindowText(text);
}

void CKX7AutoConnectorDlg::ShowError(const std::wstring& text) {
    AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace kx7
