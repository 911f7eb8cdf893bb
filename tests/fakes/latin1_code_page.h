// The ANSI code page as a test sees it: ISO 8859-1, where every byte is the code point of the
// same value, and anything above U+00FF becomes "?" as a real code page's default character
// would make it.
#pragma once

#include "connector/platform/code_page.h"

namespace kx7 {

class Latin1CodePage final : public AnsiCodePage {
  public:
    std::wstring ToWide(const char* text, size_t length) override {
        std::wstring wide;
        for (size_t i = 0; i < length && text[i] != '\0'; ++i) {
            wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(text[i])));
        }
        return wide;
    }
    std::string ToAnsi(const std::wstring& text) override {
        std::string ansi;
        for (wchar_t unit : text) {
            if (unit == L'\0') {
                break;
            }
            ansi.push_back(static_cast<unsigned long>(unit) <= 0xFF ? static_cast<char>(unit)
                                                                    : '?');
        }
        return ansi;
    }
};

}  // namespace kx7
