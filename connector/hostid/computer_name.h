// The computer name as one item of the host fingerprint, read as stored in the registry (the
// name the system has set for itself, not one that a pending rename would give it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "connector/platform/registry.h"

namespace kx7 {

extern const wchar_t kComputerNamePath[];
extern const wchar_t kComputerNameValue[];

// The local buffer holds 128 UTF-16 units; the query is offered 250 bytes of it, so a value
// that fills those without a terminator still ends in the zeroed bytes behind it.
constexpr size_t kComputerNameBufferSize = 256;
constexpr size_t kComputerNameZeroedSize = 255;
constexpr uint32_t kComputerNameQuerySize = 250;

// Queries the value into dest with *size bytes offered; *size receives the value's size.
// 1 when the value was read, 0 when the key cannot be opened or the query fails.
int ReadComputerNameValue(Registry& registry, uint8_t* dest, uint32_t* size);

// On success *name receives the stored name up to its first NUL; on failure it is left as it
// was. Returns the length of *name in characters either way.
size_t GetComputerNameText(Registry& registry, std::wstring* name);

// UTF-16LE bytes up to the first NUL unit, or up to size when there is none, one wchar_t per
// code unit, so the text has the same units (and length) on Windows and on Linux.
std::wstring Utf16LeToWide(const uint8_t* data, size_t size);

}  // namespace kx7
