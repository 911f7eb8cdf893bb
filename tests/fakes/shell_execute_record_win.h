// What a replaced ShellExecuteExW saw of a start request: the record's 60 bytes with the verb,
// file and parameters pointers (bytes 12 to 23) zeroed, and the texts they led to, taken during
// the call since the pointers are good only then. A null pointer reads "<null>". The bytes are
// those of the 32-bit record the shipped programs send; a build with wider pointers lays the
// record out otherwise and leaves them zero, and its other fields are also read by name. Then
// stand-ins for a start without the shell.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

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

// Every replaced call of a test, in order, one line each. The token is handle 1 (0 if asked for
// otherwise), and a right query of it logs nothing: a token queried and closed again shows as
// "CloseHandle 1". The target's process and thread are handles 2 and 3.
inline std::vector<std::wstring> g_startCalls;
inline int g_tokenElevated = 0;  // what the token says; -1: the query fails, as before Vista
inline BOOL g_processStarts = TRUE;
inline void ResetStartCalls(int tokenElevated) {
    g_startCalls.clear();
    g_tokenElevated = tokenElevated;
    g_processStarts = TRUE;
}

inline BOOL WINAPI FakeOpenProcessToken(HANDLE process, DWORD access, HANDLE* token) {
    *token = reinterpret_cast<HANDLE>(process == GetCurrentProcess() && access == TOKEN_QUERY);
    return TRUE;
}
// Fills in the answer even when it fails, so that an answer read without its result shows.
inline BOOL WINAPI FakeGetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, void* answer,
                                           DWORD size, DWORD*) {
    if (UINT_PTR(token) != 1 || kind != TokenElevation || size != sizeof(TOKEN_ELEVATION)) {
        g_startCalls.push_back(L"GetTokenInformation of something else");
    }
    static_cast<TOKEN_ELEVATION*>(answer)->TokenIsElevated = DWORD(g_tokenElevated);
    return g_tokenElevated >= 0;
}
// Logs "<application> | <command line> | <start flags> <show command>[ and more]".
inline BOOL WINAPI FakeCreateProcessW(const wchar_t* application, wchar_t* line,
                                      SECURITY_ATTRIBUTES* processAttributes,
                                      SECURITY_ATTRIBUTES* threadAttributes, BOOL inherit,
                                      DWORD flags, void* environment, const wchar_t* directory,
                                      STARTUPINFOW* startup, PROCESS_INFORMATION* process) {
    const bool more = processAttributes || threadAttributes || inherit || flags || environment ||
                      directory || startup->cb != sizeof(*startup);
    g_startCalls.push_back(L"CreateProcessW " + TextOrNull(application) + L" | " +
                           TextOrNull(line) + L" | " + std::to_wstring(startup->dwFlags) + L" " +
                           std::to_wstring(startup->wShowWindow) + (more ? L" and more" : L""));
    *process = {reinterpret_cast<HANDLE>(2), reinterpret_cast<HANDLE>(3), 0, 0};
    return g_processStarts;
}
inline BOOL WINAPI FakeCloseHandle(HANDLE handle) {
    g_startCalls.push_back(L"CloseHandle " + std::to_wstring(UINT_PTR(handle)));
    return TRUE;
}

}  // namespace kx7::test
