#include "startup_agent/agent_main_win.h"

#include <cstddef>

#include "startup_agent/agent_arguments.h"

namespace kx7 {
namespace agent {
namespace {

// The shell checks the size field, and the request must be the one the older systems know.
#if defined(__i386__)
static_assert(sizeof(SHELLEXECUTEINFOW) == 60, "start request of 60 bytes");
static_assert(offsetof(SHELLEXECUTEINFOW, lpVerb) == 12, "verb at 12");
static_assert(offsetof(SHELLEXECUTEINFOW, lpFile) == 16, "file at 16");
static_assert(offsetof(SHELLEXECUTEINFOW, lpParameters) == 20, "parameters at 20");
static_assert(offsetof(SHELLEXECUTEINFOW, nShow) == 28, "show command at 28");
#endif
// The size field announces the extended record, so the system may fill all 284 bytes of it.
static_assert(sizeof(OSVERSIONINFOEXW) == 284, "GetVersionExW fills 284 bytes");
static_assert(sizeof(wchar_t) == sizeof(char16_t), "the shell takes UTF-16");

const wchar_t kRunAsVerb[] = L"runas";
const wchar_t kHideParameter[] = L"/HIDE";

}  // namespace

const AgentCalls kSystemCalls = {::Sleep, GetWindowsVersionWord, ::ShellExecuteExW, ::GetLastError};

DWORD GetWindowsVersionWord() {
    OSVERSIONINFOEXW info;
    ZeroMemory(&info, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) {
        return 0;
    }
#pragma GCC diagnostic pop
    return info.dwMajorVersion * 256 + info.dwMinorVersion;
}

int AgentMain(char* arguments, const AgentCalls& calls) {
    AgentArguments parsed;
    // Nothing to start means nothing to wait for either: an empty file name handed to the
    // shell does not fail quietly but shows an error box or opens a folder window.
    if (ParseAgentArguments(arguments, &parsed) != AgentAction::kStart) {
        return 0;
    }

    if (parsed.nDelayMs > 0) {
        calls.pfnSleep(static_cast<DWORD>(parsed.nDelayMs));
    }

    wchar_t path[kPathChars];
    for (size_t i = 0; i < kPathChars; ++i) {
        path[i] = static_cast<wchar_t>(parsed.szPath[i]);
    }

    SHELLEXECUTEINFOW info;
    ZeroMemory(&info, sizeof(info));
    info.cbSize = sizeof(info);
    info.fMask = 0;  // no process handle: the target is never waited for
    info.hwnd = nullptr;
    info.lpVerb = calls.pfnGetWindowsVersionWord() >= kFirstElevatingVersion ? kRunAsVerb : nullptr;
    info.lpFile = path;
    info.lpParameters = parsed.bHide ? kHideParameter : nullptr;
    info.lpDirectory = nullptr;
    info.nShow = SW_SHOWNORMAL;
    if (!calls.pfnShellExecuteExW(&info)) {
        // A missing target or a refused elevation prompt ends the agent like a start does:
        // the error is fetched and dropped, there is no one to report it to.
        (void)calls.pfnGetLastError();
    }
    return 0;
}

}  // namespace agent
}  // namespace kx7
