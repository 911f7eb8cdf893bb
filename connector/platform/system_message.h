// The system's own text for an error code, as the boxes that report a failed platform call show
// it. The Win32 backend reads the system message table; tests give their own texts.
#pragma once

#include <cstdint>
#include <string>

namespace kx7 {

class SystemMessages {
  public:
    virtual ~SystemMessages() = default;
    // The message table's text for the code in the default language, as the system spells it
    // (usually with a line break at the end); empty when the system has none.
    virtual std::wstring Lookup(uint32_t code) = 0;
};

// The message table of the running system; only the Win32 build provides it.
SystemMessages& SystemMessageTable();

// The text a box shows for the code: the system's text without its trailing line break, or
// "Unknown error 0x<hex>" (upper-case digits, no padding) when the system has none.
std::wstring ErrorCodeText(SystemMessages& messages, uint32_t code);

}  // namespace kx7
