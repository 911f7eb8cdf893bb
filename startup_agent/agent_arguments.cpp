#include "startup_agent/agent_arguments.h"

#include <algorithm>
#include <string_view>

namespace kx7 {
namespace agent {
namespace {

constexpr std::u16string_view kDelaySwitch = u"/D:";
constexpr std::u16string_view kHideSwitch = u"/HIDE";
constexpr std::u16string_view kPathSwitch = u"/S:";

bool IsAtoiSpace(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

}  // namespace

int32_t AgentAtoi(const char16_t* text, size_t length) {
    size_t i = 0;
    while (i < length && IsAtoiSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < length && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    // Accumulated as a magnitude that stops at the limit, so no digit string can overflow.
    const int64_t limit = negative ? INT64_C(2147483648) : INT64_C(2147483647);
    int64_t value = 0;
    for (; i < length && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > limit) {
            value = limit;
        }
    }
    return static_cast<int32_t>(negative ? -value : value);
}

AgentAction ParseAgentArguments(char16_t* arguments, AgentArguments* parsed) {
    *parsed = AgentArguments();
    if (arguments == nullptr) {
        return AgentAction::kNothingToStart;
    }

    // Only ASCII letters change: the switches are ASCII, and the file system finds the path
    // whatever its case, so every other letter stays as it was written. Upper-casing those
    // would need a locale's rules (a dotted i, a sharp s that becomes two letters) for nothing.
    for (char16_t* c = arguments; *c != u'\0'; ++c) {
        if (*c >= u'a' && *c <= u'z') {
            *c = static_cast<char16_t>(*c - u'a' + u'A');
        }
    }
    const std::u16string_view line(arguments);

    // The delay text ends at the first space. It is read in place rather than copied into a
    // fixed buffer: atoi only ever looks at its leading digits, so a long text (say
    // "/D:3000/S:<path>" written without spaces) still gives the number it starts with.
    const size_t delaySwitch = line.find(kDelaySwitch);
    if (delaySwitch != std::u16string_view::npos) {
        const size_t delay = delaySwitch + kDelaySwitch.size();
        const size_t end = std::min(line.find(u' ', delay), line.size());
        parsed->nDelayMs = AgentAtoi(arguments + delay, end - delay);
    }

    parsed->bHide = line.find(kHideSwitch) != std::u16string_view::npos ? 1 : 0;

    const size_t pathSwitch = line.find(kPathSwitch);
    if (pathSwitch == std::u16string_view::npos) {
        return AgentAction::kNothingToStart;
    }
    const size_t path = pathSwitch + kPathSwitch.size();
    const size_t length = line.size() - path;
    // A path cut to fit the buffer would name another file, or a directory, or nothing: a
    // path that does not fit starts nothing. An empty one is no start request at all.
    if (length == 0 || length >= kPathChars) {
        return AgentAction::kNothingToStart;
    }
    for (size_t i = 0; i <= length; ++i) {
        parsed->szPath[i] = arguments[path + i];
    }
    return AgentAction::kStart;
}

}  // namespace agent
}  // namespace kx7
