// KX7HostCheck.exe: a console program that prints the host check's report and ends with its
// exit code. It takes no arguments but "/?", which prints its usage.
#include <windows.h>

#include <string>
#include <vector>

#include "connector/platform/dll_search_win.h"
#include "host_check/host_check.h"

namespace {

bool RunsElevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    const bool elevated =
        GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size) &&
        elevation.TokenIsElevated != 0;
    CloseHandle(token);
    return elevated;
}

// A console gets the text as it is; a file or a pipe gets UTF-8, so that adapter descriptions
// and names in any script survive a redirection.
void Write(const std::wstring& text, DWORD stream = STD_OUTPUT_HANDLE) {
    HANDLE out = GetStdHandle(stream);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                          nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return;
    }
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], bytes,
                        nullptr, nullptr);
    WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

// Started from Explorer ("Run as administrator"), the program gets a console of its own that
// would close with it before the report could be read.
void WaitIfConsoleIsOurOwn() {
    DWORD processes[2] = {};
    if (GetConsoleProcessList(processes, 2) != 1) {
        return;
    }
    Write(L"\r\nPress Enter to close this window.\r\n");
    wchar_t line[64];
    DWORD read = 0;
    ReadConsoleW(GetStdHandle(STD_INPUT_HANDLE), line, 64, &read, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Run from an administrator's prompt, possibly in a folder others can write to.
    kx7::RestrictDllSearchToSystem();
    const std::vector<std::wstring> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    std::wstring bad;
    int exitCode = kx7::kHostCheckAllPass;
    switch (kx7::ParseHostCheckArguments(arguments, &bad)) {
        case kx7::HostCheckAction::kUsage:
            Write(kx7::kHostCheckUsage);
            break;
        case kx7::HostCheckAction::kBadArgument:
            Write(L"KX7HostCheck: unknown argument \"" + bad + L"\"\r\n\r\n" + kx7::kHostCheckUsage,
                  STD_ERROR_HANDLE);
            exitCode = kx7::kHostCheckBadArguments;
            break;
        case kx7::HostCheckAction::kRun: {
            const kx7::HostCheckReport report =
                kx7::RunHostCheck(kx7::SystemHostSources(), RunsElevated());
            Write(report.text);
            exitCode = report.exitCode;
            break;
        }
    }
    WaitIfConsoleIsOurOwn();
    return exitCode;
}
