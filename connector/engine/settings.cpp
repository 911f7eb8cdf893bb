#include "connector/engine/settings.h"

namespace kx7 {

const wchar_t kAutoConnKeyPath[] = L"SOFTWARE\\Stonevault\\AutoConn";

std::array<uint8_t, DriveTimingBlock::kSize> DriveTimingBlock::Pack() const {
    std::array<uint8_t, kSize> bytes{};
    const uint16_t halves[] = {warmupDelay, activeResetTime, resetTime, reserved};
    for (size_t i = 0; i < 4; ++i) {
        bytes[2 * i] = static_cast<uint8_t>(halves[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<uint8_t>(halves[i] >> 8);
    }
    for (size_t i = 0; i < 4; ++i) {
        bytes[8 + i] = static_cast<uint8_t>((afterResetDelay >> (8 * i)) & 0xFF);
    }
    return bytes;
}

namespace {

// The stored value, or the default after writing it back when the stored one is unusable.
uint32_t LoadSetting(Registry& registry, const wchar_t* name, uint32_t defaultValue) {
    const int32_t stored = ReadRegDword(registry, kAutoConnKeyPath, name);
    if (stored < 0) {
        // A failed write changes nothing for this run; the next start tries again.
        WriteRegDword(registry, kAutoConnKeyPath, name, defaultValue);
        return defaultValue;
    }
    return static_cast<uint32_t>(stored);
}

}  // namespace

void LoadConnectorSettings(Registry& registry, OsVersionSource& os, ConnectorSettings* settings) {
    DriveTimingBlock& timing = settings->m_timing;
    timing = DriveTimingBlock{};

    // The order of the reads is the order in which a first start writes the defaults.
    settings->m_nInterval = static_cast<int32_t>(LoadSetting(registry, L"Interval", 10));
    timing.warmupDelay = static_cast<uint16_t>(LoadSetting(registry, L"WarmupDelay", 100));
    timing.activeResetTime = static_cast<uint16_t>(LoadSetting(registry, L"ActiveResetTime", 100));
    timing.resetTime = static_cast<uint16_t>(LoadSetting(registry, L"ResetTime", 5));
    timing.afterResetDelay = LoadSetting(registry, L"AfterResetDelay", 2000) & 0xFFFF;
    settings->m_nDetachDelay = static_cast<int32_t>(LoadSetting(registry, L"DetachDelay", 5000));

    settings->m_nOsVersion = GetOsVersion(os);
}

uint32_t GetOsVersion(OsVersionSource& os) {
    uint32_t major = 0;
    uint32_t minor = 0;
    if (!os.GetVersion(&major, &minor)) {
        return 0;
    }
    return major * 256 + minor;
}

}  // namespace kx7
