// Stands in for a registry cleanup tool: appends one line "<own full path>\t<command line>\n"
// (UTF-8) to the log beside itself and ends. Built once under each tool's file name.
#include <windows.h>

#include <string>

#include "tests/win32/cleanup/standin_log.h"

int main() {
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
    const std::wstring logPath = path.substr(0, cut + 1) + kx7::test::kStandInLogName;
    const std::wstring line = path + L'\t' + GetCommandLineW() + L'\n';

    const int bytes = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()),
                                          nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return 1;
    }
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), &utf8[0], bytes,
                        nullptr, nullptr);

    // Shared for deletion too, so the test can clear the log whenever it likes.
    HANDLE log = CreateFileW(logPath.c_str(), FILE_APPEND_DATA,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) {
        return 1;
    }
    // One write, so a reader never sees half a line.
    DWORD written = 0;
    const BOOL ok = WriteFile(log, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    CloseHandle(log);
    return ok && written == utf8.size() ? 0 : 1;
}
