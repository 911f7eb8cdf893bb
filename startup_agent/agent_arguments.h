// The agent's command line: "/D:<milliseconds>", "/HIDE" and "/S:<path>", where the path runs
// to the end of the line. It is read as the system keeps it, in UTF-16: the code page's copy of
// it maps letters it cannot hold to look-alikes, and a path that reads "C:\ZLOTY" there may be
// another folder than the "C:\Złoty" that was written. Kept apart from the system calls so that
// it can be tested natively.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx7 {
namespace agent {

// The path buffer handed to the system: 259 UTF-16 code units and the terminator.
constexpr size_t kPathChars = 260;

enum class AgentAction {
    kStart,          // wait, then start szPath
    kNothingToStart  // no "/S:" or nothing after it, or a path too long for the buffer
};

struct AgentArguments {
    // What the C runtime's atoi reads after "/D:"; zero or negative means no wait.
    int32_t nDelayMs = 0;
    // 1 when "/HIDE" occurs anywhere in the line, slash included.
    int32_t bHide = 0;
    // The upper-cased target path, terminated; empty unless the action is kStart.
    char16_t szPath[kPathChars] = {};
};

// The C runtime's atoi over the first length code units of text: leading white space, an
// optional sign, then decimal digits up to the first other character; no digits give 0. Values
// beyond the int32 range give its limits, as the Windows runtime documents for atoi.
int32_t AgentAtoi(const char16_t* text, size_t length);

// Upper-cases arguments in place (only a-z change) and reads the three switches from it.
// A null string reads as an empty one.
AgentAction ParseAgentArguments(char16_t* arguments, AgentArguments* parsed);

}  // namespace agent
}  // namespace kx7
