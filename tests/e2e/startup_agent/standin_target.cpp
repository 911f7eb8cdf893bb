// Stands in for the connector as the agent's target: records when it started and with what
// command line, then stays running until the test releases it.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/e2e/startup_agent/standin_target.h"

namespace {

constexpr DWORD kLongestStayMs = 60000;

std::string Utf8(const std::wstring& text) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                          nullptr, 0, nullptr, nullptr);
    std::string out(bytes > 0 ? static_cast<size_t>(bytes) : 0, '\0');
    if (bytes > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], bytes,
                            nullptr, nullptr);
    }
    return out;
}

}  // namespace

int main() {
    FILETIME started;
    GetSystemTimeAsFileTime(&started);

    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return 1;
    }
    const std::wstring path(self, length);
    const size_t cut = path.rfind(L'\\');
    if (cut == std::wstring::npos) {
        return 1;
    }
    const std::wstring logPath = path.substr(0, cut + 1) + kx7::test::kTargetLogName;

    char head[64];
    const unsigned long long time =
        (static_cast<unsigned long long>(started.dwHighDateTime) << 32) | started.dwLowDateTime;
    std::snprintf(head, sizeof(head), "%llu\t%lu\t", time,
                  static_cast<unsigned long>(GetCurrentProcessId()));
    const std::string line = head + Utf8(path + L'\t' + GetCommandLineW() + L'\n');

    // Shared for deletion too, so the test can clear the log whenever it likes.
    HANDLE log = CreateFileW(logPath.c_str(), FILE_APPEND_DATA,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) {
        return 1;
    }
    // One write, so a reader never sees half a line.
    DWORD written = 0;
    WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(log);

    HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, kx7::test::kTargetReleaseEvent);
    if (release != nullptr) {
        WaitForSingleObject(release, kLongestStayMs);
        CloseHandle(release);
    }
    return 0;
}
