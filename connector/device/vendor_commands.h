// The drive's vendor command set on top of the pass-through seam: the retry loop, the success
// rule, the vendor read and write shapes (every write announced first with a checksummed
// command), a standard INQUIRY and the six commands the connector sends. Nothing here keeps
// state; failures come back only as false.
#pragma once

#include <array>
#include <cstdint>

#include "connector/device/scsi_pass_through.h"
#include "connector/platform/clock.h"

namespace kx7 {

constexpr uint8_t kScsiStatusGood = 0x00;
constexpr uint32_t kCommandTimeoutSeconds = 10;
// A drive that stops answering holds the caller for about a minute before giving up; one that
// has been pulled out does not.
constexpr uint32_t kPassThroughAttempts = 600;
constexpr uint32_t kPassThroughRetryDelayMs = 100;

constexpr uint8_t kVendorCdbLength = 16;
constexpr uint8_t kAnnounceCdbLength = 10;
constexpr uint8_t kInquiryCdbLength = 6;

constexpr uint8_t kSubReadIdentity = 0x01;
constexpr uint8_t kSubReadCommandStatus = 0x02;
constexpr uint8_t kSubWriteTiming = 0x03;
constexpr uint8_t kSubReadDeviceSetup = 0x30;
constexpr uint8_t kSubReadDeviceStatus = 0x32;
constexpr uint8_t kSubWriteAuthPacket = 0x41;

constexpr uint16_t kIdentityLength = 22;
constexpr uint16_t kCommandStatusLength = 4;
constexpr uint16_t kDeviceSetupLength = 348;
constexpr uint16_t kDeviceStatusLength = 32;
constexpr uint32_t kInquiryLength = 36;
constexpr uint32_t kInquiryStagingSize = 128;
constexpr uint16_t kTimingStagingSize = 12;
constexpr uint16_t kAuthPacketStagingSize = 256;

// Bit 4 of byte 0 of the status and setup replies: the drive is ready to be authenticated.
constexpr uint8_t kReadyForAuthMask = 0x10;

using CommandBlock = std::array<uint8_t, 16>;

// One request as it travels through SendPassThrough. The status and transfer length are
// filled in from the last attempt.
struct PassThroughRequest {
    CommandBlock cdb{};
    uint8_t cdbLength = 0;
    DataDirection direction = DataDirection::kOut;
    uint8_t* buffer = nullptr;
    uint32_t length = 0;
    uint32_t timeoutSeconds = kCommandTimeoutSeconds;
    uint8_t scsiStatus = 0;
    uint32_t dataTransferLength = 0;
};

// The command blocks, byte for byte. The 16-bit length is little-endian here, unlike the
// standard SCSI fields, because that is how the drive's firmware reads it.
CommandBlock BuildVendorReadBlock(uint8_t subcommand, uint16_t length);
CommandBlock BuildVendorWriteBlock(uint8_t subcommand, uint16_t length);
// Two's complement of the sum of bytes 0-9 taken as five big-endian words, so that the words
// and the checksum add up to 0 modulo 65536.
uint16_t AnnounceChecksum(const CommandBlock& writeBlock);
CommandBlock BuildAnnounceBlock(const CommandBlock& writeBlock);
CommandBlock BuildInquiryBlock();

// Issues the request, repeating only a call that never reached the drive: up to 600 calls,
// 100 ms apart, and none after a call that found the device gone. True when the last call
// completed; the SCSI status is left in the request.
bool SendPassThrough(ScsiPassThrough& drive, Clock& clock, PassThroughRequest* request);

// buffer must hold length bytes; the reply lands in it directly.
bool VendorRead(ScsiPassThrough& drive, Clock& clock, uint8_t subcommand, uint16_t length,
                uint8_t* buffer);
// Announces the write and sends it only when the announce succeeded.
bool VendorWrite(ScsiPassThrough& drive, Clock& clock, uint8_t subcommand, uint16_t length,
                 uint8_t* buffer);
bool AnnounceWrite(ScsiPassThrough& drive, Clock& clock, const CommandBlock& writeBlock);

// Zeroes the output; on success copies as many bytes as the driver reports, never more than 36.
bool Inquiry(ScsiPassThrough& drive, Clock& clock, std::array<uint8_t, kInquiryLength>* output);

bool ReadIdentity(ScsiPassThrough& drive, Clock& clock,
                  std::array<uint8_t, kIdentityLength>* output);
bool ReadCommandStatus(ScsiPassThrough& drive, Clock& clock,
                       std::array<uint8_t, kCommandStatusLength>* output);
bool ReadDeviceStatus(ScsiPassThrough& drive, Clock& clock,
                      std::array<uint8_t, kDeviceStatusLength>* output);
bool ReadDeviceSetup(ScsiPassThrough& drive, Clock& clock,
                     std::array<uint8_t, kDeviceSetupLength>* output);

// The data is staged in a zeroed buffer of 12 (timing) or 256 (packet) bytes and the caller's
// length is what the drive is told. A longer length would overrun the staging buffer, so it is
// refused with false before anything is sent.
bool WriteTiming(ScsiPassThrough& drive, Clock& clock, const uint8_t* data, uint16_t length);
bool WriteAuthPacket(ScsiPassThrough& drive, Clock& clock, const uint8_t* data, uint16_t length);

// The reply of ReadIdentity, decoded.
struct DriveIdentity {
    uint8_t firmwareMajor = 0;
    uint8_t firmwareMinor = 0;
    uint16_t vendorId = 0;   // a KX7 answers 0x6B2F
    uint16_t productId = 0;  // a KX7 answers 0x1180 or 0x1181
    std::array<uint8_t, 16> driveId{};
};
DriveIdentity ParseDriveIdentity(const std::array<uint8_t, kIdentityLength>& reply);

}  // namespace kx7
