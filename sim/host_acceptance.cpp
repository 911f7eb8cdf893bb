#include "sim/host_acceptance.h"

#include <algorithm>
#include <cstring>

namespace kx7::sim {

namespace {

// Where things sit in the 128 decrypted bytes.
constexpr size_t kPacketBytes = 128;
constexpr size_t kNameOffset = 32;
constexpr size_t kChecksOffset = 96;
constexpr size_t kSumOffset = 106;
constexpr size_t kDateOffset = 112;

// Everything the packet does not use must be zero. Being strict here means that a packet whose
// fields are shifted by a byte or two is refused instead of slipping through.
struct ZeroArea {
    size_t begin;
    size_t end;  // one past the last byte
};
constexpr ZeroArea kZeroAreas[] = {
    {0, 32},     // before the name
    {63, 96},    // the name's terminator and the gap after it
    {108, 112},  // between the inverted sum and the date
    {116, 128},  // after the date, the padding to whole cipher blocks included
};

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool ZeroAreasClear(const uint8_t* packet) {
    for (const ZeroArea& area : kZeroAreas) {
        for (size_t i = area.begin; i < area.end; ++i) {
            if (packet[i] != 0) {
                return false;
            }
        }
    }
    return true;
}

bool NameFits(const SimHost& host, const uint8_t* packet) {
    std::array<uint8_t, kSimHostNameBytes> expected{};
    const size_t n = std::min(host.computerName.size(), expected.size());
    std::memcpy(expected.data(), host.computerName.data(), n);
    return std::memcmp(expected.data(), packet + kNameOffset, expected.size()) == 0;
}

bool ChecksFit(const SimHost& host, const uint8_t* packet) {
    // The bound items' values one after another, zeros after the last; bits of 32 and up name
    // no item and are passed over.
    std::array<uint16_t, kSimItemCount> expected{};
    size_t slot = 0;
    uint16_t sum = 0;
    for (size_t item = 0; item < kSimItemCount; ++item) {
        if ((host.bindingMask & (1u << item)) != 0) {
            expected[slot++] = host.checkValues[item];
            sum = static_cast<uint16_t>(sum + host.checkValues[item]);
        }
    }
    for (size_t i = 0; i < kSimItemCount; ++i) {
        if (Le16(packet + kChecksOffset + 2 * i) != expected[i]) {
            return false;
        }
    }
    return Le16(packet + kSumOffset) == static_cast<uint16_t>(~sum);
}

// Within the window around the drive's date, counted in calendar days so that the turn of a
// month or a year is one day like any other.
bool DateInWindow(uint32_t packetDate, uint32_t driveDate) {
    int32_t packetDay = 0;
    int32_t driveDay = 0;
    if (!SimDayNumber(packetDate, &packetDay) || !SimDayNumber(driveDate, &driveDay)) {
        return false;
    }
    return packetDay >= driveDay - kSimDateDaysBehind && packetDay <= driveDay + kSimDateDaysAhead;
}

bool IsLeapYear(uint32_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

}  // namespace

bool SimDayNumber(uint32_t packedDate, int32_t* dayNumber) {
    static const uint8_t kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const uint32_t year = packedDate >> 16;
    const uint32_t month = packedDate >> 8 & 0xFF;
    const uint32_t day = packedDate & 0xFF;
    if (year == 0 || month < 1 || month > 12 || day < 1) {
        return false;
    }
    const uint32_t monthDays = kMonthDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
    if (day > monthDays) {
        return false;
    }
    // Whole years before this one, then whole months of this year, then the day.
    const uint32_t yearsBefore = year - 1;
    uint32_t days = yearsBefore * 365 + yearsBefore / 4 - yearsBefore / 100 + yearsBefore / 400;
    for (uint32_t m = 1; m < month; ++m) {
        days += kMonthDays[m - 1] + (m == 2 && IsLeapYear(year) ? 1 : 0);
    }
    *dayNumber = static_cast<int32_t>(days + day - 1);
    return true;
}

uint16_t CheckValueOf(const std::wstring& text) {
    uint16_t sum = 0;
    for (wchar_t unit : text) {
        const auto low = static_cast<int8_t>(static_cast<uint8_t>(static_cast<uint32_t>(unit)));
        sum = static_cast<uint16_t>(sum + low);
    }
    return sum;
}

uint8_t JudgeAgainstHosts(const SimHostPair& hostPair, uint32_t driveDate, const uint8_t* plaintext,
                          size_t length) {
    if (!hostPair.enabled) {
        return kRefusedHostPairDisabled;
    }
    if (hostPair.hosts.empty()) {
        return kRefusedNoHost;
    }
    if (plaintext == nullptr || length < kPacketBytes || !ZeroAreasClear(plaintext)) {
        return kRefusedUnknownHost;
    }
    // Hosts are tried in the order they were registered; the first that fits decides.
    for (const SimHost& host : hostPair.hosts) {
        if (NameFits(host, plaintext) && ChecksFit(host, plaintext)) {
            // A date the drive cannot believe counts as expired too: it is the only refusal
            // that speaks of time. Good up to and including the expiry day; the packed dates
            // compare as numbers.
            const uint32_t date = Le32(plaintext + kDateOffset);
            if (!DateInWindow(date, driveDate) || host.expiry < date) {
                return kRefusedExpired;
            }
            return 0;
        }
    }
    return kRefusedUnknownHost;
}

}  // namespace kx7::sim
