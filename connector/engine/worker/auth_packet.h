// What one drive's turn puts on the wire and shows to the user: the authentication packet, the
// check value of each identity text, the device serial taken from an interface path, and the
// texts for the drive's answers. Pure functions, so each rule is checked without a drive.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "connector/platform/code_page.h"
#include "connector/engine/record.h"
#include "connector/hostid/fingerprint.h"

namespace kx7 {

constexpr size_t kAuthPacketSize = 120;
// The packet is padded with zeros to whole cipher blocks.
constexpr size_t kAuthBufferSize = 128;
constexpr size_t kPacketNameOffset = 32;
constexpr size_t kPacketNameSize = 32;  // 31 bytes of name and a zero byte
constexpr size_t kPacketChecksOffset = 96;
constexpr size_t kPacketCheckSumOffset = 106;
constexpr size_t kPacketDateOffset = 112;
constexpr size_t kPacketDateEndOffset = 116;

// Binding mask bits, in the order the items are compared and packed.
constexpr uint32_t kBindMacAddress = 0x01;
constexpr uint32_t kBindDiskSerial = 0x02;
constexpr uint32_t kBindComputerName = 0x04;
constexpr uint32_t kBindOsKey = 0x08;
constexpr uint32_t kBindCpuId = 0x10;

// 9999-12-31 packed; a later date cannot be a real one.
constexpr uint32_t kLatestPackedDate = 0x270F0C1F;

using AuthPacket = std::array<uint8_t, kAuthPacketSize>;

// Sum of the low byte of each UTF-16 unit taken as a signed byte, modulo 65536.
uint16_t ItemChecksum(const std::wstring& text);

// The name in the ANSI code page, cut to size - 1 bytes and NUL-terminated in dest (which holds
// size bytes). Returns the length of the text now in dest.
size_t HostNameToAnsi(AnsiCodePage& codePage, const std::wstring& name, uint8_t* dest, size_t size);

// year * 65536 + month * 256 + day.
uint32_t PackDate(const SystemTime& time);

AuthPacket BuildAuthenticationPacket(AnsiCodePage& codePage, const HostFingerprint& fingerprint,
                                     uint32_t bindingMask);

// The serial shown for a drive: the instance segment of its interface path in upper case,
// without the instance number behind its last "&". Empty when the path does not have the
// usual shape (a prefix and at least two "#").
std::wstring DeviceSerialFromPath(const std::wstring& devicePath);

// What the user is shown when this PC is not registered for a drive: the record cannot be
// loaded, or the drive's binding mask is 0. The host check reports the same text.
extern const wchar_t kNotRegisteredText[];

// The first bound item that differs: its name, its registered and current values and the
// whole box text the user is shown. All empty when every bound item is the same.
struct IdentityMismatch {
    std::wstring item;
    std::wstring entry;
    std::wstring current;
    std::wstring text;
};
IdentityMismatch FindIdentityMismatch(const RegisteredPcRecord& record,
                                      const HostFingerprint& fingerprint, uint32_t bindingMask);

// FindIdentityMismatch's box text alone.
std::wstring IdentityMismatchText(const RegisteredPcRecord& record,
                                  const HostFingerprint& fingerprint, uint32_t bindingMask);

// The text for a refused packet. statusRead says whether ReadCommandStatus succeeded; status
// holds what it read (zeros where nothing was read).
std::wstring RefusalText(bool statusRead, const std::array<uint8_t, 4>& status);

}  // namespace kx7
