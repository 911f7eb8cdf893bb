// Installs, stops and removes the HostPair service for the NSIS installer (plain calls for its
// System plug-in), and clears the way for the MSI's own service tables (a deferred action). Only
// a service that starts the program in the given folder is ever stopped, changed or removed: a
// service of the same name that starts another program belongs to someone else, is left as it
// is, and its command line is handed back so that the installer can say so.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

#include "connector/engine/worker/service_presence.h"
#include "installer/tools/custom_action_data_win.h"
#include "installer/tools/host_pair_service.h"

namespace {

using kx7::installer::ServiceRunsFrom;

// The service ends within 1.5 s of a stop; the rest is for a busy service control manager.
constexpr DWORD kStopWaitMs = 15000;
// Started right after the manager has come up, a service may be reported as not answering in
// time (error 1053) although the next start works.
constexpr int kStartAttempts = 3;
constexpr DWORD kPollMs = 100;
const HRESULT kForeignService = HRESULT_FROM_WIN32(ERROR_SERVICE_EXISTS);

class ScHandle {
  public:
    explicit ScHandle(SC_HANDLE handle) : handle_(handle) {}
    ~ScHandle() {
        if (handle_ != nullptr) {
            CloseServiceHandle(handle_);
        }
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    operator SC_HANDLE() const { return handle_; }

  private:
    SC_HANDLE handle_;
};

std::wstring CommandLineOf(SC_HANDLE service) {
    DWORD needed = 0;
    QueryServiceConfigW(service, nullptr, 0, &needed);
    if (needed == 0) {
        return std::wstring();
    }
    std::vector<BYTE> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(service, config, needed, &needed) ||
        config->lpBinaryPathName == nullptr) {
        return std::wstring();
    }
    return config->lpBinaryPathName;
}

DWORD CurrentState(SC_HANDLE service) {
    SERVICE_STATUS status;
    ZeroMemory(&status, sizeof(status));
    return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

bool WaitForState(SC_HANDLE service, DWORD state, DWORD timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    while (CurrentState(service) != state) {
        if (GetTickCount64() - start >= timeoutMs) {
            return false;
        }
        Sleep(kPollMs);
    }
    return true;
}

// Stopped, or why not within the bound. A service that is still starting takes no stop: it is
// waited for once it runs.
HRESULT StopAndWait(SC_HANDLE service) {
    if (CurrentState(service) == SERVICE_STOPPED) {
        return S_OK;
    }
    SERVICE_STATUS status;
    if (CurrentState(service) == SERVICE_START_PENDING) {
        WaitForState(service, SERVICE_RUNNING, kStopWaitMs);
    }
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        const DWORD error = GetLastError();
        if (error != ERROR_SERVICE_NOT_ACTIVE && error != ERROR_SERVICE_CANNOT_ACCEPT_CTRL) {
            return HRESULT_FROM_WIN32(error);
        }
    }
    return WaitForState(service, SERVICE_STOPPED, kStopWaitMs)
               ? S_OK
               : HRESULT_FROM_WIN32(ERROR_SERVICE_REQUEST_TIMEOUT);
}

void CopyOut(const std::wstring& text, wchar_t* out, int size) {
    if (out == nullptr || size <= 0) {
        return;
    }
    lstrcpynW(out, text.c_str(), size);
}

enum class Step { kStop, kRemove };

// The service of our name: absent (S_OK), another program's (kForeignService, its command line
// in OTHER), or ours in FOLDER, which is stopped and, for kRemove, deleted.
HRESULT StopOrRemove(const wchar_t* folder, Step step, wchar_t* other, int otherSize) {
    CopyOut(L"", other, otherSize);
    const ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (manager == nullptr) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    const ScHandle service(
        OpenServiceW(manager, kx7::kHostPairServiceName,
                     SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_STOP | DELETE));
    if (service == nullptr) {
        const DWORD error = GetLastError();
        return error == ERROR_SERVICE_DOES_NOT_EXIST ? S_OK : HRESULT_FROM_WIN32(error);
    }
    const std::wstring commandLine = CommandLineOf(service);
    if (!ServiceRunsFrom(commandLine, folder)) {
        CopyOut(commandLine, other, otherSize);
        return kForeignService;
    }
    const HRESULT stopped = StopAndWait(service);
    if (step == Step::kStop) {
        return stopped;
    }
    // Deleted even when it would not stop: the manager removes it once its process has gone.
    if (!DeleteService(service) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    return stopped;
}

HRESULT StartWithRetries(SC_HANDLE service) {
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        if (StartServiceW(service, 0, nullptr)) {
            return S_OK;
        }
        error = GetLastError();
        if (error == ERROR_SERVICE_ALREADY_RUNNING) {
            return S_OK;
        }
        if (error != ERROR_SERVICE_REQUEST_TIMEOUT) {
            break;
        }
        WaitForState(service, SERVICE_STOPPED, kStopWaitMs);
    }
    return HRESULT_FROM_WIN32(error);
}

}  // namespace

// Stops our service in FOLDER before its program is replaced. ERROR_SERVICE_EXISTS: the service
// of that name starts another program, named in OTHER, and was not touched.
extern "C" __declspec(dllexport) HRESULT
    __stdcall StopHostPairServiceIn(const wchar_t* folder, wchar_t* other, int otherSize) {
    return StopOrRemove(folder, Step::kStop, other, otherSize);
}

// Stops and removes our service in FOLDER; the same answer for another program's.
extern "C" __declspec(dllexport) HRESULT
    __stdcall RemoveHostPairServiceIn(const wchar_t* folder, wchar_t* other, int otherSize) {
    return StopOrRemove(folder, Step::kRemove, other, otherSize);
}

// Registers the service of the program in FOLDER (own process, LocalSystem, automatic start), or
// brings our registration up to date, and starts it. Another program's service of that name
// makes it change nothing (ERROR_SERVICE_EXISTS, its command line in OTHER).
extern "C" __declspec(dllexport) HRESULT
    __stdcall InstallHostPairServiceIn(const wchar_t* folder, wchar_t* other, int otherSize) {
    const HRESULT stopped = StopOrRemove(folder, Step::kStop, other, otherSize);
    if (stopped == kForeignService) {
        return stopped;
    }
    const ScHandle manager(
        OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (manager == nullptr) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    const std::wstring commandLine = kx7::installer::ServiceCommandLine(folder);
    SC_HANDLE created = CreateServiceW(
        manager, kx7::kHostPairServiceName, kx7::kHostPairServiceDisplayName, SERVICE_ALL_ACCESS,
        SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, commandLine.c_str(),
        nullptr, nullptr, nullptr, nullptr, nullptr);
    if (created == nullptr && GetLastError() == ERROR_SERVICE_EXISTS) {
        // Ours, from an install into this folder before: its settings as this version has them.
        created = OpenServiceW(manager, kx7::kHostPairServiceName, SERVICE_ALL_ACCESS);
        if (created != nullptr &&
            !ChangeServiceConfigW(created, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                  SERVICE_ERROR_NORMAL, commandLine.c_str(), nullptr, nullptr,
                                  nullptr, L"LocalSystem", L"", kx7::kHostPairServiceDisplayName)) {
            const DWORD error = GetLastError();
            CloseServiceHandle(created);
            return HRESULT_FROM_WIN32(error);
        }
    }
    if (created == nullptr) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    const ScHandle service(created);
    std::wstring description = kx7::installer::kServiceDescription;
    SERVICE_DESCRIPTIONW text = {&description[0]};
    ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &text);
    return StartWithRetries(service);
}

// The MSI's deferred action before it registers the service: a service of ours left in the
// install folder goes, so that the package's own registration takes its place; another
// program's service of that name fails the install with its command line in the log, as the
// package would otherwise take it over.
extern "C" __declspec(dllexport) UINT __stdcall ClearHostPairService(MSIHANDLE install) {
    wchar_t other[1024];
    const HRESULT result =
        RemoveHostPairServiceIn(kx7::installer::CustomActionFolder(install).c_str(), other, 1024);
    if (result != kForeignService) {
        return ERROR_SUCCESS;
    }
    const std::wstring text = std::wstring(L"The service ") + kx7::kHostPairServiceName +
                              L" is installed already and starts another program: " + other +
                              L". Remove it, then install again.";
    const MSIHANDLE record = MsiCreateRecord(0);
    MsiRecordSetStringW(record, 0, text.c_str());
    MsiProcessMessage(install, INSTALLMESSAGE_ERROR, record);
    MsiCloseHandle(record);
    return ERROR_INSTALL_FAILURE;
}
