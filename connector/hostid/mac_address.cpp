#include "connector/hostid/mac_address.h"

#include <cwchar>

namespace kx7 {

std::wstring FormatMacAddress(const uint8_t (&address)[8]) {
    wchar_t text[18];
    const int written =
        swprintf(text, sizeof(text) / sizeof(text[0]), L"%02X-%02X-%02X-%02X-%02X-%02X", address[0],
                 address[1], address[2], address[3], address[4], address[5]);
    if (written < 0) {
        return std::wstring();  // cannot happen for six bytes; never hand out a torn text
    }
    return std::wstring(text, static_cast<size_t>(written));
}

}  // namespace kx7
