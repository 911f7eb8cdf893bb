// Process start-up of the connector: the command-line switches and the order of the
// single-instance tests, kept apart from the window system so that both can be tested natively.
#pragma once

#include <cstdint>
#include <string>

namespace kx7 {

extern const wchar_t kMainWindowTitle[];     // "KX7 HostPair Auto Connector"
extern const wchar_t kPrivateClassName[];    // "KX7AutoConnector_Class"
extern const wchar_t kAlreadyRunningText[];  // "HostPair is already in operation."

// The longest "/D:" wait honoured. The startup agent asks for seconds, not weeks; anything
// larger is taken as this, so that a mistyped number cannot leave start-up hanging.
constexpr int32_t kMaxStartupDelayMs = 10 * 60 * 1000;

struct StartupSwitches {
    int32_t delayMs = 0;  // 0: no wait
    bool hideMode = false;
};

// Upper-cases the argument string. Only ASCII letters change: the switches are ASCII, and a
// locale-dependent mapping could turn other letters into "HIDE" (the dotless i, for one).
std::wstring UpperCaseArguments(const std::wstring& arguments);

// The C runtime's atoi over [begin, end): leading white space, an optional sign, then decimal
// digits up to the first other character; no digits give 0. Saturates at the int32 limits.
int32_t WideAtoi(const std::wstring& text, size_t begin, size_t end);

// Reads "/D:" and "HIDE" from the upper-cased arguments. A key counts only when its first
// occurrence stands after the first character; the delay is the number after the first ":" of
// the whole string. Negative delays give 0 and delays above kMaxStartupDelayMs are capped.
StartupSwitches ParseStartupArguments(const std::wstring& upperArguments);

struct StartupState {
    std::wstring m_strArguments;
    int32_t m_bHideMode = 0;
};

// What start-up needs of the window system and the framework.
class StartupHost {
  public:
    virtual ~StartupHost() = default;
    // Any top-level window with exactly this title.
    virtual uintptr_t FindWindowByTitle(const wchar_t* title) = 0;
    // Any top-level window of this class.
    virtual uintptr_t FindWindowByClass(const wchar_t* className) = 0;
    virtual void SetForeground(uintptr_t window) = 0;
    // The framework's message box: OK button, exclamation icon, the application's name as caption.
    virtual void ShowFrameworkMessage(const wchar_t* text) = 0;
    virtual void Sleep(uint32_t milliseconds) = 0;
    // Common controls, the framework's own start-up and its per-user registry root.
    virtual void InitFramework() = 0;
    // Registers the private class as a copy of the system dialog class; failures are ignored.
    virtual void RegisterPrivateClass() = 0;
    // Publishes the arguments and hide mode to the application object, then constructs the
    // main dialog, runs it modally and destroys it. The dialog reads hide mode while it runs.
    virtual void RunMainDialog(const StartupState& state) = 0;
};

// The whole start-up, in order. Returns false on every path, so the process ends afterwards.
bool RunStartup(StartupHost& host, const std::wstring& arguments, StartupState* state);

}  // namespace kx7
