// What the stand-in target and the test that starts it through the agent agree on.
#pragma once

namespace kx7 {
namespace test {

// The file beside the stand-in where it records each start, one UTF-8 line:
// "<start time, FILETIME as decimal>\t<process id>\t<own full path>\t<command line>\n".
constexpr wchar_t kTargetLogName[] = L"agent_target.log";

// A manual-reset event the test creates; a started stand-in stays running until it is set,
// so the test can see that the agent ended without waiting for its target.
constexpr wchar_t kTargetReleaseEvent[] = L"Kx7AgentStandInRelease";

}  // namespace test
}  // namespace kx7
