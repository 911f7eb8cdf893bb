// How a simulated drive decides on a decrypted authentication packet: the HostPair setting and
// the hosts registered on the drive, and the rules that match a packet against them. This is our
// model of the drive, written down in sim/README.md; it is not taken from any firmware.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kx7::sim {

// The codes the drive leaves for ReadCommandStatus when it refuses a packet.
constexpr uint8_t kRefusedHostPairDisabled = 27;
constexpr uint8_t kRefusedNoHost = 28;
constexpr uint8_t kRefusedUnknownHost = 29;
constexpr uint8_t kRefusedExpired = 30;

// The identity items in the order of their bits in a binding mask (1, 2, 4, 8, 16).
constexpr size_t kSimItemCount = 5;
constexpr size_t kSimItemMac = 0;
constexpr size_t kSimItemDiskSerial = 1;
constexpr size_t kSimItemComputerName = 2;
constexpr size_t kSimItemOsKey = 3;
constexpr size_t kSimItemCpuId = 4;

// The packet carries at most this many bytes of the computer name (a zero byte follows).
constexpr size_t kSimHostNameBytes = 31;

struct SimHost {
    // The name in ANSI bytes, as the packet carries it. Only the first 31 bytes can ever be
    // compared, since that is all the packet has room for.
    std::string computerName;
    uint32_t bindingMask = 0;
    // One per item, in bit order; only those whose bit is set in the mask are looked at.
    std::array<uint16_t, kSimItemCount> checkValues{};
    // Last day the pairing is good for, packed as year * 65536 + month * 256 + day.
    uint32_t expiry = 0;
};

struct SimHostPair {
    bool enabled = true;
    std::vector<SimHost> hosts;
};

// The check value the registration program keeps for an identity text: the low byte of each
// UTF-16 unit taken as a signed byte, summed modulo 65536. One wchar_t is one UTF-16 unit.
uint16_t CheckValueOf(const std::wstring& text);

constexpr uint32_t PackSimDate(uint32_t year, uint32_t month, uint32_t day) {
    return year * 65536u + month * 256u + day;
}

// How far the packet's date may lie from the drive's own date. The connector dates its packet
// with the day it last took this PC's identity (at its start or at a Reconnect), so a packet may
// be a few days old; ahead of the drive by more than a day, which time zones cannot explain,
// only a wrong clock or a wrong byte order can put it.
constexpr int32_t kSimDateDaysBehind = 7;
constexpr int32_t kSimDateDaysAhead = 1;

// The day number of a packed date counted from 0001-01-01, or false when the packing names no
// day of the calendar (month 0 or above 12, day 0 or past the month's end, year 0).
bool SimDayNumber(uint32_t packedDate, int32_t* dayNumber);

// 0 when the packet is accepted, otherwise the refusal code. `driveDate` is the drive's own
// date, packed like the packet's. `length` below 128 is treated as a packet that fits no host.
uint8_t JudgeAgainstHosts(const SimHostPair& hostPair, uint32_t driveDate, const uint8_t* plaintext,
                          size_t length);

}  // namespace kx7::sim
