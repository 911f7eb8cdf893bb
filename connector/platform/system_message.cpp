#include "connector/platform/system_message.h"

#include <cwchar>

namespace kx7 {

std::wstring ErrorCodeText(SystemMessages& messages, uint32_t code) {
    std::wstring text = messages.Lookup(code);
    // The table ends its texts with CR LF; one line break is dropped, as a caption-less box
    // would otherwise show an empty last line.
    if (!text.empty() && text.back() == L'\n') {
        text.pop_back();
        if (!text.empty() && text.back() == L'\r') {
            text.pop_back();
        }
    }
    if (!text.empty()) {
        return text;
    }
    wchar_t buffer[32];
    std::swprintf(buffer, sizeof(buffer) / sizeof(buffer[0]), L"Unknown error 0x%lX",
                  static_cast<unsigned long>(code));
    return buffer;
}

}  // namespace kx7
