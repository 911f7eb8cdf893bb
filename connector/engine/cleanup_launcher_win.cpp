#include "connector/engine/cleanup_launcher.h"

#include <windows.h>
#include <shellapi.h>

namespace kx7 {
namespace {

#if defined(__i386__)
static_assert(sizeof(SHELLEXECUTEINFOW) == 60, "the shell checks the record size");
#endif

constexpr DWORD kModulePathChars = 260;

class Win32ShellLauncher final : public ShellLauncher {
  public:
    bool GetModulePath(std::wstring* path) override {
        wchar_t buffer[kModulePathChars];
        const DWORD length = GetModuleFileNameW(nullptr, buffer, kModulePathChars);
        // A full buffer means the path was cut off: every system then returns the buffer size
        // (newer ones add ERROR_INSUFFICIENT_BUFFER, older ones do not even terminate the
        // text). The directory of a cut-off path would be another one.
        if (length == 0 || length >= kModulePathChars) {
            return false;
        }
        path->assign(buffer, length);
        return true;
    }

    void ShellOpenHidden(const std::wstring& file) override {
        ShellExecuteW(nullptr, L"open", file.c_str(), nullptr, nullptr, SW_HIDE);
    }

    void ShellRunAsHidden(WindowHandle owner, const std::wstring& file) override {
        SHELLEXECUTEINFOW info;
        ZeroMemory(&info, sizeof(info));
        info.cbSize = sizeof(info);
        info.fMask = 0;  // no process handle wanted: the tool is never waited for
        info.hwnd = reinterpret_cast<HWND>(owner);
        info.lpVerb = L"runas";
        info.lpFile = file.c_str();
        info.nShow = SW_HIDE;
        ShellExecuteExW(&info);
    }
};

}  // namespace

ShellLauncher& SystemShellLauncher() {
    static Win32ShellLauncher shell;
    return shell;
}

}  // namespace kx7
