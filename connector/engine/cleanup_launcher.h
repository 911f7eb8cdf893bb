// Starts the separate registry cleanup tool that lies beside the connector, once an unlocked
// drive has been removed and the registered record asks for it. Which tool runs depends on the
// operating system: the Vista-and-later tool needs elevation, the older one does not.
#pragma once

#include <cstdint>
#include <string>

namespace kx7 {

// A window as the shell sees it, kept opaque so the portable code never needs the window types.
using WindowHandle = std::uintptr_t;

// The few shell services the launcher needs. Failed starts are not reported, not even by the
// shell's own error box: a tool that is missing, fails to start or is refused elevation is
// simply not running, and the worker that asked goes on at once.
class ShellLauncher {
  public:
    virtual ~ShellLauncher() = default;
    // The running program's full path. False when it cannot be had or did not fit the
    // 260-character buffer: a cut-off path would name another directory.
    virtual bool GetModulePath(std::wstring* path) = 0;
    // Starts the program with the "open" verb, no owner, no arguments, hidden. True when it
    // was started.
    virtual bool ShellOpenHidden(const std::wstring& file) = 0;
    // Starts the program with the "runas" verb, so the shell asks for elevation over owner;
    // no arguments, hidden. Returns when the shell has started it or given up, the user's
    // answer to the elevation prompt included; true when it was started.
    //
    // A process that already runs elevated starts the program by its path itself, for either
    // call: the shell would look the verb up in file classes that the user may write.
    virtual bool ShellRunAsHidden(WindowHandle owner, const std::wstring& file) = 0;
};

// The shell of the running system; only the Win32 build provides it.
ShellLauncher& SystemShellLauncher();

// Version words (major * 256 + minor) from this one on get the elevated tool.
constexpr uint32_t kFirstElevatedOsVersion = 0x600;
extern const wchar_t kCleanupToolWin7[];  // "SVCleanRegWin7.exe"
extern const wchar_t kCleanupToolXp[];    // "SVCleanRegXP.exe"

// Starts the tool fitting osVersion from the connector's own directory without waiting for
// it; owner owns the elevation prompt. Starts nothing when the own path cannot be had whole or
// holds no directory. Returns the tool's path when it was started, or empty when nothing was
// started, so a missing tool is never recorded as run.
std::wstring LaunchRegistryCleanup(ShellLauncher& shell, uint32_t osVersion, WindowHandle owner);

}  // namespace kx7
