// The registry value helpers every subsystem shares: a 32-bit value and a string under
// HKEY_CURRENT_USER, with small negative results instead of errors.
#pragma once

#include <cstdint>
#include <string>

#include "connector/platform/registry.h"

namespace kx7 {

constexpr int32_t kRegKeyUnavailable = -1;
constexpr int32_t kRegValueUnreadable = -2;

// The value of a 4-byte REG_DWORD under HKEY_CURRENT_USER; kRegKeyUnavailable when the key
// does not open, kRegValueUnreadable when the value is missing or of another type or size.
// Values of 0x80000000 and above come back negative, as callers expect.
int32_t ReadRegDword(Registry& registry, const std::wstring& keyPath, const std::wstring& name);

// Creates the key if needed and writes a REG_DWORD; 1 on success, 0 on any failure.
int WriteRegDword(Registry& registry, const std::wstring& keyPath, const std::wstring& name,
                  uint32_t value);

// The registry read buffer for one string: 1023 wide characters, terminator included.
constexpr uint32_t kRegStringChars = 1023;
constexpr uint32_t kRegStringBytes = kRegStringChars * 2;

// Reads a REG_SZ or REG_EXPAND_SZ (left unexpanded) under HKEY_CURRENT_USER into *dest: 0 on
// success, kRegKeyUnavailable when the key does not open, kRegValueUnreadable when the value is
// missing, of another type, longer than 1022 characters or not NUL-terminated. The text ends at
// the first NUL. *dest is left as it was on failure.
int ReadRegString(Registry& registry, const std::wstring& keyPath, const std::wstring& name,
                  std::wstring* dest);

}  // namespace kx7
