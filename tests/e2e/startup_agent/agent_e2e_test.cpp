// The real agent started as a log-on entry would start it, with a stand-in target that records
// when it was started and with what command line.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/e2e/process_driver_win.h"
#include "tests/fakes/standin_process_win.h"

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

using test::Arguments;
using test::DirectoryOf;
using test::SameText;
using test::Utf8;

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
        release_ = CreateEventW(nullptr, TRUE, FALSE, test::kStandInReleaseEvent);
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
        DeleteFileW((directory + L"\\" + test::kAgentTargetLogName).c_str());
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

    static std::vector<test::StandInStart> WaitForStarts(const std::wstring& directory) {
        const std::wstring log = directory + L"\\" + test::kAgentTargetLogName;
        std::vector<test::StandInStart> starts;
        for (DWORD waited = 0; waited < kTargetStartTimeoutMs && starts.empty(); waited += 100) {
            Sleep(100);
            starts = test::ReadStandInStarts(log);
        }
        return starts;
    }

    static void ExpectNoStart(const std::wstring& directory) {
        Sleep(kQuietMs);
        EXPECT_TRUE(test::ReadStandInStarts(directory + L"\\" + test::kAgentTargetLogName).empty())
            << "the target was started";
    }

    // Expects exactly one start of program, with these arguments, no sooner than minDelayMs
    // after the agent was started, and still running after the agent has ended.
    static void ExpectOneStart(const AgentOutcome& outcome, const std::wstring& program,
                               const std::string& arguments, ULONGLONG minDelayMs) {
        const std::vector<test::StandInStart> starts = WaitForStarts(DirectoryOf(program));
        ASSERT_EQ(starts.size(), 1u);
        const test::StandInStart& start = starts[0];
        EXPECT_TRUE(SameText(start.program, Utf8(program)))
            << start.program << " started instead of " << Utf8(program);
        EXPECT_EQ(Arguments(start.commandLine), arguments) << start.commandLine;
        ASSERT_GE(start.time, outcome.startedAt);
        EXPECT_GE((start.time - outcome.startedAt) / kTicksPerMs, minDelayMs);
        // The target waits for the test's release: had the agent waited for it, the agent
        // would not have ended.
        EXPECT_TRUE(ProcessRunning(start.pid)) << "the target ended before it was released";
    }

    // The agent ended by itself with 0, having put up no box unless boxesAllowed.
    static void ExpectCleanExit(const AgentOutcome& outcome, bool boxesAllowed = false) {
        ASSERT_TRUE(outcome.exited) << "the agent did not end";
        EXPECT_EQ(outcome.exitCode, 0u);
        if (!boxesAllowed) {
            EXPECT_EQ(outcome.shellErrorBoxes, 0);
        }
    }

    std::wstring target_;
    HANDLE release_ = nullptr;
    std::set<std::wstring> logDirectories_;
    std::vector<std::wstring> copies_;
};

TEST_F(AgentEndToEnd, LogOnEntryStartsTheTargetHiddenAfterTheDelay) {
    const AgentOutcome outcome = RunAgent(L"/D:3000 /HIDE /S:" + target_);
    ExpectCleanExit(outcome);
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
    ExpectOneStart(outcome, copy, "", 0);
}

TEST_F(AgentEndToEnd, SwitchAfterThePathStartsNothing) {
    // The shell is asked for a program named "...\AGENTSTANDINTARGET.EXE /HIDE" and fails,
    // possibly with an error box of its own.
    const AgentOutcome outcome = RunAgent(L"/S:" + target_ + L" /HIDE");
    ExpectCleanExit(outcome, true);
    ExpectNoStart(DirectoryOf(target_));
}

TEST_F(AgentEndToEnd, NoArgumentsStartNothingAndShowNothing) {
    for (const wchar_t* arguments : {L"", L"/D:100 /HIDE", L"/HIDE /S:"}) {
        SCOPED_TRACE(arguments);
        const AgentOutcome outcome = RunAgent(arguments);
        ExpectCleanExit(outcome);
    }
    ExpectNoStart(DirectoryOf(target_));
}

TEST_F(AgentEndToEnd, PathInAnyScriptStartsThatProgramAndNotALookAlike) {
    // The code page's copy of the line reads "Zloty" for "Z\u0142oty": a folder anyone may make.
    std::wstring wanted, lookAlike;
    ASSERT_TRUE(CopyTarget(DirectoryOf(target_) + L"\\Z\u0142oty", &wanted));
    ASSERT_TRUE(CopyTarget(DirectoryOf(target_) + L"\\Zloty", &lookAlike));
    ExpectOneStart(RunAgent(L"/HIDE /S:" + wanted), wanted, "/HIDE", 0);
    ExpectNoStart(DirectoryOf(lookAlike));
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
    ExpectNoStart(DirectoryOf(copy));

    const AgentOutcome started = RunAgent(L"/HIDE /S:" + copy);
    ExpectCleanExit(started);
    ExpectOneStart(started, copy, "/HIDE", 0);
}

}  // namespace
}  // namespace kx7::e2e
