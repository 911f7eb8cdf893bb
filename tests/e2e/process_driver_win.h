// Drives the real programs as a user and the system would: starts them as child processes,
// finds their windows by title and class, reads texts and presses buttons.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

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

// Runs a console program to its end with its standard output in a pipe. False when it cannot
// be started or has not ended timeoutMs after its output closed.
bool RunCapturingOutput(const std::wstring& exePath, const std::wstring& arguments, DWORD timeoutMs,
                        std::string* output, DWORD* exitCode);

// The last line of a program's output that is not empty, without its line break: the answer of
// a tool that writes its notes before it.
std::string LastLine(const std::string& output);

// Polls until a top-level window of this class and title (either may be null) exists, owned by
// the process (0: any process); null on time-out.
HWND WaitForWindow(const wchar_t* className, const wchar_t* title, DWORD pid, DWORD timeoutMs);

// Polls until the process shows a message box with this caption and text; null on time-out.
HWND WaitForBox(const wchar_t* caption, const std::wstring& text, DWORD pid, DWORD timeoutMs);
// Polls until the process shows a pop-up menu; null on time-out.
HWND WaitForPopupMenu(DWORD pid, DWORD timeoutMs);
// Asks the window as the system does at log-off: WM_QUERYENDSESSION, whose answer is returned,
// then, when it is TRUE, WM_ENDSESSION(TRUE).
LRESULT EndSession(HWND window);

std::wstring WindowText(HWND window);
// The text of the message box's static text control.
std::wstring MessageBoxText(HWND box);
// The texts of a dialog's static text controls (icons left out), in the order of the template.
std::vector<std::wstring> StaticTexts(HWND dialog);

// Polls until the condition holds; false on time-out.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(25);
    }
}

// Delivers a device-interface arrival or removal to the window as the system does.
bool SendInterfaceEvent(HWND window, bool arrival, const std::wstring& interfaceName);
// The text of a dialog's control.
std::wstring ControlText(HWND dialog, int id);
// Presses a dialog's button as a click would.
void ClickButton(HWND dialog, int id);

// Deletes a key and its subkeys under HKEY_CURRENT_USER.
void DeleteUserKey(const wchar_t* path);
bool ReadUserDword(const wchar_t* path, const wchar_t* name, DWORD* type, DWORD* value);
bool WriteUserDword(const wchar_t* path, const wchar_t* name, DWORD value);

}  // namespace kx7::e2e
