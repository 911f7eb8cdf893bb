// The serial number of the first physical disk as one item of the host fingerprint. The disk
// reports it in its ATA IDENTIFY DEVICE answer; this file holds what does not depend on how
// that answer is fetched: the request block, the device path and the serial text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kx7 {

constexpr size_t kIdentifySize = 512;
// Words 10 to 19 of the IDENTIFY data, two characters per word.
constexpr size_t kSerialFirstWord = 10;
constexpr size_t kSerialWordCount = 10;
constexpr size_t kSerialLength = 2 * kSerialWordCount;

constexpr uint8_t kAtaIdentifyDevice = 0xEC;
constexpr uint32_t kSmartRcvDriveData = 0x7C088;
// The request block as allocated, and the part of it that is handed over: the one-byte data
// buffer at its end carries nothing for IDENTIFY.
constexpr size_t kSmartRequestAllocSize = 33;
constexpr uint32_t kSmartRequestLength = 32;
constexpr size_t kSmartResultAllocSize = 529;
constexpr uint32_t kSmartResultLength = 528;
constexpr size_t kSmartResultDriverError = 4;
constexpr size_t kSmartResultIdeError = 5;
constexpr size_t kSmartResultIdentifyOffset = 16;
// Characters in the device path buffer, terminator included.
constexpr size_t kDrivePathChars = 128;

// "\\.\PhysicalDriveN" for the drive number.
std::wstring PhysicalDrivePath(int driveNumber);

// Master/slave selection in the drive/head register: odd drive numbers address the second
// device on the channel.
uint8_t DriveHeadRegister(int driveNumber);

// The zeroed and filled request block for IDENTIFY DEVICE, byte for byte as the SMART
// interface expects it (buffer size little-endian, then the ATA registers, then the drive).
std::array<uint8_t, kSmartRequestAllocSize> BuildSmartIdentifyRequest(int driveNumber);

// The zeroed result block with its buffer size field set, ready to receive the answer.
std::array<uint8_t, kSmartResultAllocSize> NewSmartIdentifyResult();

// Writes the characters of count IDENTIFY words to dest in reading order (high byte of each
// word first), NUL-terminates them and removes blanks at both ends. dest holds 2 * count + 1
// bytes; bytes behind the text are NUL, except that a NUL among the characters ends the text
// early and whatever came after that NUL stays where it was.
void AtaStringToText(char* dest, const uint16_t* words, size_t count);

// IDENTIFY word index of the 512-byte answer, which is little-endian on the wire.
uint16_t IdentifyWord(const std::array<uint8_t, kIdentifySize>& identify, size_t index);

// The serial text of an IDENTIFY answer as the fingerprint stores it: exactly 20 bytes, the
// trimmed text followed by NULs, and no terminator when the serial has all 20 characters. (A
// field with a NUL inside keeps its bytes behind that NUL; every reader stops at the first.)
std::array<char, kSerialLength> DiskSerialFromIdentify(
    const std::array<uint8_t, kIdentifySize>& identify);

// ATA IDENTIFY DEVICE sent to a physical drive, however the platform lets a program do that.
class AtaIdentify {
  public:
    virtual ~AtaIdentify() = default;
    // True with the drive's 512-byte answer in *identify. False when the drive cannot be
    // opened or does not answer the command; *identify is then left as it was.
    virtual bool Identify(int driveNumber, std::array<uint8_t, kIdentifySize>* identify) = 0;
};

// Reads the serial of the physical drive into out, which the caller has zeroed: the trimmed
// text in the first 20 bytes and nothing written behind them, so a 20-character serial ends at
// the caller's own zero. False, with out untouched, when the drive gave no answer.
bool ReadDiskSerial(AtaIdentify& ata, int driveNumber, char* out);

// The same for a buffer whose size the compiler knows, and which must leave room for the
// terminator behind a full 20-character serial.
template <size_t N>
bool GetDiskSerial(AtaIdentify& ata, int driveNumber, char (&out)[N]) {
    static_assert(N > kSerialLength, "a 20-character serial needs a terminator behind it");
    return ReadDiskSerial(ata, driveNumber, out);
}

// The physical drives of the running system; only the Win32 build provides it.
AtaIdentify& SystemAtaIdentify();

}  // namespace kx7
