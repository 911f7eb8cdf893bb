#include "sim/simulated_drive.h"

#include <algorithm>
#include <cstring>

#include "connector/engine/crypto/aes256_inverse.h"

namespace kx7::sim {

namespace {

constexpr size_t kAnnounceComparedBytes = 10;
constexpr uint8_t kInquiryPeripheralCdRom = 0x05;
constexpr uint8_t kInquiryRemovable = 0x80;
constexpr uint8_t kInquiryVersion = 0x05;
constexpr uint8_t kInquiryResponseFormat = 0x02;

bool SameBytes(const uint8_t* a, const uint8_t* b, size_t count) {
    return std::memcmp(a, b, count) == 0;
}

CommandBlock ToBlock(const uint8_t* cdb, uint8_t cdbLength) {
    CommandBlock block{};
    std::memcpy(block.data(), cdb, std::min<size_t>(cdbLength, block.size()));
    return block;
}

uint16_t LengthField(const uint8_t* cdb) {
    return static_cast<uint16_t>(cdb[4] | cdb[5] << 8);
}

void PutPadded(uint8_t* out, size_t width, const char* text) {
    std::memset(out, ' ', width);
    const size_t n = std::min(width, std::strlen(text));
    std::memcpy(out, text, n);
}

std::array<uint8_t, kInquiryLength> BuildInquiryReply(const SimIdentity& identity) {
    std::array<uint8_t, kInquiryLength> reply{};
    // Until it is unlocked the drive shows itself as a removable CD-ROM.
    reply[0] = kInquiryPeripheralCdRom;
    reply[1] = kInquiryRemovable;
    reply[2] = kInquiryVersion;
    reply[3] = kInquiryResponseFormat;
    reply[4] = static_cast<uint8_t>(kInquiryLength - 5);
    PutPadded(&reply[8], 8, "KX7");
    PutPadded(&reply[16], 16, "KX7 CD-ROM");
    // Revision as "M.mm" in decimal digits, enough for the firmware numbers a drive carries.
    reply[32] = static_cast<uint8_t>('0' + identity.firmwareMajor % 10);
    reply[33] = '.';
    reply[34] = static_cast<uint8_t>('0' + identity.firmwareMinor / 10 % 10);
    reply[35] = static_cast<uint8_t>('0' + identity.firmwareMinor % 10);
    return reply;
}

}  // namespace

ScsiResult SimulatedDrive::Port::Execute(const uint8_t* cdb, uint8_t cdbLength,
                                         DataDirection direction, uint8_t* buffer, uint32_t length,
                                         uint32_t /*timeoutSeconds*/) {
    return drive_->Execute(cdb, cdbLength, direction, buffer, length);
}

SimulatedDrive::SimulatedDrive() : SimulatedDrive(SimIdentity{}) {}

SimulatedDrive::SimulatedDrive(const SimIdentity& identity) : port_(this), identity_(identity) {
    // A drive fresh out of the box is ready to be authenticated.
    deviceStatus_[0] = kReadyForAuthMask;
    deviceSetup_[0] = kReadyForAuthMask;
}

void SimulatedDrive::SetCheckCondition(SimCommand command, bool enabled) {
    checkCondition_[static_cast<size_t>(command)] = enabled;
}

uint32_t SimulatedDrive::CountOf(SimCommand command) const {
    return counts_[static_cast<size_t>(command)];
}

ScsiResult SimulatedDrive::Execute(const uint8_t* cdb, uint8_t cdbLength, DataDirection direction,
                                   uint8_t* buffer, uint32_t length) {
    ScsiResult result;
    if (failingCalls_ > 0) {
        // The request never got to the drive, so the drive's state stays as it was.
        --failingCalls_;
        return result;
    }
    result.completed = true;
    ++totalCalls_;

    const SimCommand command = cdb == nullptr ? SimCommand::kUnknown : Classify(cdb, cdbLength);
    ++counts_[static_cast<size_t>(command)];

    uint32_t transferred = 0;
    bool good = false;
    if (!checkCondition_[static_cast<size_t>(command)] && command != SimCommand::kUnknown &&
        (length == 0 || buffer != nullptr)) {
        good = Dispatch(command, cdb, direction, buffer, length, &transferred);
    }
    // An announce covers only the command right after it, whatever that turns out to be.
    if (command != SimCommand::kAnnounce || !good) {
        announcePending_ = false;
    }
    result.scsiStatus = good ? kScsiStatusGood : kScsiStatusCheckCondition;
    result.dataTransferLength = good ? transferred : 0;
    return result;
}

SimCommand SimulatedDrive::Classify(const uint8_t* cdb, uint8_t cdbLength) const {
    if (cdbLength == kInquiryCdbLength) {
        const CommandBlock inquiry = BuildInquiryBlock();
        return SameBytes(cdb, inquiry.data(), kInquiryCdbLength) ? SimCommand::kInquiry
                                                                 : SimCommand::kUnknown;
    }
    if (cdbLength == kAnnounceCdbLength) {
        // Every byte but the checksum is fixed; the checksum is judged when the write arrives.
        const CommandBlock shape = BuildAnnounceBlock(BuildVendorWriteBlock(0, 0));
        const bool fits = SameBytes(cdb, shape.data(), 4) &&
                          SameBytes(cdb + 6, shape.data() + 6, kAnnounceCdbLength - 6);
        return fits ? SimCommand::kAnnounce : SimCommand::kUnknown;
    }
    if (cdbLength != kVendorCdbLength) {
        return SimCommand::kUnknown;
    }
    const uint8_t subcommand = cdb[3];
    const uint16_t lengthField = LengthField(cdb);
    const CommandBlock read = BuildVendorReadBlock(subcommand, lengthField);
    if (SameBytes(cdb, read.data(), kVendorCdbLength)) {
        switch (subcommand) {
            case kSubReadIdentity:
                return SimCommand::kReadIdentity;
            case kSubReadCommandStatus:
                return SimCommand::kReadCommandStatus;
            case kSubReadDeviceSetup:
                return SimCommand::kReadDeviceSetup;
            case kSubReadDeviceStatus:
                return SimCommand::kReadDeviceStatus;
            default:
                return SimCommand::kUnknown;
        }
    }
    const CommandBlock write = BuildVendorWriteBlock(subcommand, lengthField);
    if (SameBytes(cdb, write.data(), kVendorCdbLength)) {
        switch (subcommand) {
            case kSubWriteTiming:
                return SimCommand::kWriteTiming;
            case kSubWriteAuthPacket:
                return SimCommand::kWriteAuthPacket;
            default:
                return SimCommand::kUnknown;
        }
    }
    return SimCommand::kUnknown;
}

bool SimulatedDrive::Dispatch(SimCommand command, const uint8_t* cdb, DataDirection direction,
                              uint8_t* buffer, uint32_t length, uint32_t* transferred) {
    switch (command) {
        case SimCommand::kInquiry: {
            if (direction != DataDirection::kIn || length != cdb[4]) {
                return false;
            }
            const auto reply = BuildInquiryReply(identity_);
            const uint32_t count =
                std::min({length, inquiryReplyLength_, static_cast<uint32_t>(reply.size())});
            std::memcpy(buffer, reply.data(), count);
            *transferred = count;
            return true;
        }
        case SimCommand::kAnnounce:
            if (direction != DataDirection::kOut || length != 0) {
                return false;
            }
            pendingAnnounce_ = ToBlock(cdb, kAnnounceCdbLength);
            announcePending_ = true;
            return true;
        case SimCommand::kReadIdentity: {
            std::array<uint8_t, kIdentityLength> reply{};
            reply[0] = identity_.firmwareMajor;
            reply[1] = identity_.firmwareMinor;
            reply[2] = static_cast<uint8_t>(identity_.vendorId >> 8);
            reply[3] = static_cast<uint8_t>(identity_.vendorId & 0xFF);
            reply[4] = static_cast<uint8_t>(identity_.productId >> 8);
            reply[5] = static_cast<uint8_t>(identity_.productId & 0xFF);
            std::memcpy(&reply[6], identity_.identifier.data(), identity_.identifier.size());
            *transferred = kIdentityLength;
            return AnswerRead(cdb, direction, buffer, length, reply.data(), kIdentityLength);
        }
        case SimCommand::kReadCommandStatus: {
            const std::array<uint8_t, kCommandStatusLength> reply{errorCode_, errorCommand_, 0, 0};
            *transferred = kCommandStatusLength;
            return AnswerRead(cdb, direction, buffer, length, reply.data(), kCommandStatusLength);
        }
        case SimCommand::kReadDeviceSetup:
            *transferred = kDeviceSetupLength;
            return AnswerRead(cdb, direction, buffer, length, deviceSetup_.data(),
                              kDeviceSetupLength);
        case SimCommand::kReadDeviceStatus:
            *transferred = kDeviceStatusLength;
            return AnswerRead(cdb, direction, buffer, length, deviceStatus_.data(),
                              kDeviceStatusLength);
        case SimCommand::kWriteTiming:
            if (!AcceptWrite(cdb, direction, buffer, length, kTimingStagingSize)) {
                return false;
            }
            std::memcpy(lastTiming_.data(), buffer, kTimingStagingSize);
            timingReceived_ = true;
            *transferred = length;
            return true;
        case SimCommand::kWriteAuthPacket:
            if (!AcceptWrite(cdb, direction, buffer, length, kAuthPacketLength)) {
                return false;
            }
            *transferred = length;
            return TakeAuthPacket(buffer);
        case SimCommand::kUnknown:
            break;
    }
    return false;
}

bool SimulatedDrive::AnswerRead(const uint8_t* cdb, DataDirection direction, uint8_t* buffer,
                                uint32_t length, const uint8_t* reply, uint16_t replyLength) {
    // The block, the transfer and the reply must all agree on the size.
    if (direction != DataDirection::kIn || LengthField(cdb) != replyLength ||
        length != replyLength) {
        return false;
    }
    std::memcpy(buffer, reply, replyLength);
    return true;
}

bool SimulatedDrive::AcceptWrite(const uint8_t* cdb, DataDirection direction, const uint8_t* buffer,
                                 uint32_t length, uint16_t expectedLength) {
    if (!announcePending_) {
        return false;
    }
    const CommandBlock expected = BuildAnnounceBlock(ToBlock(cdb, kVendorCdbLength));
    if (!SameBytes(pendingAnnounce_.data(), expected.data(), kAnnounceComparedBytes)) {
        return false;
    }
    return direction == DataDirection::kOut && buffer != nullptr &&
           LengthField(cdb) == expectedLength && length == expectedLength;
}

bool SimulatedDrive::TakeAuthPacket(const uint8_t* buffer) {
    uint8_t key[kAes256KeySize];
    DeriveDriveKey(identity_.identifier.data(), kDriveIdentifierLength, key);
    lastAuthPlaintext_.assign(kAuthPacketLength, 0);
    Aes256DecryptEcb(key, buffer, lastAuthPlaintext_.data(), kAuthPacketLength);
    std::memset(key, 0, sizeof(key));

    // Whether the packet names a host registered on this drive is the judge's business; the
    // refusal codes 27-30 come from there.
    const uint8_t code = judge_ ? judge_(lastAuthPlaintext_.data(), lastAuthPlaintext_.size()) : 0;
    RecordError(code, kSubWriteAuthPacket);
    return code == 0;
}

void SimulatedDrive::RecordError(uint8_t code, uint8_t subcommand) {
    errorCode_ = code;
    errorCommand_ = subcommand;
}

}  // namespace kx7::sim
