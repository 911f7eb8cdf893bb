// The identity of the running machine as the connect worker compares it with the registered
// record and puts its check values into the authentication packet.
#pragma once

#include <cstdint>
#include <string>

namespace kx7 {

// Year, month, day of week, day, hour, minute, second, milliseconds: the platform's local
// time block, of which the packet uses year, month and day.
struct SystemTime {
    uint16_t wYear = 0;
    uint16_t wMonth = 0;
    uint16_t wDayOfWeek = 0;
    uint16_t wDay = 0;
    uint16_t wHour = 0;
    uint16_t wMinute = 0;
    uint16_t wSecond = 0;
    uint16_t wMilliseconds = 0;
};

struct HostFingerprint {
    SystemTime m_stCollected;
    std::wstring m_strNicDescription;
    std::wstring m_strMacId;
    std::wstring m_strDiskSerial;
    std::wstring m_strComputerName;
    std::wstring m_strOsKey;
    std::wstring m_strCpuId;
};

}  // namespace kx7
