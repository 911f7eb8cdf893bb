// What a replaced ShellExecuteExW saw of a start request: the record's 60 bytes with the verb,
// file and parameters pointers (bytes 12 to 23) zeroed, and the texts they led to, taken during
// the call since the pointers are good only then. A null pointer reads "<null>".
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <array>
#include <cstring>
#include <string>

namespace kx7::test {

struct ShellExecuteRecord {
    std::array<unsigned char, 60> bytes{};
    std::wstring verb, file, parameters;
};

inline std::wstring TextOrNull(const wchar_t* text) {
    return text != nullptr ? text : L"<null>";
}

inline ShellExecuteRecord RecordShellExecute(const SHELLEXECUTEINFOW& info) {
    static_assert(sizeof(info) == 60, "start request of 60 bytes");
    ShellExecuteRecord seen;
    std::memcpy(seen.bytes.data(), &info, seen.bytes.size());
    std::memset(seen.bytes.data() + 12, 0, 12);
    seen.verb = TextOrNull(info.lpVerb);
    seen.file = TextOrNull(info.lpFile);
    seen.parameters = TextOrNull(info.lpParameters);
    return seen;
}

}  // namespace kx7::test
