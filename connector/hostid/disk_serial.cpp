#include "connector/hostid/disk_serial.h"

#include <cstring>
#include <cwchar>

namespace kx7 {

std::wstring PhysicalDrivePath(int driveNumber) {
    wchar_t path[kDrivePathChars] = {};
    std::swprintf(path, kDrivePathChars, L"\\\\.\\PhysicalDrive%d", driveNumber);
    return path;
}

uint8_t DriveHeadRegister(int driveNumber) {
    return static_cast<uint8_t>(0xA0 | ((driveNumber & 1) << 4));
}

std::array<uint8_t, kSmartRequestAllocSize> BuildSmartIdentifyRequest(int driveNumber) {
    std::array<uint8_t, kSmartRequestAllocSize> request{};
    const uint32_t bufferSize = kIdentifySize;
    for (size_t i = 0; i < 4; ++i) {
        request[i] = static_cast<uint8_t>(bufferSize >> (8 * i));
    }
    request[4] = 0;  // features
    request[5] = 1;  // sector count
    request[6] = 1;  // sector number
    request[7] = 0;  // cylinder low
    request[8] = 0;  // cylinder high
    request[9] = DriveHeadRegister(driveNumber);
    request[10] = kAtaIdentifyDevice;
    request[12] = static_cast<uint8_t>(driveNumber & 0xFF);
    return request;
}

std::array<uint8_t, kSmartResultAllocSize> NewSmartIdentifyResult() {
    std::array<uint8_t, kSmartResultAllocSize> result{};
    const uint32_t bufferSize = kSmartResultAllocSize;
    for (size_t i = 0; i < 4; ++i) {
        result[i] = static_cast<uint8_t>(bufferSize >> (8 * i));
    }
    return result;
}

void AtaStringToText(char* dest, const uint16_t* words, size_t count) {
    const size_t length = 2 * count;
    for (size_t i = 0; i < count; ++i) {
        dest[2 * i] = static_cast<char>(words[i] >> 8);
        dest[2 * i + 1] = static_cast<char>(words[i] & 0xFF);
    }
    dest[length] = '\0';
    // Moving the text left with its terminator leaves the old terminator behind it, so the
    // bytes after the text stay NUL; a NUL inside the field simply ends the text early.
    size_t leading = 0;
    while (dest[leading] == ' ') {
        ++leading;
    }
    if (leading != 0) {
        const size_t rest = std::strlen(dest + leading);
        std::memmove(dest, dest + leading, rest + 1);
        std::memset(dest + rest + 1, 0, leading);
    }
    for (size_t end = std::strlen(dest); end > 0 && dest[end - 1] == ' '; --end) {
        dest[end - 1] = '\0';
    }
}

uint16_t IdentifyWord(const std::array<uint8_t, kIdentifySize>& identify, size_t index) {
    return static_cast<uint16_t>(identify[2 * index] | identify[2 * index + 1] << 8);
}

std::array<char, kSerialLength> DiskSerialFromIdentify(
    const std::array<uint8_t, kIdentifySize>& identify) {
    uint16_t words[kSerialWordCount];
    for (size_t i = 0; i < kSerialWordCount; ++i) {
        words[i] = IdentifyWord(identify, kSerialFirstWord + i);
    }
    char text[kSerialLength + 1];
    AtaStringToText(text, words, kSerialWordCount);
    std::array<char, kSerialLength> serial{};
    std::memcpy(serial.data(), text, kSerialLength);
    return serial;
}

bool ReadDiskSerial(AtaIdentify& ata, int driveNumber, char* out) {
    std::array<uint8_t, kIdentifySize> identify{};
    if (!ata.Identify(driveNumber, &identify)) {
        return false;
    }
    const std::array<char, kSerialLength> serial = DiskSerialFromIdentify(identify);
    std::memcpy(out, serial.data(), serial.size());
    return true;
}

}  // namespace kx7
