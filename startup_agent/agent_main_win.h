// The agent's run: wait, then start the target, elevated from Windows Vista on, and end without
// waiting for it.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "connector/platform/direct_start_win.h"

namespace kx7 {
namespace agent {

// The system calls the run makes, replaceable so that a test can see the start request
// without starting anything or waiting.
struct AgentCalls {
    void(WINAPI* pfnSleep)(DWORD milliseconds);
    DWORD (*pfnGetWindowsVersionWord)();
    BOOL(WINAPI* pfnShellExecuteExW)(SHELLEXECUTEINFOW* info);
    DWORD(WINAPI* pfnGetLastError)();
    DirectStartCalls direct;
};

// The running system's calls of those names, and GetWindowsVersionWord.
extern const AgentCalls kSystemCalls;

// Version words (major * 256 + minor) from this one on start the target elevated.
constexpr DWORD kFirstElevatingVersion = 0x0600;

// The running system's version as major * 256 + minor, or 0 when it cannot be had.
DWORD GetWindowsVersionWord();

// Reads the argument string (the command line after the program name), waits, starts the
// target and returns the process exit code: 0 on every path, whether anything was started or
// not. An agent that runs elevated already (a log-on task with the highest privileges) starts
// the target itself; otherwise the shell starts it, with the "runas" verb from Vista on.
int AgentMain(const wchar_t* arguments, const AgentCalls& calls = kSystemCalls);

}  // namespace agent
}  // namespace kx7
