// The agent's run: wait, then ask the shell to start the target, elevated from Windows Vista
// on, and end without waiting for it.
#pragma once

#include <windows.h>
#include <shellapi.h>

namespace kx7 {
namespace agent {

// The system calls the run makes, replaceable so that a test can see the start request
// without starting anything or waiting.
struct AgentCalls {
    void(WINAPI* pfnSleep)(DWORD milliseconds);
    DWORD (*pfnGetWindowsVersionWord)();
    BOOL(WINAPI* pfnShellExecuteExW)(SHELLEXECUTEINFOW* info);
    DWORD(WINAPI* pfnGetLastError)();
};

// Sleep, GetWindowsVersionWord, ShellExecuteExW and GetLastError of the running system.
extern const AgentCalls kSystemCalls;

// Version words (major * 256 + minor) from this one on start the target with "runas".
constexpr DWORD kFirstElevatingVersion = 0x0600;

// The running system's version as major * 256 + minor, or 0 when it cannot be had.
DWORD GetWindowsVersionWord();

// Reads the argument string (upper-casing it in place), waits, starts the target and returns
// the process exit code: 0 on every path, whether anything was started or not.
int AgentMain(char* arguments, const AgentCalls& calls = kSystemCalls);

}  // namespace agent
}  // namespace kx7
