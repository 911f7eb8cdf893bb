// The connector's six tuning values under HKEY_CURRENT_USER, the 32-bit registry helpers that
// the record and the drive discovery share, and the operating-system version word.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "connector/engine/registry.h"

namespace kx7 {

extern const wchar_t kAutoConnKeyPath[];  // "SOFTWARE\Stonevault\AutoConn"

// Four of the settings as the drive receives them before each authentication packet.
struct DriveTimingBlock {
    uint16_t warmupDelay = 100;
    uint16_t activeResetTime = 100;
    uint16_t resetTime = 5;
    uint16_t reserved = 0;
    uint32_t afterResetDelay = 2000;

    static constexpr size_t kSize = 12;
    // Little-endian wire bytes: three 16-bit fields, the reserved field, the 32-bit field.
    std::array<uint8_t, kSize> Pack() const;
};

struct ConnectorSettings {
    int32_t m_nInterval = 0;
    DriveTimingBlock m_timing;
    int32_t m_nDetachDelay = 0;
    uint32_t m_nOsVersion = 0;
};

// Reports the running system's major and minor version; false when it cannot be had.
class OsVersionSource {
  public:
    virtual ~OsVersionSource() = default;
    virtual bool GetVersion(uint32_t* major, uint32_t* minor) = 0;
};

// The real version query of the running system; only the Win32 build provides it.
OsVersionSource& SystemOsVersion();

constexpr int32_t kRegKeyUnavailable = -1;
constexpr int32_t kRegValueUnreadable = -2;

// The value of a 4-byte REG_DWORD under HKEY_CURRENT_USER; kRegKeyUnavailable when the key
// does not open, kRegValueUnreadable when the value is missing or of another type or size.
// Values of 0x80000000 and above come back negative, as callers expect.
int32_t ReadRegDword(Registry& registry, const std::wstring& keyPath, const std::wstring& name);

// Creates the key if needed and writes a REG_DWORD; 1 on success, 0 on any failure.
int WriteRegDword(Registry& registry, const std::wstring& keyPath, const std::wstring& name,
                  uint32_t value);

// Reads the six settings, writing back the default of every one that is missing or unreadable.
void LoadConnectorSettings(Registry& registry, OsVersionSource& os, ConnectorSettings* settings);

// major * 256 + minor, or 0 when the version cannot be had.
uint32_t GetOsVersion(OsVersionSource& os);

}  // namespace kx7
