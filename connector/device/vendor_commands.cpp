#include "connector/device/vendor_commands.h"

#include <cstring>

namespace kx7 {

namespace {

// The simulated drive keeps its own copy (sim/command_block.h) on purpose: a wrong byte on one
// side is caught by the other.
constexpr uint8_t kOpReadBuffer = 0x3C;
constexpr uint8_t kOpWriteBuffer = 0x3B;
constexpr uint8_t kModeVendorBuffer = 0x01;
constexpr uint8_t kBufferIdVendorRead = 0xCE;
constexpr uint8_t kBufferIdVendorWrite = 0xCD;
constexpr uint8_t kBufferIdAnnounce = 0x10;
constexpr uint8_t kOpInquiry = 0x12;

CommandBlock BuildVendorBlock(uint8_t opcode, uint8_t bufferId, uint8_t subcommand,
                              uint16_t length) {
    CommandBlock block{};
    block[0] = opcode;
    block[1] = kModeVendorBuffer;
    block[2] = bufferId;
    block[3] = subcommand;
    block[4] = static_cast<uint8_t>(length & 0xFF);
    block[5] = static_cast<uint8_t>(length >> 8);
    return block;
}

PassThroughRequest Request(const CommandBlock& cdb, uint8_t cdbLength, DataDirection direction,
                           uint8_t* buffer, uint32_t length) {
    PassThroughRequest request;
    request.cdb = cdb;
    request.cdbLength = cdbLength;
    request.direction = direction;
    request.buffer = buffer;
    request.length = length;
    return request;
}

// Only a request that came back GOOD counts; the sense data is never looked at.
bool SendAndCheck(ScsiPassThrough& drive, Clock& clock, PassThroughRequest* request) {
    return SendPassThrough(drive, clock, request) && request->scsiStatus == kScsiStatusGood;
}

template <size_t N>
bool ReadInto(ScsiPassThrough& drive, Clock& clock, uint8_t subcommand,
              std::array<uint8_t, N>* output) {
    static_assert(N <= 0xFFFF, "a vendor read carries a 16-bit length");
    return VendorRead(drive, clock, subcommand, static_cast<uint16_t>(N), output->data());
}

template <size_t N>
bool StageAndWrite(ScsiPassThrough& drive, Clock& clock, uint8_t subcommand, const uint8_t* data,
                   uint16_t length) {
    if (length > N || (length > 0 && data == nullptr)) {
        return false;
    }
    std::array<uint8_t, N> staging{};
    if (length > 0) {
        std::memcpy(staging.data(), data, length);
    }
    return VendorWrite(drive, clock, subcommand, length, staging.data());
}

}  // namespace

CommandBlock BuildVendorReadBlock(uint8_t subcommand, uint16_t length) {
    return BuildVendorBlock(kOpReadBuffer, kBufferIdVendorRead, subcommand, length);
}

CommandBlock BuildVendorWriteBlock(uint8_t subcommand, uint16_t length) {
    return BuildVendorBlock(kOpWriteBuffer, kBufferIdVendorWrite, subcommand, length);
}

uint16_t AnnounceChecksum(const CommandBlock& writeBlock) {
    uint32_t sum = 0;
    for (size_t k = 0; k < 5; ++k) {
        sum += static_cast<uint32_t>(writeBlock[2 * k]) << 8 | writeBlock[2 * k + 1];
    }
    // The five words are at most 5 * 0xFFFF, so 0xF0000 - sum never wraps below zero.
    return static_cast<uint16_t>((0xF0000u - sum) & 0xFFFFu);
}

CommandBlock BuildAnnounceBlock(const CommandBlock& writeBlock) {
    const uint16_t checksum = AnnounceChecksum(writeBlock);
    CommandBlock block{};
    block[0] = kOpWriteBuffer;
    block[1] = kModeVendorBuffer;
    block[2] = kBufferIdAnnounce;
    block[3] = writeBlock[2];
    block[4] = static_cast<uint8_t>(checksum & 0xFF);
    block[5] = static_cast<uint8_t>(checksum >> 8);
    block[6] = 'F';
    block[7] = 'M';
    block[8] = 'L';
    block[9] = 0x00;
    return block;
}

CommandBlock BuildInquiryBlock() {
    CommandBlock block{};
    block[0] = kOpInquiry;
    block[4] = static_cast<uint8_t>(kInquiryLength);
    return block;
}

bool SendPassThrough(ScsiPassThrough& drive, Clock& clock, PassThroughRequest* request) {
    for (uint32_t attempt = 0; attempt < kPassThroughAttempts; ++attempt) {
        const ScsiResult result =
            drive.Execute(request->cdb.data(), request->cdbLength, request->direction,
                          request->buffer, request->length, request->timeoutSeconds);
        request->scsiStatus = result.scsiStatus;
        request->dataTransferLength = result.dataTransferLength;
        if (result.completed) {
            return true;
        }
        // A drive that has been pulled out never answers again; waiting out the loop for it
        // would only keep the other drives, and the program's end, waiting for a minute.
        if (result.deviceGone) {
            return false;
        }
        clock.SleepMs(kPassThroughRetryDelayMs);
    }
    return false;
}

bool VendorRead(ScsiPassThrough& drive, Clock& clock, uint8_t subcommand, uint16_t length,
                uint8_t* buffer) {
    PassThroughRequest request = Request(BuildVendorReadBlock(subcommand, length), kVendorCdbLength,
                                         DataDirection::kIn, buffer, length);
    return SendAndCheck(drive, clock, &request);
}

bool VendorWrite(ScsiPassThrough& drive, Clock& clock, uint8_t subcommand, uint16_t length,
                 uint8_t* buffer) {
    PassThroughRequest request = Request(BuildVendorWriteBlock(subcommand, length),
                                         kVendorCdbLength, DataDirection::kOut, buffer, length);
    // The drive takes a write only after it has been announced; an unannounced write is not
    // worth sending.
    if (!AnnounceWrite(drive, clock, request.cdb)) {
        return false;
    }
    return SendAndCheck(drive, clock, &request);
}

bool AnnounceWrite(ScsiPassThrough& drive, Clock& clock, const CommandBlock& writeBlock) {
    PassThroughRequest request = Request(BuildAnnounceBlock(writeBlock), kAnnounceCdbLength,
                                         DataDirection::kOut, nullptr, 0);
    return SendAndCheck(drive, clock, &request);
}

bool Inquiry(ScsiPassThrough& drive, Clock& clock, std::array<uint8_t, kInquiryLength>* output) {
    output->fill(0);
    std::array<uint8_t, kInquiryStagingSize> staging{};
    PassThroughRequest request = Request(BuildInquiryBlock(), kInquiryCdbLength, DataDirection::kIn,
                                         staging.data(), kInquiryLength);
    if (!SendAndCheck(drive, clock, &request)) {
        return false;
    }
    // A driver that reports more than was asked for must not make us write past the caller's
    // 36 bytes.
    uint32_t count = request.dataTransferLength;
    if (count > kInquiryLength) {
        count = kInquiryLength;
    }
    std::memcpy(output->data(), staging.data(), count);
    return true;
}

bool ReadIdentity(ScsiPassThrough& drive, Clock& clock,
                  std::array<uint8_t, kIdentityLength>* output) {
    return ReadInto(drive, clock, kSubReadIdentity, output);
}

bool ReadCommandStatus(ScsiPassThrough& drive, Clock& clock,
                       std::array<uint8_t, kCommandStatusLength>* output) {
    return ReadInto(drive, clock, kSubReadCommandStatus, output);
}

bool ReadDeviceStatus(ScsiPassThrough& drive, Clock& clock,
                      std::array<uint8_t, kDeviceStatusLength>* output) {
    return ReadInto(drive, clock, kSubReadDeviceStatus, output);
}

bool ReadDeviceSetup(ScsiPassThrough& drive, Clock& clock,
                     std::array<uint8_t, kDeviceSetupLength>* output) {
    return ReadInto(drive, clock, kSubReadDeviceSetup, output);
}

bool WriteTiming(ScsiPassThrough& drive, Clock& clock, const uint8_t* data, uint16_t length) {
    return StageAndWrite<kTimingStagingSize>(drive, clock, kSubWriteTiming, data, length);
}

bool WriteAuthPacket(ScsiPassThrough& drive, Clock& clock, const uint8_t* data, uint16_t length) {
    return StageAndWrite<kAuthPacketStagingSize>(drive, clock, kSubWriteAuthPacket, data, length);
}

DriveIdentity ParseDriveIdentity(const std::array<uint8_t, kIdentityLength>& reply) {
    DriveIdentity identity;
    identity.firmwareMajor = reply[0];
    identity.firmwareMinor = reply[1];
    identity.vendorId = static_cast<uint16_t>(reply[2] << 8 | reply[3]);
    identity.productId = static_cast<uint16_t>(reply[4] << 8 | reply[5]);
    std::memcpy(identity.driveId.data(), reply.data() + 6, identity.driveId.size());
    return identity;
}

}  // namespace kx7
