// One stand-in process for the tests that start a program through the shell (the cleanup tools,
// the agent's target), and what those tests read back from it.
//
// Each start appends one UTF-8 line to a log beside the stand-in's own file:
// "<start time, FILETIME as decimal>\t<process id>\t<own full path>\t<command line>\n".
// A stand-in then stays running while kStandInReleaseEvent exists and is not set (for at most
// a minute), so a test can see that its starter ended without waiting; without that event it
// ends at once.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kx7::test {

// Built under each cleanup tool's file name, the stand-in logs here.
constexpr wchar_t kCleanupToolLogName[] = L"cleanup_standin.log";
// Built as the agent's target, here.
constexpr wchar_t kAgentTargetLogName[] = L"agent_target.log";

// A manual-reset event a test creates to keep its started stand-ins running.
constexpr wchar_t kStandInReleaseEvent[] = L"Kx7AgentStandInRelease";

inline std::string Utf8(const std::wstring& text) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                          nullptr, 0, nullptr, nullptr);
    std::string out(bytes > 0 ? static_cast<size_t>(bytes) : 0, '\0');
    if (bytes > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], bytes,
                            nullptr, nullptr);
    }
    return out;
}

inline std::wstring DirectoryOf(const std::wstring& path) {
    return path.substr(0, path.rfind(L'\\'));
}

// The directory of the running program; empty when its path does not fit.
inline std::wstring OwnDirectory() {
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    return DirectoryOf(std::wstring(self, length < MAX_PATH ? length : 0));
}

// Equal but for case, as Windows compares file paths.
inline bool SameText(const std::string& a, const std::string& b) {
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) ==
           CSTR_EQUAL;
}

struct StandInStart {
    ULONGLONG time = 0;
    DWORD pid = 0;
    std::string program;      // the stand-in's own full path
    std::string commandLine;  // as it received it
};

// The complete lines of a stand-in's log so far; an absent log has none.
inline std::vector<StandInStart> ReadStandInStarts(const std::wstring& logPath) {
    std::vector<StandInStart> starts;
    HANDLE file = CreateFileW(logPath.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return starts;
    }
    std::string text;
    char chunk[512];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0) {
        text.append(chunk, got);
    }
    CloseHandle(file);
    size_t begin = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', begin)) {
        const std::string line = text.substr(begin, end - begin);
        begin = end + 1;
        const size_t tab1 = line.find('\t');
        const size_t tab2 = line.find('\t', tab1 + 1);
        const size_t tab3 = line.find('\t', tab2 + 1);
        if (tab1 == std::string::npos || tab2 == std::string::npos || tab3 == std::string::npos) {
            continue;
        }
        StandInStart start;
        start.time = std::stoull(line.substr(0, tab1));
        start.pid = static_cast<DWORD>(std::stoul(line.substr(tab1 + 1, tab2 - tab1 - 1)));
        start.program = line.substr(tab2 + 1, tab3 - tab2 - 1);
        start.commandLine = line.substr(tab3 + 1);
        starts.push_back(start);
    }
    return starts;
}

// What follows the program name on a command line, without surrounding blanks.
inline std::string Arguments(const std::string& commandLine) {
    size_t pos = 0;
    if (!commandLine.empty() && commandLine[0] == '"') {
        const size_t close = commandLine.find('"', 1);
        pos = close == std::string::npos ? commandLine.size() : close + 1;
    } else {
        pos = commandLine.find_first_of(" \t");
        if (pos == std::string::npos) {
            pos = commandLine.size();
        }
    }
    const size_t first = commandLine.find_first_not_of(" \t", pos);
    if (first == std::string::npos) {
        return std::string();
    }
    const size_t last = commandLine.find_last_not_of(" \t");
    return commandLine.substr(first, last - first + 1);
}

}  // namespace kx7::test
