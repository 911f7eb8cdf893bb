// The OS product key as one item of the host fingerprint: read from the byte string in which
// the system keeps it and turned into the grouped text that the registered record holds.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "connector/platform/registry.h"

namespace kx7 {

extern const wchar_t kProductKeyPath[];
extern const wchar_t kProductKeyValue[];

// Size offered to the query; a longer value is refused by the registry and gives no key.
constexpr uint32_t kDigitalProductIdSize = 164;
// Where the encoded key sits inside the value.
constexpr size_t kEncodedKeyOffset = 52;
constexpr size_t kEncodedKeySize = 15;
// Five groups of five symbols and the four dashes between them.
constexpr size_t kProductKeyTextLength = 29;

// The 15 bytes as one little-endian 120-bit number written in base 24, most significant digit
// first, in groups of five. Only the low 25 digits exist; any higher part of the number is
// dropped.
std::wstring DecodeProductKey(const std::array<uint8_t, kEncodedKeySize>& encoded);

// Reads the product key from the 64-bit registry view, so that a 32-bit process on 64-bit
// Windows sees the same key as a native one. False when the key or the value cannot be read;
// *key is then left as it was.
bool GetWindowsKey(Registry& registry, std::wstring* key);

}  // namespace kx7
