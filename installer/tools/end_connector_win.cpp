// The MSI's custom action that ends a running connector the way a confirmed Exit does, before
// the installer replaces or removes its files. The package builder can run a program only if it
// is installed already, but a DLL from the package itself at any step, so this is a DLL (shared
// with the log-on task's actions). The end message to the connector's main window makes it start
// no new pass, finish a running one and end; its files are free only once the process has gone,
// not merely its window. Where no window is found (the install runs in another session, as under
// Group Policy or Intune), the install goes on and the installer replaces files in use as it
// always does.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "connector/platform/end_connector_message.h"

namespace {

const wchar_t kConnectorClass[] = L"KX7AutoConnector_Class";
const wchar_t kConnectorTitle[] = L"KX7 HostPair Auto Connector";
const wchar_t kStillRunning[] =
    L"The KX7 HostPair Auto Connector is still finishing its work; a message of it may be "
    L"waiting for you.\r\n\r\nAnswer it, then choose Retry.";
// A connector in the middle of a pass finishes it first, which may mean a message of it that
// is waiting for the user.
constexpr DWORD kEndWaitMs = 30000;
constexpr DWORD kSendTimeoutMs = 5000;
constexpr DWORD kPollMs = 250;

// To the installer's log (and nowhere else, whatever the user interface level).
void Log(MSIHANDLE install, const wchar_t* text) {
    const MSIHANDLE record = MsiCreateRecord(0);
    MsiRecordSetStringW(record, 0, text);
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
}

// Retry or Cancel from the user; a silent installation answers neither (0), which gives up.
int AskRetry(MSIHANDLE install) {
    const MSIHANDLE record = MsiCreateRecord(0);
    MsiRecordSetStringW(record, 0, kStillRunning);
    const int answer = MsiProcessMessage(
        install,
        static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_RETRYCANCEL | MB_ICONWARNING),
        record);
    MsiCloseHandle(record);
    return answer;
}

bool CloseAndWait(HWND window, HANDLE process) {
    // The registered message passes the filter of an elevated connector, which would drop a
    // WM_CLOSE from this action when it runs below the connector's integrity level; WM_CLOSE
    // still ends a connector of an earlier version, which knows no other.
    DWORD_PTR ignored = 0;
    const UINT endMessage = RegisterWindowMessageW(kx7::kEndConnectorMessageName);
    if (endMessage != 0) {
        SendMessageTimeoutW(window, endMessage, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored);
    }
    SendMessageTimeoutW(window, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored);
    if (process != nullptr) {
        return WaitForSingleObject(process, kEndWaitMs) == WAIT_OBJECT_0;
    }
    // Without a handle of the process, its window is the only sign of it.
    for (DWORD waited = 0; waited < kEndWaitMs && IsWindow(window); waited += kPollMs) {
        Sleep(kPollMs);
    }
    return !IsWindow(window);
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall EndConnector(MSIHANDLE install) {
    const HWND window = FindWindowW(kConnectorClass, kConnectorTitle);
    if (window == nullptr) {
        return ERROR_SUCCESS;
    }
    Log(install, L"Ending the running KX7 HostPair Auto Connector");
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    const HANDLE process = pid != 0 ? OpenProcess(SYNCHRONIZE, FALSE, pid) : nullptr;
    bool ended = CloseAndWait(window, process);
    while (!ended && AskRetry(install) == IDRETRY) {
        ended = CloseAndWait(window, process);
    }
    if (process != nullptr) {
        CloseHandle(process);
    }
    if (!ended) {
        Log(install, L"The KX7 HostPair Auto Connector is still running");
        return ERROR_INSTALL_FAILURE;
    }
    return ERROR_SUCCESS;
}
