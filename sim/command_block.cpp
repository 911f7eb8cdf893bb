#include "sim/command_block.h"

namespace kx7::sim {

namespace {

// An announce ends with the letters F, M, L and a zero byte.
constexpr uint8_t kAnnounceSignature[] = {0x46, 0x4D, 0x4C, 0x00};
constexpr size_t kAnnounceSignatureOffset = 6;
// The vendor blocks use bytes 0-5; the drive insists on zeros in the rest.
constexpr size_t kVendorFieldBytes = 6;
constexpr size_t kAnnouncedWords = 5;

bool AllZero(const uint8_t* bytes, size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

SimCommandBlock Known(SimCommand command, uint16_t length) {
    SimCommandBlock block;
    block.command = command;
    block.length = length;
    return block;
}

// INQUIRY: no vital product data page, allocation length in bytes 3-4 (most significant
// first), control byte 0.
SimCommandBlock DecodeInquiry(const uint8_t* cdb, size_t cdbLength) {
    if (cdbLength != kSimInquiryCdbLength || cdb[1] != 0 || cdb[2] != 0 || cdb[5] != 0) {
        return SimCommandBlock{};
    }
    return Known(SimCommand::kInquiry, static_cast<uint16_t>(cdb[3] << 8 | cdb[4]));
}

uint16_t VendorLength(const uint8_t* cdb) {
    return static_cast<uint16_t>(cdb[4] | cdb[5] << 8);
}

SimCommandBlock DecodeVendorRead(const uint8_t* cdb, size_t cdbLength) {
    if (cdbLength != kSimVendorCdbLength || cdb[2] != kSimBufferVendorRead ||
        !AllZero(cdb, kVendorFieldBytes, kSimVendorCdbLength)) {
        return SimCommandBlock{};
    }
    const uint16_t length = VendorLength(cdb);
    switch (cdb[3]) {
        case kSimSubIdentity:
            return Known(SimCommand::kReadIdentity, length);
        case kSimSubCommandStatus:
            return Known(SimCommand::kReadCommandStatus, length);
        case kSimSubDeviceSetup:
            return Known(SimCommand::kReadDeviceSetup, length);
        case kSimSubDeviceStatus:
            return Known(SimCommand::kReadDeviceStatus, length);
        default:
            return SimCommandBlock{};
    }
}

SimCommandBlock DecodeAnnounce(const uint8_t* cdb, size_t cdbLength) {
    // Byte 3 names the buffer of the write being announced; the drive takes writes into its
    // vendor write buffer only.
    if (cdbLength != kSimAnnounceCdbLength || cdb[3] != kSimBufferVendorWrite) {
        return SimCommandBlock{};
    }
    for (size_t i = 0; i < sizeof(kAnnounceSignature); ++i) {
        if (cdb[kAnnounceSignatureOffset + i] != kAnnounceSignature[i]) {
            return SimCommandBlock{};
        }
    }
    SimCommandBlock block = Known(SimCommand::kAnnounce, 0);
    block.checksum = static_cast<uint16_t>(cdb[4] | cdb[5] << 8);
    return block;
}

SimCommandBlock DecodeVendorWrite(const uint8_t* cdb, size_t cdbLength) {
    if (cdbLength != kSimVendorCdbLength || !AllZero(cdb, kVendorFieldBytes, kSimVendorCdbLength)) {
        return SimCommandBlock{};
    }
    const uint16_t length = VendorLength(cdb);
    switch (cdb[3]) {
        case kSimSubTiming:
            return Known(SimCommand::kWriteTiming, length);
        case kSimSubAuthPacket:
            return Known(SimCommand::kWriteAuthPacket, length);
        default:
            return SimCommandBlock{};
    }
}

}  // namespace

SimCommandBlock DecodeCommandBlock(const uint8_t* cdb, size_t cdbLength) {
    if (cdb == nullptr || cdbLength == 0) {
        return SimCommandBlock{};
    }
    switch (cdb[0]) {
        case kSimOpInquiry:
            return DecodeInquiry(cdb, cdbLength);
        case kSimOpReadBuffer:
            if (cdbLength < 3 || cdb[1] != kSimBufferModeVendor) {
                return SimCommandBlock{};
            }
            return DecodeVendorRead(cdb, cdbLength);
        case kSimOpWriteBuffer:
            if (cdbLength < 3 || cdb[1] != kSimBufferModeVendor) {
                return SimCommandBlock{};
            }
            if (cdb[2] == kSimBufferAnnounce) {
                return DecodeAnnounce(cdb, cdbLength);
            }
            if (cdb[2] == kSimBufferVendorWrite) {
                return DecodeVendorWrite(cdb, cdbLength);
            }
            return SimCommandBlock{};
        default:
            return SimCommandBlock{};
    }
}

bool AnnounceBalances(uint16_t checksum, const uint8_t* writeBlock) {
    uint32_t total = checksum;
    for (size_t word = 0; word < kAnnouncedWords; ++word) {
        total += static_cast<uint32_t>(writeBlock[2 * word] << 8 | writeBlock[2 * word + 1]);
    }
    return (total & 0xFFFF) == 0;
}

}  // namespace kx7::sim
