#include <windows.h>

#include <climits>
#include <vector>

#include "connector/platform/code_page.h"

namespace kx7 {
namespace {

class WinAnsiCodePage final : public AnsiCodePage {
  public:
    std::wstring ToWide(const char* text, size_t length) override {
        size_t used = 0;
        while (used < length && text[used] != '\0') {
            ++used;
        }
        if (used == 0 || used > INT_MAX) {
            return std::wstring();
        }
        const int bytes = static_cast<int>(used);
        const int units = MultiByteToWideChar(CP_ACP, 0, text, bytes, nullptr, 0);
        if (units <= 0) {
            return std::wstring();
        }
        std::vector<wchar_t> wide(static_cast<size_t>(units));
        if (MultiByteToWideChar(CP_ACP, 0, text, bytes, wide.data(), units) != units) {
            return std::wstring();
        }
        return std::wstring(wide.data(), wide.size());
    }

    std::string ToAnsi(const std::wstring& text) override {
        const size_t end = text.find(L'\0');
        const size_t used = end == std::wstring::npos ? text.size() : end;
        if (used == 0 || used > INT_MAX) {
            return std::string();
        }
        const int units = static_cast<int>(used);
        const int bytes =
            WideCharToMultiByte(CP_ACP, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
        if (bytes <= 0) {
            return std::string();
        }
        std::vector<char> ansi(static_cast<size_t>(bytes));
        if (WideCharToMultiByte(CP_ACP, 0, text.data(), units, ansi.data(), bytes, nullptr,
                                nullptr) != bytes) {
            return std::string();
        }
        return std::string(ansi.data(), ansi.size());
    }
};

}  // namespace

AnsiCodePage& SystemCodePage() {
    static WinAnsiCodePage codePage;
    return codePage;
}

}  // namespace kx7
