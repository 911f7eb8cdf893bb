#include "connector/engine/cleanup_launcher.h"

namespace kx7 {

const wchar_t kCleanupToolWin7[] = L"SVCleanRegWin7.exe";
const wchar_t kCleanupToolXp[] = L"SVCleanRegXP.exe";

std::wstring LaunchRegistryCleanup(ShellLauncher& shell, uint32_t osVersion, WindowHandle owner) {
    std::wstring modulePath;
    if (!shell.GetModulePath(&modulePath)) {
        return std::wstring();
    }
    // A path without any backslash gives no directory to look in; guessing one (the current
    // directory, say) could start a stranger's program with elevation.
    const size_t cut = modulePath.rfind(L'\\');
    if (cut == std::wstring::npos) {
        return std::wstring();
    }
    // Joined by hand: the wide "%s" conversion means different things to different C libraries.
    std::wstring tool = modulePath.substr(0, cut);
    tool += L'\\';
    bool started = false;
    if (osVersion < kFirstElevatedOsVersion) {
        tool += kCleanupToolXp;
        started = shell.ShellOpenHidden(tool);
    } else {
        tool += kCleanupToolWin7;
        started = shell.ShellRunAsHidden(owner, tool);
    }
    return started ? tool : std::wstring();
}

}  // namespace kx7
