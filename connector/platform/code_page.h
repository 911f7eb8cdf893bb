// Conversions between the thread's ANSI code page and UTF-16. Several identity texts come from
// the system as ANSI bytes (adapter descriptions, the disk serial, the drive identifier) and the
// packet carries the computer name as ANSI bytes, so the code page decides what those bytes
// mean. The Win32 backend calls the platform's converters; tests use a Latin-1 stand-in.
#pragma once

#include <cstddef>
#include <string>

namespace kx7 {

class AnsiCodePage {
  public:
    virtual ~AnsiCodePage() = default;
    // The bytes up to the first NUL or up to length, whichever comes first, as UTF-16 code
    // units (one wchar_t per unit on every platform). Empty when the bytes cannot be converted.
    virtual std::wstring ToWide(const char* text, size_t length) = 0;
    // The text up to its first NUL in the code page, with the code page's own default
    // character for anything it cannot represent. Empty when the text cannot be converted.
    virtual std::string ToAnsi(const std::wstring& text) = 0;
};

// The ANSI code page of the running system; only the Win32 build provides it.
AnsiCodePage& SystemCodePage();

}  // namespace kx7
