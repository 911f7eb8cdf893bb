// Registers and removes the log-on start: the Task Scheduler task from Windows Vista on, the Run
// value on XP. Entries for both installers: plain calls for the NSIS installer's System plug-in,
// and deferred custom actions for the MSI, which runs them with the installer service's rights.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <taskschd.h>
#include <versionhelpers.h>

#include <string>

#include "installer/tools/custom_action_data_win.h"
#include "installer/tools/logon_start.h"

namespace {

using kx7::installer::kLogonTaskName;
using kx7::installer::kRunKey;
using kx7::installer::kRunValueName;

// COM for this thread, unless the caller has it already (the MSI's custom action server may).
class ComScope {
  public:
    ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(hr_)) {
            CoUninitialize();
        }
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

  private:
    HRESULT hr_;
};

template <typename T>
class Com {
  public:
    Com() = default;
    ~Com() {
        if (p_ != nullptr) {
            p_->Release();
        }
    }
    Com(const Com&) = delete;
    Com& operator=(const Com&) = delete;
    T** Out() { return &p_; }
    T* operator->() const { return p_; }

  private:
    T* p_ = nullptr;
};

class Bstr {
  public:
    explicit Bstr(const wchar_t* text) : b_(SysAllocString(text)) {}
    Bstr() = default;
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    operator BSTR() const { return b_; }
    BSTR* Out() { return &b_; }

  private:
    BSTR b_ = nullptr;
};

// The scheduler's root folder, through which the task is registered, read and removed.
class TaskRoot {
  public:
    HRESULT Open() {
        HRESULT hr = CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_ITaskService, reinterpret_cast<void**>(service_.Out()));
        if (FAILED(hr)) {
            return hr;
        }
        VARIANT none;
        VariantInit(&none);
        hr = service_->Connect(none, none, none, none);
        return FAILED(hr) ? hr : service_->GetFolder(Bstr(L"\\"), root_.Out());
    }
    ITaskFolder* operator->() const { return root_.operator->(); }

  private:
    ComScope com_;
    Com<ITaskService> service_;
    Com<ITaskFolder> root_;
};

// Both packages are 32-bit: on 64-bit Windows their machine-wide keys live in the 32-bit view,
// which log-on runs as well. The test build of these actions is 64-bit, so the view is named.
constexpr REGSAM kView = KEY_WOW64_32KEY;

std::wstring RunValue() {
    wchar_t text[1024] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_QUERY_VALUE | kView, &key) !=
        ERROR_SUCCESS) {
        return std::wstring();
    }
    DWORD type = 0;
    const LONG status =
        RegQueryValueExW(key, kRunValueName, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_SZ ? std::wstring(text) : std::wstring();
}

LONG DeleteRunValueOf(const std::wstring& folder) {
    if (!kx7::installer::StartsAgentIn(RunValue(), folder)) {
        return ERROR_SUCCESS;
    }
    HKEY key = nullptr;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE | kView, &key);
    if (status == ERROR_SUCCESS) {
        status = RegDeleteValueW(key, kRunValueName);
        RegCloseKey(key);
    }
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

LONG WriteRunValue(const std::wstring& folder) {
    const std::wstring command = kx7::installer::LogonRunCommand(folder);
    HKEY key = nullptr;
    LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, nullptr, 0, KEY_SET_VALUE | kView,
                                  nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(key, kRunValueName, 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(command.c_str()),
                                static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    return status;
}

HRESULT RegisterTask(const std::wstring& folder) {
    TaskRoot root;
    HRESULT hr = root.Open();
    if (FAILED(hr)) {
        return hr;
    }
    VARIANT none;
    VariantInit(&none);
    Com<IRegisteredTask> task;
    return root->RegisterTask(
        Bstr(kLogonTaskName), Bstr(kx7::installer::LogonTaskXml(folder).c_str()),
        TASK_CREATE_OR_UPDATE, none, none, TASK_LOGON_GROUP, none, task.Out());
}

HRESULT DeleteTaskOf(const std::wstring& folder) {
    TaskRoot root;
    HRESULT hr = root.Open();
    if (FAILED(hr)) {
        return hr;
    }
    Com<IRegisteredTask> task;
    if (FAILED(root->GetTask(Bstr(kLogonTaskName), task.Out()))) {
        return S_OK;  // none registered
    }
    Bstr xml;
    if (FAILED(task->get_Xml(xml.Out())) || xml == nullptr ||
        !kx7::installer::StartsAgentIn(static_cast<BSTR>(xml), folder)) {
        return S_OK;  // another copy's
    }
    return root->DeleteTask(Bstr(kLogonTaskName), 0);
}

}  // namespace

// Registers the log-on start of the programs in FOLDER, replacing the task of the same name.
// From Vista on, a Run value of an earlier install into the same folder goes, so that the agent
// is not started twice.
extern "C" __declspec(dllexport) HRESULT __stdcall RegisterLogonStartIn(const wchar_t* folder) {
    if (!IsWindowsVistaOrGreater()) {
        return HRESULT_FROM_WIN32(WriteRunValue(folder));
    }
    DeleteRunValueOf(folder);
    return RegisterTask(folder);
}

// Removes the task and the Run value, each only if it starts the agent in FOLDER: another copy
// installed elsewhere keeps its own.
extern "C" __declspec(dllexport) HRESULT __stdcall RemoveLogonStartIn(const wchar_t* folder) {
    const HRESULT run = HRESULT_FROM_WIN32(DeleteRunValueOf(folder));
    const HRESULT task = IsWindowsVistaOrGreater() ? DeleteTaskOf(folder) : S_OK;
    return FAILED(run) ? run : task;
}

extern "C" __declspec(dllexport) UINT __stdcall RegisterLogonStart(MSIHANDLE install) {
    return SUCCEEDED(RegisterLogonStartIn(kx7::installer::CustomActionFolder(install).c_str()))
               ? ERROR_SUCCESS
               : ERROR_INSTALL_FAILURE;
}

// A log-on start that cannot be removed does not hold up the removal of the programs: it names
// a program that is gone, and the next install replaces it.
extern "C" __declspec(dllexport) UINT __stdcall RemoveLogonStart(MSIHANDLE install) {
    RemoveLogonStartIn(kx7::installer::CustomActionFolder(install).c_str());
    return ERROR_SUCCESS;
}
