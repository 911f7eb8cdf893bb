// Drives the real programs as a user and the system would: starts them as child processes,
// finds their windows by title and class, reads texts and presses buttons.
#pragma once

#include <windows.h>

#include <string>

namespace kx7::e2e {

// The path of a program built beside the test executable.
std::wstring ProgramPath(const wchar_t* exeName);

class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Start(const std::wstring& exePath, const std::wstring& arguments);
    // Waits for the process to end; false on time-out.
    bool WaitExit(DWORD timeoutMs, DWORD* exitCode);
    bool Running() const;
    DWORD pid() const { return info_.dwProcessId; }
    // Kills the process if it still runs.
    void Kill();

  private:
    PROCESS_INFORMATION info_ = {};
};

// Polls until a top-level window of this class and title (either may be null) exists, owned by
// the process (0: any process); null on time-out.
HWND WaitForWindow(const wchar_t* className, const wchar_t* title, DWORD pid, DWORD timeoutMs);

std::wstring WindowText(HWND window);
// The text of the message box's static text control.
std::wstring MessageBoxText(HWND box);

// Deletes a key and its subkeys under HKEY_CURRENT_USER.
void DeleteUserKey(const wchar_t* path);
bool ReadUserDword(const wchar_t* path, const wchar_t* name, DWORD* type, DWORD* value);

}  // namespace kx7::e2e
