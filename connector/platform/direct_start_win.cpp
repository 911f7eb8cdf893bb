#include "connector/platform/direct_start_win.h"

namespace kx7 {

namespace {

// A fixed buffer, not a string: the startup agent stays a small program without the string
// library.
constexpr size_t kLineChars = 2 * MAX_PATH;

bool Append(wchar_t* line, size_t* length, const wchar_t* text) {
    for (; *text != L'\0'; ++text) {
        if (*length + 1 >= kLineChars) {
            return false;
        }
        line[(*length)++] = *text;
    }
    line[*length] = L'\0';
    return true;
}

}  // namespace

const DirectStartCalls kSystemDirectStartCalls = {::OpenProcessToken, ::GetTokenInformation,
                                                  ::CreateProcessW, ::CloseHandle};

bool RunsElevated(const DirectStartCalls& calls) {
    HANDLE token = nullptr;
    if (!calls.pfnOpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    const bool elevated =
        calls.pfnGetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size) &&
        elevation.TokenIsElevated != 0;
    calls.pfnCloseHandle(token);
    return elevated;
}

bool StartDirectly(const DirectStartCalls& calls, const wchar_t* path, const wchar_t* parameters,
                   WORD show) {
    wchar_t line[kLineChars];
    size_t length = 0;
    if (!Append(line, &length, L"\"") || !Append(line, &length, path) ||
        !Append(line, &length, L"\"") ||
        (parameters != nullptr &&
         (!Append(line, &length, L" ") || !Append(line, &length, parameters)))) {
        return false;
    }
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = show;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof(process));
    if (!calls.pfnCreateProcessW(path, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                 &process)) {
        return false;
    }
    // The program is never waited for.
    calls.pfnCloseHandle(process.hThread);
    calls.pfnCloseHandle(process.hProcess);
    return true;
}

}  // namespace kx7
