// The text form of a MAC address as the fingerprint and the registered record both hold it.
#pragma once

#include <cstdint>
#include <string>

namespace kx7 {

// Bytes 0 to 5 of the 8-byte hardware address as "XX-XX-XX-XX-XX-XX": upper-case hexadecimal,
// two digits per byte, always 17 characters. The comparison with the registered value is
// exact, so this form must not vary.
std::wstring FormatMacAddress(const uint8_t (&address)[8]);

}  // namespace kx7
