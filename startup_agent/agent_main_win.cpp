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
static_assert(sizeof(wchar_t) == sizeof(char16_t), "the system's text is UTF-16");

const wchar_t kRunAsVerb[] = L"runas";
const wchar_t kHideParameter[] = L"/HIDE";
// The longest command line the system hands a program: 32767 characters and the terminator.
constexpr size_t kArgumentChars = 32768;

void StartThroughShell(const wchar_t* path, bool hide, bool elevate, const AgentCalls& calls) {
    SHELLEXECUTEINFOW info;
    ZeroMemory(&info, sizeof(info));
    info.cbSize = sizeof(info);
    info.fMask = 0;  // no process handle: the target is never waited for
    info.hwnd = nullptr;
    info.lpVerb = elevate ? kRunAsVerb : nullptr;
    info.lpFile = path;
    info.lpParameters = hide ? kHideParameter : nullptr;
    info.lpDirectory = nullptr;
    info.nShow = SW_SHOWNORMAL;
    if (!calls.pfnShellExecuteExW(&info)) {
        // A missing target or a refused elevation prompt ends the agent like a start does:
        // the error is fetched and dropped, there is no one to report it to.
        (void)calls.pfnGetLastError();
    }
}

}  // namespace

const AgentCalls kSystemCalls = {
    ::Sleep,
    GetWindowsVersionWord,
    ::ShellExecuteExW,
    ::GetLastError,
    {::OpenProcessToken, ::GetTokenInformation, ::CreateProcessW, ::CloseHandle}};

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

int AgentMain(const wchar_t* arguments, const AgentCalls& calls) {
    // Upper-cased in a copy of our own: the runtime's line may be the process's command line
    // itself, which others read as it was given.
    char16_t line[kArgumentChars];
    size_t length = 0;
    for (; arguments != nullptr && arguments[length] != L'\0'; ++length) {
        if (length + 1 == kArgumentChars) {
            return 0;  // longer than any the system passes on: not ours to read
        }
        line[length] = static_cast<char16_t>(arguments[length]);
    }
    line[length] = u'\0';
    AgentArguments parsed;
    // Nothing to start means nothing to wait for either: an empty file name handed to the
    // shell does not fail quietly but shows an error box or opens a folder window.
    if (ParseAgentArguments(line, &parsed) != AgentAction::kStart) {
        return 0;
    }

    if (parsed.nDelayMs > 0) {
        calls.pfnSleep(static_cast<DWORD>(parsed.nDelayMs));
    }

    wchar_t path[kPathChars];
    for (size_t i = 0; i < kPathChars; ++i) {
        path[i] = static_cast<wchar_t>(parsed.szPath[i]);
    }
    const bool hide = parsed.bHide != 0;
    // Before Vista there is no elevation to have or to ask for, and nothing is queried.
    const bool elevate = calls.pfnGetWindowsVersionWord() >= kFirstElevatingVersion;
    // An agent that has the rights already (a log-on task with the highest privileges) starts
    // the target itself: see direct_start_win.h.
    if (elevate && RunsElevated(calls.direct)) {
        if (!StartDirectly(calls.direct, path, hide ? kHideParameter : nullptr, SW_SHOWNORMAL)) {
            // A missing target ends the agent like a start does: there is no one to tell.
            (void)calls.pfnGetLastError();
        }
    } else {
        StartThroughShell(path, hide, elevate, calls);
    }
    return 0;
}

}  // namespace agent
}  // namespace kx7
