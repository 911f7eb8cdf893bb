// The connector's six tuning values under HKEY_CURRENT_USER and the operating-system version word.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "connector/platform/os_version.h"
#include "connector/platform/reg_values.h"
#include "connector/platform/registry.h"

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

// Reads the six settings, writing back the default of every one that is missing or unreadable.
void LoadConnectorSettings(Registry& registry, OsVersionSource& os, ConnectorSettings* settings);

// major * 256 + minor, or 0 when the version cannot be had.
uint32_t GetOsVersion(OsVersionSource& os);

}  // namespace kx7
