// What a replaced ShellExecuteExW saw of a start request: the record's 60 bytes with the verb,
// file and parameters pointers (bytes 12 to 23) zeroed, and the texts they led to, taken during
// the call since the pointers are good only then. A null pointer reads "<null>". The bytes are
// those of the 32-bit record the shipped programs send; a build with wider pointers lays the
// record out otherwise and leaves them zero, and its other fields are also read by name.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <array>
#include <cstring>
#include <string>

namespace kx7::test {

struct ShellExecuteRecord {
    std::array<unsigned char, 60> bytes{};
    std::wstring fields;  // every field but the three texts, by name (see DescribeFields)
    std::wstring verb, file, parameters;
};

inline std::wstring TextOrNull(const wchar_t* text) {
    return text != nullptr ? text : L"<null>";
}

// The record's fields other than the verb, file and parameters pointers, as one line.
inline std::wstring DescribeFields(const SHELLEXECUTEINFOW& info) {
    const auto value = [](const void* pointer) {
        return std::to_wstring(reinterpret_cast<UINT_PTR>(pointer));
    };
    return L"cbSize=" + std::to_wstring(info.cbSize) + L" fMask=" + std::to_wstring(info.fMask) +
           L" hwnd=" + value(info.hwnd) + L" lpDirectory=" + value(info.lpDirectory) + L" nShow=" +
           std::to_wstring(info.nShow) + L" hInstApp=" + value(info.hInstApp) + L" lpIDList=" +
           value(info.lpIDList) + L" lpClass=" + value(info.lpClass) + L" hkeyClass=" +
           value(info.hkeyClass) + L" dwHotKey=" + std::to_wstring(info.dwHotKey) + L" hIcon=" +
           value(info.hIcon) + L" hProcess=" + value(info.hProcess);
}

inline ShellExecuteRecord RecordShellExecute(const SHELLEXECUTEINFOW& info) {
    ShellExecuteRecord seen;
#if defined(__i386__)
    static_assert(sizeof(info) == 60, "start request of 60 bytes");
    std::memcpy(seen.bytes.data(), &info, seen.bytes.size());
    std::memset(seen.bytes.data() + 12, 0, 12);
#endif
    seen.fields = DescribeFields(info);
    seen.verb = TextOrNull(info.lpVerb);
    seen.file = TextOrNull(info.lpFile);
    seen.parameters = TextOrNull(info.lpParameters);
    return seen;
}

}  // namespace kx7::test
