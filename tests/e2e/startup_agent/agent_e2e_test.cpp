// The real agent started as a log-on entry would start it, with a stand-in target that records
// when it was started and with what command line.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/e2e/process_driver_win.h"
#include "tests/e2e/startup_agent/standin_target.h"

namespace kx7::e2e {
namespace {

const wchar_t kAgentName[] = L"StonevaultStartupAgent.exe";
const wchar_t kTargetName[] = L"AgentStandInTarget.exe";
constexpr DWORD kAgentExitTimeoutMs = 30000;
constexpr DWORD kTargetStartTimeoutMs = 20000;
// Time an unwanted start would have to show up in the log.
constexpr DWORD kQuietMs = 2000;
constexpr ULONGLONG kTicksPerMs = 10000;  // FILETIME counts 100 ns

ULONGLONG Now() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

std::wstring DirectoryOf(const std::wstring& path) {
    return path.substr(0, path.rfind(L'\\'));
}

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

bool SameText(const std::string& a, const std::string& b) {
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) ==
           CSTR_EQUAL;
}

struct TargetStart {
    ULONGLONG time = 0;
    DWORD pid = 0;
    std::string program;      // the stand-in's own full path
    std::string commandLine;  // as it received it
};

// The complete lines of a stand-in's log so far; an absent log has none.
std::vector<TargetStart> ReadStarts(const std::wstring& logPath) {
    std::vector<TargetStart> starts;
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
        if (tab3 == std::string::npos) {
            continue;
        }
        TargetStart start;
        start.time = std::stoull(line.substr(0, tab1));
        start.pid = static_cast<DWORD>(std::stoul(line.substr(tab1 + 1, tab2 - tab1 - 1)));
        start.program = line.substr(tab2 + 1, tab3 - tab2 - 1);
        start.commandLine = line.substr(tab3 + 1);
        starts.push_back(start);
    }
    return starts;
}

// What follows the program name on a command line, without surrounding blanks.
std::string Arguments(const std::string& commandLine) {
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

bool ProcessRunning(DWORD pid) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) {
        return false;
    }
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

struct AgentOutcome {
    bool exited = false;
    DWORD exitCode = 1234;
    ULONGLONG startedAt = 0;  // just before the agent was started
    int shellErrorBoxes = 0;  // dialogs of the agent's process, answered with OK
};

class AgentEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        target_ = ProgramPath(kTargetName);
        release_ = CreateEventW(nullptr, TRUE, FALSE, test::kTargetReleaseEvent);
        ASSERT_NE(release_, nullptr);
        ClearLog(DirectoryOf(target_));
    }

    void TearDown() override {
        SetEvent(release_);
        CloseHandle(release_);
        for (const std::wstring& directory : logDirectories_) {
            ClearLog(directory);
        }
        // Copies first, then the directories that held them, deepest first.
        for (auto it = copies_.rbegin(); it != copies_.rend(); ++it) {
            DeleteFileW(it->c_str());
            RemoveDirectoryW(DirectoryOf(*it).c_str());
        }
    }

    void ClearLog(const std::wstring& directory) {
        logDirectories_.insert(directory);
        DeleteFileW((directory + L"\\" + test::kTargetLogName).c_str());
    }

    // A copy of the stand-in under another path, removed again after the test.
    bool CopyTarget(const std::wstring& directory, std::wstring* copy) {
        if (!CreateDirectoryW(directory.c_str(), nullptr) &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            return false;
        }
        *copy = directory + L"\\" + kTargetName;
        copies_.push_back(*copy);
        ClearLog(directory);
        return CopyFileW(target_.c_str(), copy->c_str(), FALSE) != FALSE;
    }

    // Runs the agent to its end. Dialogs its process shows (the shell's own error box for a
    // target that cannot be started) are answered as a user would, so that the agent can end.
    static AgentOutcome RunAgent(const std::wstring& arguments) {
        AgentOutcome outcome;
        outcome.startedAt = Now();
        ChildProcess agent;
        if (!agent.Start(ProgramPath(kAgentName), arguments)) {
            return outcome;
        }
        std::set<HWND> answered;
        const ULONGLONG deadline = GetTickCount64() + kAgentExitTimeoutMs;
        while (!outcome.exited && GetTickCount64() < deadline) {
            outcome.exited = agent.WaitExit(100, &outcome.exitCode);
            HWND box = WaitForWindow(L"#32770", nullptr, agent.pid(), 0);
            if (box != nullptr && answered.insert(box).second) {
                PostMessageW(box, WM_COMMAND, IDOK, 0);
            }
        }
        outcome.shellErrorBoxes = static_cast<int>(answered.size());
        return outcome;
    }

    static std::vector<TargetStart> WaitForStarts(const std::wstring& directory) {
        const std::wstring log = directory + L"\\" + test::kTargetLogName;
        std::vector<TargetStart> starts;
        for (DWORD waited = 0; waited < kTargetStartTimeoutMs && starts.empty(); waited += 100) {
            Sleep(100);
            starts = ReadStarts(log);
        }
        return starts;
    }

    static void ExpectNoStart(const std::wstring& directory) {
        Sleep(kQuietMs);
        EXPECT_TRUE(ReadStarts(directory + L"\\" + test::kTargetLogName).empty())
            << "the target was started";
    }

    // Expects exactly one start of program, with these arguments, no sooner than minDelayMs
    // after the agent was started, and still running after the agent has ended.
    static void ExpectOneStart(const AgentOutcome& outcome, const std::wstring& program,
                               const std::string& arguments, ULONGLONG minDelayMs) {
        const std::vector<TargetStart> starts = WaitForStarts(DirectoryOf(program));
        ASSERT_EQ(starts.size(), 1u);
        const TargetStart& start = starts[0];
        EXPECT_TRUE(SameText(start.program, Utf8(program)))
            << start.program << " started instead of " << Utf8(program);
        EXPECT_EQ(Arguments(start.commandLine), arguments) << start.commandLine;
        ASSERT_GE(start.time, outcome.startedAt);
        EXPECT_GE((start.time - outcome.startedAt) / kTicksPerMs, minDelayMs);
        // The target waits for the test's release: had the agent waited for it, the agent
        // would not have ended.
        EXPECT_TRUE(ProcessRunning(start.pid)) << "the target ended before it was released";
    }

    static void ExpectCleanExit(const AgentOutcome& outcome) {
        ASSERT_TRUE(outcome.exited) << "the agent did not end";
        EXPECT_EQ(outcome.exitCode, 0u);
    }

    std::wstring target_;
    HANDLE release_ = nullptr;
    std::set<std::wstring> logDirectories_;
    std::vector<std::wstring> copies_;
};

TEST_F(AgentEndToEnd, LogOnEntryStartsTheTargetHiddenAfterTheDelay) {
    const AgentOutcome outcome = RunAgent(L"/D:3000 /HIDE /S:" + target_);
    ExpectCleanExit(outcome);
    EXPECT_EQ(outcome.shellErrorBoxes, 0);
    ExpectOneStart(outcome, target_, "/HIDE", 3000);
}

TEST_F(AgentEndToEnd, LowerCaseSwitchesWork) {
    std::wstring lower = target_;
    CharLowerBuffW(&lower[0], static_cast<DWORD>(lower.size()));
    const AgentOutcome outcome = RunAgent(L"/d:500 /hide /s:" + lower);
    ExpectCleanExit(outcome);
    ExpectOneStart(outcome, target_, "/HIDE", 500);
}

TEST_F(AgentEndToEnd, PathWithASpaceStartsAtOnceWithoutArguments) {
    std::wstring copy;
    ASSERT_TRUE(CopyTarget(DirectoryOf(target_) + L"\\agent target", &copy));
    const AgentOutcome outcome = RunAgent(L"/S:" + copy);
    ExpectCleanExit(outcome);
    EXPECT_EQ(outcome.shellErrorBoxes, 0);
    ExpectOneStart(outcome, copy, "", 0);
}

TEST_F(AgentEndToEnd, SwitchAfterThePathStartsNothing) {
    // The shell is asked for a program named "...\AGENTSTANDINTARGET.EXE /HIDE" and fails,
    // possibly with an error box of its own.
    const AgentOutcome outcome = RunAgent(L"/S:" + target_ + L" /HIDE");
    ExpectCleanExit(outcome);
    ExpectNoStart(DirectoryOf(target_));
}

TEST_F(AgentEndToEnd, NoArgumentsStartNothingAndShowNothing) {
    for (const wchar_t* arguments : {L"", L"/D:100 /HIDE", L"/HIDE /S:"}) {
        SCOPED_TRACE(arguments);
        const AgentOutcome outcome = RunAgent(arguments);
        ExpectCleanExit(outcome);
        EXPECT_EQ(outcome.shellErrorBoxes, 0);
    }
    ExpectNoStart(DirectoryOf(target_));
}

TEST_F(AgentEndToEnd, PathOf259StartsAndALongerOneIsNotCutBackToIt) {
    // A copy whose full path is exactly 259 characters: the longest that fits, and what a
    // path one character longer would become if it were cut to fit.
    const std::wstring base = DirectoryOf(target_) + L"\\";
    const size_t padding = 259 - base.size() - 1 - wcslen(kTargetName);
    std::wstring copy;
    ASSERT_TRUE(CopyTarget(base + std::wstring(padding, L'p'), &copy));
    ASSERT_EQ(copy.size(), 259u);

    const AgentOutcome refused = RunAgent(L"/HIDE /S:" + copy + L"X");
    ExpectCleanExit(refused);
    EXPECT_EQ(refused.shellErrorBoxes, 0);
    ExpectNoStart(DirectoryOf(copy));

    const AgentOutcome started = RunAgent(L"/HIDE /S:" + copy);
    ExpectCleanExit(started);
    ExpectOneStart(started, copy, "/HIDE", 0);
}

}  // namespace
}  // namespace kx7::e2e
