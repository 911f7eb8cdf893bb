#include "startup_agent/agent_arguments.h"

#include <cstring>

namespace kx7 {
namespace agent {
namespace {

const char kDelaySwitch[] = "/D:";
const char kHideSwitch[] = "/HIDE";
const char kPathSwitch[] = "/S:";

bool IsAtoiSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

int32_t AgentAtoi(const char* text, size_t length) {
    size_t i = 0;
    while (i < length && IsAtoiSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulated as a magnitude that stops at the limit, so no digit string can overflow.
    const int64_t limit = negative ? INT64_C(2147483648) : INT64_C(2147483647);
    int64_t value = 0;
    for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) {
            value = limit;
        }
    }
    return static_cast<int32_t>(negative ? -value : value);
}

AgentAction ParseAgentArguments(char* arguments, AgentArguments* parsed) {
    *parsed = AgentArguments();
    if (arguments == nullptr) {
        return AgentAction::kNothingToStart;
    }

    // Only ASCII letters change: the switches are ASCII, and the path keeps every byte of the
    // code page it was written in.
    for (char* c = arguments; *c != '\0'; ++c) {
        if (*c >= 'a' && *c <= 'z') {
            *c = static_cast<char>(*c - 'a' + 'A');
        }
    }

    // The delay text ends at the first space. It is read in place rather than copied into a
    // fixed buffer: atoi only ever looks at its leading digits, so a long text (say
    // "/D:3000/S:<path>" written without spaces) still gives the number it starts with.
    if (const char* delay = std::strstr(arguments, kDelaySwitch)) {
        delay += sizeof(kDelaySwitch) - 1;
        const char* space = std::strchr(delay, ' ');
        const size_t length =
            space != nullptr ? static_cast<size_t>(space - delay) : std::strlen(delay);
        parsed->nDelayMs = AgentAtoi(delay, length);
    }

    parsed->bHide = std::strstr(arguments, kHideSwitch) != nullptr ? 1 : 0;

    const char* path = std::strstr(arguments, kPathSwitch);
    if (path == nullptr) {
        return AgentAction::kNothingToStart;
    }
    path += sizeof(kPathSwitch) - 1;
    const size_t length = std::strlen(path);
    // A path cut to fit the buffer would name another file, or a directory, or nothing: a
    // path that does not fit starts nothing. An empty one is no start request at all.
    if (length == 0 || length >= kPathChars) {
        return AgentAction::kNothingToStart;
    }
    // The program never sets a locale, so the runtime's mbstowcs works in the "C" locale,
    // which widens every byte to the code unit of the same value. Doing that here keeps the
    // conversion the same in the native build, whatever its own runtime makes of such bytes.
    for (size_t i = 0; i < length; ++i) {
        parsed->szPath[i] = static_cast<char16_t>(static_cast<unsigned char>(path[i]));
    }
    parsed->szPath[length] = u'\0';
    return AgentAction::kStart;
}

}  // namespace agent
}  // namespace kx7
