// What a replaced ShellExecuteExW saw of a start request, for the tests that pin the request a
// program hands the shell: the record's 60 bytes, and the texts its pointers led to, taken
// during the call since the pointers are good only then.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace kx7::test {

constexpr size_t kShellExecuteRecordSize = 60;

struct ShellExecuteRecord {
    unsigned char bytes[kShellExecuteRecordSize] = {};
    bool verbNull = true;  // the shell's default verb
    bool parametersNull = true;
    std::wstring verb;
    std::wstring file;
    std::wstring parameters;
};

inline ShellExecuteRecord RecordShellExecute(const SHELLEXECUTEINFOW& info) {
    static_assert(sizeof(SHELLEXECUTEINFOW) == kShellExecuteRecordSize, "start request of 60");
    ShellExecuteRecord seen;
    std::memcpy(seen.bytes, &info, sizeof(seen.bytes));
    seen.verbNull = info.lpVerb == nullptr;
    seen.verb = info.lpVerb != nullptr ? info.lpVerb : L"";
    seen.file = info.lpFile != nullptr ? info.lpFile : L"<null>";
    seen.parametersNull = info.lpParameters == nullptr;
    seen.parameters = info.lpParameters != nullptr ? info.lpParameters : L"";
    return seen;
}

// The record byte for byte against expected, but for the verb, file and parameters pointers
// (bytes 12 to 23), which are checked by the texts they point to.
inline void ExpectShellExecuteBytes(const ShellExecuteRecord& seen,
                                    const unsigned char (&expected)[kShellExecuteRecordSize]) {
    for (size_t i = 0; i < kShellExecuteRecordSize; ++i) {
        if (i < 12 || i >= 24) {
            EXPECT_EQ(unsigned{seen.bytes[i]}, unsigned{expected[i]}) << "byte " << i;
        }
    }
}

}  // namespace kx7::test
