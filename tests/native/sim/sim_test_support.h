// What the simulator tests share: the command blocks a correct host sends, written out byte by
// byte; a drive identity; a host registered from identity texts; and the packet that host would
// send, built here rather than by the connector.
#pragma once

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "connector/engine/crypto/aes256.h"
#include "connector/engine/crypto/derive_key.h"
#include "sim/host_acceptance.h"
#include "sim/simulated_drive.h"

namespace kx7::sim::test_support {

using Bytes = std::vector<uint8_t>;

// A 16-byte vendor block: the given leading bytes, zeros after them.
inline Bytes VendorBlock(std::initializer_list<uint8_t> head) {
    Bytes block(head);
    block.resize(16, 0);
    return block;
}

inline const Bytes kInquiryBlock = {0x12, 0x00, 0x00, 0x00, 0x24, 0x00};
inline const Bytes kReadIdentityBlock = VendorBlock({0x3C, 0x01, 0xCE, 0x01, 0x16, 0x00});
inline const Bytes kReadCommandStatusBlock = VendorBlock({0x3C, 0x01, 0xCE, 0x02, 0x04, 0x00});
inline const Bytes kReadDeviceSetupBlock = VendorBlock({0x3C, 0x01, 0xCE, 0x30, 0x5C, 0x01});
inline const Bytes kReadDeviceStatusBlock = VendorBlock({0x3C, 0x01, 0xCE, 0x32, 0x20, 0x00});
// Each write comes right after the announce whose checksum covers its first ten bytes.
inline const Bytes kTimingAnnounce = {0x3B, 0x01, 0x10, 0xCD, 0xFC, 0xEB, 0x46, 0x4D, 0x4C, 0x00};
inline const Bytes kTimingWrite = VendorBlock({0x3B, 0x01, 0xCD, 0x03, 0x0C, 0x00});
inline const Bytes kPacketAnnounce = {0x3B, 0x01, 0x10, 0xCD, 0xBE, 0x77, 0x46, 0x4D, 0x4C, 0x00};
inline const Bytes kPacketWrite = VendorBlock({0x3B, 0x01, 0xCD, 0x41, 0x80, 0x00});

inline SimScsiResult Send(SimulatedDrive& drive, const Bytes& cdb, SimDirection direction,
                          uint8_t* buffer, uint32_t length) {
    return drive.Execute(cdb.data(), cdb.size(), direction, buffer, length);
}

// Reached the drive and answered GOOD.
// A case's description as a test name: its letters and digits, each run of anything else as one
// underscore.
inline std::string CaseName(const std::string& what) {
    std::string name;
    for (const char c : what) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            name += c;
        } else if (!name.empty() && name.back() != '_') {
            name += '_';
        }
    }
    while (!name.empty() && name.back() == '_') {
        name.pop_back();
    }
    return name;
}

inline bool Good(const SimScsiResult& result) {
    return result.completed && result.scsiStatus == kSimStatusGood;
}
// Answered, with CHECK CONDITION.
inline bool Refused(const SimScsiResult& result) {
    return result.completed && result.scsiStatus == kSimStatusCheckCondition;
}

inline SimIdentity SampleIdentity(char serialTail = '1') {
    SimIdentity identity;
    identity.firmwareMajor = 3;
    identity.firmwareMinor = 7;
    identity.productId = 0x1181;
    for (uint8_t i = 0; i < kSimIdentifierLength; ++i) {
        identity.identifier[i] = static_cast<uint8_t>('A' + i);
    }
    identity.identifier[15] = static_cast<uint8_t>(serialTail);
    identity.serial = std::string("5a17Bc9") + serialTail;
    return identity;
}

// A host's identity texts, in bit order: MAC, disk serial, computer name, OS key, CPU id.
inline const std::array<std::wstring, kSimItemCount>& SampleItems() {
    static const std::array<std::wstring, kSimItemCount> items = {
        L"00-1A-2B-3C-4D-5E", L"WD-WCC4N0123456", L"OFFICE-PC\u00e9", L"BCDFG-HJKMP-QRTVW",
        L"BFEBFBFF000906EA"};
    return items;
}

inline SimHost SampleHost(uint32_t mask, uint32_t expiry) {
    SimHost host;
    host.computerName = "OFFICE-PC\xe9";
    host.bindingMask = mask;
    for (size_t i = 0; i < kSimItemCount; ++i) {
        host.checkValues[i] = CheckValueOf(SampleItems()[i]);
    }
    host.expiry = expiry;
    return host;
}

using Packet = std::array<uint8_t, kSimAuthPacketLength>;

// Announces and writes a packet as a correct host does; true when the drive answered GOOD.
inline bool SendPacket(SimulatedDrive& drive, Packet cipher) {
    return Good(Send(drive, kPacketAnnounce, SimDirection::kOut, nullptr, 0)) &&
           Good(Send(drive, kPacketWrite, SimDirection::kOut, cipher.data(), kSimAuthPacketLength));
}

inline void Put16(Packet& p, size_t at, uint16_t v) {
    p[at] = static_cast<uint8_t>(v & 0xFF);
    p[at + 1] = static_cast<uint8_t>(v >> 8);
}

// The plaintext a registered host sends: name at 32, the bound items' check values packed from
// 96, their inverted sum at 106, the date at 112.
inline Packet HostPacket(const std::string& name, uint32_t mask, uint32_t date) {
    Packet p{};
    std::memcpy(&p[32], name.data(), std::min<size_t>(name.size(), 31));
    size_t at = 96;
    uint16_t sum = 0;
    for (size_t i = 0; i < kSimItemCount; ++i) {
        if ((mask & (1u << i)) != 0) {
            const uint16_t value = CheckValueOf(SampleItems()[i]);
            Put16(p, at, value);
            at += 2;
            sum = static_cast<uint16_t>(sum + value);
        }
    }
    Put16(p, 106, static_cast<uint16_t>(~sum));
    for (size_t i = 0; i < 4; ++i) {
        p[112 + i] = static_cast<uint8_t>(date >> (8 * i));
    }
    return p;
}

inline Packet Encrypt(const Packet& plain, const SimIdentity& identity) {
    uint8_t key[kAes256KeySize];
    DeriveDriveKey(identity.identifier.data(), kSimIdentifierLength, key);
    Packet cipher{};
    Aes256EncryptEcb(cipher.data(), plain.data(), key, cipher.size());
    return cipher;
}

// A path without its "\\?\" prefix and its last '#' part, a-z as A-Z.
inline std::wstring UpperBody(const std::wstring& path) {
    std::wstring body = path.substr(4);
    body = body.substr(0, body.rfind(L'#'));
    std::transform(body.begin(), body.end(), body.begin(), [](wchar_t c) {
        return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
    });
    return body;
}

// The rule by which the connector turns a notification's interface name into an instance ID.
inline std::wstring InstanceIdOf(const std::wstring& name) {
    std::wstring id = UpperBody(name);
    std::replace(id.begin(), id.end(), L'#', L'\\');
    return id;
}

// The rule by which the connect worker takes a device serial from an enumerated path.
inline std::wstring SerialOfPath(const std::wstring& path) {
    std::wstring s = UpperBody(path);
    s = s.substr(s.rfind(L'#') + 1);
    const size_t amp = s.rfind(L'&');
    return amp != std::wstring::npos && amp > 0 ? s.substr(0, amp) : s;
}

}  // namespace kx7::sim::test_support
