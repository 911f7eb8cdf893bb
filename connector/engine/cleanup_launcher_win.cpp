#include "connector/engine/cleanup_launcher_win.h"

#include <cstddef>

namespace kx7 {
namespace {

// The shell checks the size field, and the record must be the one the older systems know.
#if defined(__i386__)
static_assert(sizeof(SHELLEXECUTEINFOW) == 60, "start request of 60 bytes");
static_assert(offsetof(SHELLEXECUTEINFOW, fMask) == 4, "mask at 4");
static_assert(offsetof(SHELLEXECUTEINFOW, hwnd) == 8, "owner at 8");
static_assert(offsetof(SHELLEXECUTEINFOW, lpVerb) == 12, "verb at 12");
static_assert(offsetof(SHELLEXECUTEINFOW, lpFile) == 16, "file at 16");
static_assert(offsetof(SHELLEXECUTEINFOW, nShow) == 28, "show command at 28");
#endif

constexpr DWORD kModulePathChars = 260;

// COM is set up around each start rather than for the worker's whole life. The worker is
// portable code that knows nothing of apartments, a start happens at most once per removal of
// an unlocked drive, and a single-threaded apartment that pumps no messages must not outlive
// the call that needs it: anything sent to it later would wait for good. A thread that already
// lives in another apartment is left as it is (RPC_E_CHANGED_MODE): the shell works there too,
// and only a successful initialisation, S_FALSE included, is ours to undo.
class ShellApartment {
  public:
    explicit ShellApartment(const CleanupShellCalls& calls)
        : calls_(calls),
          initialised_(SUCCEEDED(calls.pfnCoInitializeEx(nullptr, kCleanupComFlags))) {}
    ~ShellApartment() {
        if (initialised_) {
            calls_.pfnCoUninitialize();
        }
    }
    ShellApartment(const ShellApartment&) = delete;
    ShellApartment& operator=(const ShellApartment&) = delete;

  private:
    const CleanupShellCalls& calls_;
    const bool initialised_;
};

}  // namespace

const CleanupShellCalls kSystemCleanupShellCalls = {
    ::ShellExecuteW,
    ::ShellExecuteExW,
    ::CoInitializeEx,
    ::CoUninitialize,
    {::OpenProcessToken, ::GetTokenInformation, ::CreateProcessW, ::CloseHandle}};

bool Win32ShellLauncher::GetModulePath(std::wstring* path) {
    wchar_t buffer[kModulePathChars];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, kModulePathChars);
    // A full buffer means the path was cut off: every system then returns the buffer size
    // (newer ones add ERROR_INSUFFICIENT_BUFFER, older ones do not even terminate the text).
    // The directory of a cut-off path would be another one.
    if (length == 0 || length >= kModulePathChars) {
        return false;
    }
    path->assign(buffer, length);
    return true;
}

// The connector asks for administrator rights, so from Vista on it has them and starts the tool
// itself (see direct_start_win.h), hidden; before Vista the shell is asked as it always was.
bool Win32ShellLauncher::ShellOpenHidden(const std::wstring& file) {
    if (RunsElevated(calls_.direct)) {
        return StartDirectly(calls_.direct, file.c_str(), nullptr, SW_HIDE);
    }
    // ShellExecuteW reports a failure by its result alone and shows no box of its own, so the
    // older systems' start needs no flags to keep the worker from waiting on one.
    const ShellApartment apartment(calls_);
    const HINSTANCE result =
        calls_.pfnShellExecuteW(nullptr, L"open", file.c_str(), nullptr, nullptr, SW_HIDE);
    // Results above 32 mean started; the others are error codes.
    return reinterpret_cast<INT_PTR>(result) > 32;
}

bool Win32ShellLauncher::ShellRunAsHidden(WindowHandle owner, const std::wstring& file) {
    if (RunsElevated(calls_.direct)) {
        return StartDirectly(calls_.direct, file.c_str(), nullptr, SW_HIDE);
    }
    SHELLEXECUTEINFOW info;
    ZeroMemory(&info, sizeof(info));
    info.cbSize = sizeof(info);
    // No SEE_MASK_NOCLOSEPROCESS: the tool is never waited for.
    info.fMask = kCleanupRunAsMask;
    info.hwnd = reinterpret_cast<HWND>(owner);
    info.lpVerb = L"runas";
    info.lpFile = file.c_str();
    info.nShow = SW_HIDE;
    const ShellApartment apartment(calls_);
    return calls_.pfnShellExecuteExW(&info) != FALSE;
}

ShellLauncher& SystemShellLauncher() {
    static Win32ShellLauncher shell(kSystemCleanupShellCalls);
    return shell;
}

}  // namespace kx7
