#include "connector/app/startup.h"

#include <limits>

namespace kx7 {

const wchar_t kMainWindowTitle[] = L"KX7 HostPair Auto Connector";
const wchar_t kPrivateClassName[] = L"KX7AutoConnector_Class";
const wchar_t kAlreadyRunningText[] = L"HostPair is already in operation.";

std::wstring UpperCaseArguments(const std::wstring& arguments) {
    std::wstring upper = arguments;
    for (wchar_t& c : upper) {
        if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    return upper;
}

int32_t WideAtoi(const std::wstring& text, size_t begin, size_t end) {
    size_t i = begin;
    while (i < end && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < end && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    int64_t value = 0;
    const int64_t limit = negative ? -static_cast<int64_t>(std::numeric_limits<int32_t>::min())
                                   : std::numeric_limits<int32_t>::max();
    for (; i < end && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + (text[i] - L'0');
        if (value > limit) {
            value = limit;
        }
    }
    return static_cast<int32_t>(negative ? -value : value);
}

StartupSwitches ParseStartupArguments(const std::wstring& upperArguments) {
    StartupSwitches switches;
    const size_t delayKey = upperArguments.find(L"D:");
    if (delayKey != std::wstring::npos && delayKey > 0) {
        // Deliberately the first colon of the whole string, not the one after "D": the
        // startup agent and existing shortcuts rely on this reading.
        const size_t colon = upperArguments.find(L':');
        size_t end = upperArguments.find(L':', colon + 1);
        if (end == std::wstring::npos) {
            end = upperArguments.size();
        }
        int32_t delay = WideAtoi(upperArguments, colon + 1, end);
        if (delay < 0) {
            delay = 0;
        } else if (delay > kMaxStartupDelayMs) {
            delay = kMaxStartupDelayMs;
        }
        switches.delayMs = delay;
    }
    const size_t hideKey = upperArguments.find(L"HIDE");
    switches.hideMode = hideKey != std::wstring::npos && hideKey > 0;
    return switches;
}

bool RunStartup(StartupHost& host, const std::wstring& arguments, StartupState* state) {
    // A running copy found by title is refused before any switch is read, so a refused copy
    // neither waits nor changes anything.
    if (host.FindWindowByTitle(kMainWindowTitle) != 0) {
        host.ShowFrameworkMessage(kAlreadyRunningText);
        return false;
    }

    state->m_strArguments = UpperCaseArguments(arguments);
    const StartupSwitches switches = ParseStartupArguments(state->m_strArguments);
    if (switches.delayMs > 0) {
        host.Sleep(static_cast<uint32_t>(switches.delayMs));
    }
    state->m_bHideMode = switches.hideMode ? 1 : 0;

    host.InitFramework();

    // A copy that started while this one waited on "/D:" was not there for the title test.
    if (const uintptr_t running = host.FindWindowByClass(kPrivateClassName); running != 0) {
        host.SetForeground(running);
        return false;
    }

    host.RegisterPrivateClass();
    host.RunMainDialog(*state);
    return false;
}

}  // namespace kx7
