// The service program: the service control manager's side of the host. The service's own thread
// (ServiceMain's) keeps a message-only window, whose procedure gets every event the host acts
// on, one at a time: the device events (from the service control manager, or in the simulation
// build from the simulated bus, as WM_DEVICECHANGE), the 500 ms tick, session changes and the
// stop. The control handler runs on the dispatcher's thread and only passes events on.
#include <windows.h>

#include <dbt.h>
#include <process.h>

#include <atomic>
#include <string>
#include <vector>

#include "connector/app/device_seams_win.h"
#include "connector/devtree/device_broadcast_win.h"
#include "connector/hostid/system_info.h"
#include "connector/platform/clock.h"
#include "connector/platform/code_page.h"
#include "connector/platform/dll_search_win.h"
#include "connector/platform/event_log.h"
#include "connector/platform/program_version_win.h"
#include "connector/platform/registry.h"
#include "connector/platform/system_message.h"
#include "service/console_sessions_win.h"
#include "service/service_host.h"

namespace kx7 {
namespace {

constexpr UINT WM_SERVICE_STOP = WM_APP + 1;
constexpr UINT WM_SERVICE_SESSION = WM_APP + 2;
constexpr UINT_PTR kTickTimerId = 1;
constexpr UINT kTickPeriodMs = 500;
constexpr wchar_t kWindowClass[] = L"KX7HostPairService_Events";

class Win32StatusSink final : public ServiceStatusSink {
  public:
    void Report(ServiceState state, uint32_t waitHintMs, uint32_t exitCode) override {
        if (handle == nullptr) {
            return;
        }
        const bool pending =
            state == ServiceState::kStartPending || state == ServiceState::kStopPending;
        SERVICE_STATUS status;
        ZeroMemory(&status, sizeof(status));
        status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        status.dwCurrentState = static_cast<DWORD>(state);
        // Only a running service takes controls; one that is starting or stopping is told
        // nothing until it is done.
        status.dwControlsAccepted = state == ServiceState::kRunning
                                        ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN |
                                              SERVICE_ACCEPT_PRESHUTDOWN |
                                              SERVICE_ACCEPT_SESSIONCHANGE
                                        : 0;
        status.dwWin32ExitCode = exitCode;
        status.dwCheckPoint = pending ? ++checkPoint_ : 0;
        status.dwWaitHint = waitHintMs;
        SetServiceStatus(handle, &status);
    }

    SERVICE_STATUS_HANDLE handle = nullptr;

  private:
    DWORD checkPoint_ = 0;
};

// The one run of this process: the service has its own process, and the handler and the
// window procedure find it here.
struct ServiceRun {
    Win32StatusSink status;
    ServiceHost* host = nullptr;
    std::atomic<HWND> window{nullptr};
};
ServiceRun g_run;

LRESULT CALLBACK EventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ServiceHost* host = g_run.host;
    if (host == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    switch (message) {
        case WM_DEVICECHANGE: {
            std::wstring name;
            if ((wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE) &&
                InterfaceNameOf(reinterpret_cast<const void*>(lParam), &name)) {
                host->OnDeviceEvent(name, wParam == DBT_DEVICEARRIVAL ? DeviceEvent::kArrival
                                                                      : DeviceEvent::kRemoval);
            }
            return TRUE;
        }
        case WM_TIMER:
            if (wParam == kTickTimerId) {
                host->OnTick();
            }
            return 0;
        case WM_SERVICE_SESSION:
            host->OnSessionChange(static_cast<SessionEvent>(wParam));
            return 0;
        case WM_SERVICE_STOP:
            KillTimer(window, kTickTimerId);
            if (!host->Stop()) {
                // The worker is stuck in a command or a box and may hold any lock of the
                // process, so nothing may run after it: the process ends here, as the
                // system would end it moments later.
                TerminateProcess(GetCurrentProcess(), 0);
            }
            // A second control (a shut-down after a stop) finds the service ended already.
            g_run.host = nullptr;
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

DWORD WINAPI ControlHandler(DWORD control, DWORD eventType, void* eventData, void*) {
    const HWND window = g_run.window;
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
        case SERVICE_CONTROL_PRESHUTDOWN:
            PostMessageW(window, WM_SERVICE_STOP, 0, 0);
            return NO_ERROR;
        case SERVICE_CONTROL_DEVICEEVENT:
            // The event's record lives only as long as this call: the window reads it now.
            SendMessageW(window, WM_DEVICECHANGE, eventType, reinterpret_cast<LPARAM>(eventData));
            return NO_ERROR;
        case SERVICE_CONTROL_SESSIONCHANGE:
            PostMessageW(window, WM_SERVICE_SESSION, eventType, 0);
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

unsigned __stdcall WorkerEntry(void* host) {
    static_cast<ServiceHost*>(host)->Worker();
    return 0;
}

HWND CreateEventWindow() {
    WNDCLASSEXW windowClass;
    ZeroMemory(&windowClass, sizeof(windowClass));
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = EventWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassExW(&windowClass);
    return CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           windowClass.hInstance, nullptr);
}

// The notifications of the window's four interface classes, to the service's status handle.
bool RegisterDeviceEvents(std::vector<HDEVNOTIFY>* registrations) {
    for (const InterfaceGuid& interfaceClass : kNotificationClasses) {
        DEV_BROADCAST_DEVICEINTERFACE_W filter = InterfaceClassFilter(interfaceClass);
        HDEVNOTIFY registration =
            RegisterDeviceNotificationW(g_run.status.handle, &filter, DEVICE_NOTIFY_SERVICE_HANDLE);
        if (registration == nullptr) {
            return false;
        }
        registrations->push_back(registration);
    }
    return true;
}

void RunService(ServiceHost& host) {
    const auto failed = [&host](const wchar_t* step) {
        const DWORD error = GetLastError();
        host.StartFailed(step, error, ErrorCodeText(SystemMessageTable(), error));
    };
    const HWND window = CreateEventWindow();
    g_run.status.handle =
        RegisterServiceCtrlHandlerExW(kHostPairServiceName, ControlHandler, nullptr);
    if (g_run.status.handle == nullptr) {
        failed(L"RegisterServiceCtrlHandlerExW");
        return;
    }
    if (window == nullptr) {
        failed(L"CreateWindowExW");
        return;
    }
    host.Start();
    // Ready for the events before the first can come.
    g_run.host = &host;
    g_run.window = window;
    std::vector<HDEVNOTIFY> registrations;
    if (!RegisterDeviceEvents(&registrations)) {
        failed(L"RegisterDeviceNotificationW");
        return;
    }
    OnDeviceWindowReady(window);
    HANDLE worker =
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, WorkerEntry, &host, 0, nullptr));
    if (worker == nullptr) {
        failed(L"_beginthreadex");
        return;
    }
    SetTimer(window, kTickTimerId, kTickPeriodMs, nullptr);
    host.Running();
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    WaitForSingleObject(worker, INFINITE);
    CloseHandle(worker);
    for (HDEVNOTIFY registration : registrations) {
        UnregisterDeviceNotification(registration);
    }
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
    ServiceHost host(
        ServiceHostServices{SystemClock(), SystemRegistry(), ConnectorDeviceInterfaces(),
                            SystemCodePage(), ConsoleUserShellLauncher(),
                            SystemFingerprintCollector(), SystemOsVersion(), SystemTextComparer(),
                            SystemConsoleSessions(), g_run.status, &SystemEventLog(),
                            &SystemDriveTurnLocks()},
        ProgramVersion());
    RunService(host);
}

}  // namespace
}  // namespace kx7

int wmain() {
    kx7::RestrictDllSearchToSystem();
    std::wstring name = kx7::kHostPairServiceName;
    const SERVICE_TABLE_ENTRYW table[] = {{&name[0], kx7::ServiceMain}, {nullptr, nullptr}};
    // Started from anywhere but the service control manager, there is nothing to serve.
    return StartServiceCtrlDispatcherW(table) ? 0 : static_cast<int>(GetLastError());
}
