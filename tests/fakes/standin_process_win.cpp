// The stand-in process of standin_process_win.h. KX7_STANDIN_LOG names the log it writes, so
// that tests running side by side in one directory keep their logs apart.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/fakes/standin_process_win.h"

namespace {

constexpr DWORD kLongestStayMs = 60000;

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
    if (path.find(L'\\') == std::wstring::npos) {
        return 1;
    }
    const std::wstring logPath = kx7::test::DirectoryOf(path) + L"\\" + KX7_STANDIN_LOG;

    char head[64];
    const unsigned long long time =
        (static_cast<unsigned long long>(started.dwHighDateTime) << 32) | started.dwLowDateTime;
    std::snprintf(head, sizeof(head), "%llu\t%lu\t", time,
                  static_cast<unsigned long>(GetCurrentProcessId()));
    const std::string line = head + kx7::test::Utf8(path + L'\t' + GetCommandLineW() + L'\n');

    // Shared for deletion too, so the test can clear the log whenever it likes.
    HANDLE log = CreateFileW(logPath.c_str(), FILE_APPEND_DATA,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) {
        return 1;
    }
    // One write, so a reader never sees half a line.
    DWORD written = 0;
    const BOOL ok = WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(log);

    HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, kx7::test::kStandInReleaseEvent);
    if (release != nullptr) {
        WaitForSingleObject(release, kLongestStayMs);
        CloseHandle(release);
    }
    return ok && written == line.size() ? 0 : 1;
}
