#include "connector/platform/event_log.h"

namespace kx7 {

namespace {

constexpr wchar_t kPercentStandIn = 0xFF05;
constexpr wchar_t kControlStandIn = 0xFFFD;
constexpr wchar_t kLineBreakStandIn[] = L" / ";

bool IsLineBreak(wchar_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool IsControl(wchar_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

}  // namespace

std::wstring LoggableText(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (IsLineBreak(c)) {
            out += kLineBreakStandIn;
            while (i + 1 < text.size() && IsLineBreak(text[i + 1])) {
                ++i;
            }
        } else if (c == L'\t') {
            out += L' ';
        } else if (IsControl(c)) {
            out += kControlStandIn;
        } else {
            out += c == L'%' ? kPercentStandIn : c;
        }
    }
    return out;
}

void EventLog::Report(EventType type, uint32_t eventId, const std::vector<std::wstring>& strings) {
    std::vector<std::wstring> loggable;
    loggable.reserve(strings.size());
    for (const std::wstring& s : strings) {
        loggable.push_back(LoggableText(s));
    }
    Write(type, eventId, loggable);
}

}  // namespace kx7
