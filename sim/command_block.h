// How the simulated drive reads the command blocks that reach it, field by field, the way its
// firmware would: operation code first, then the fields that code defines. Every constant here
// is the drive's own; nothing is borrowed from the code that builds the blocks, so a fault in
// the connector's builders shows up as a refused command instead of being agreed with.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx7::sim {

// The transport as the drive sees it: a block, a direction and a data buffer in, a completion
// and a status out.
enum class SimDirection : uint8_t {
    kIn,   // data from the drive to the host
    kOut,  // data from the host to the drive, or no data at all
};

struct SimScsiResult {
    // False when the request never reached the drive.
    bool completed = false;
    // Only with completed false: there is no drive behind the call any more (it was pulled
    // out, or the interface the handle was opened on went away), as the system reports for a
    // handle whose device was removed. A stalled or failing drive is still there.
    bool deviceGone = false;
    uint8_t scsiStatus = 0;
    uint32_t dataTransferLength = 0;
};

constexpr uint8_t kSimStatusGood = 0x00;
constexpr uint8_t kSimStatusCheckCondition = 0x02;

// Operation codes and the fields of the buffer commands. The connector keeps its own copy
// (connector/device/vendor_commands.cpp) on purpose: a wrong byte on one side is caught by the
// other.
constexpr uint8_t kSimOpInquiry = 0x12;
constexpr uint8_t kSimOpWriteBuffer = 0x3B;
constexpr uint8_t kSimOpReadBuffer = 0x3C;
constexpr uint8_t kSimBufferModeVendor = 0x01;
constexpr uint8_t kSimBufferVendorRead = 0xCE;
constexpr uint8_t kSimBufferVendorWrite = 0xCD;
constexpr uint8_t kSimBufferAnnounce = 0x10;

constexpr size_t kSimInquiryCdbLength = 6;
constexpr size_t kSimAnnounceCdbLength = 10;
constexpr size_t kSimVendorCdbLength = 16;

// Subcommands in byte 3 of the vendor blocks.
constexpr uint8_t kSimSubIdentity = 0x01;
constexpr uint8_t kSimSubCommandStatus = 0x02;
constexpr uint8_t kSimSubTiming = 0x03;
constexpr uint8_t kSimSubDeviceSetup = 0x30;
constexpr uint8_t kSimSubDeviceStatus = 0x32;
constexpr uint8_t kSimSubAuthPacket = 0x41;

// What each command moves, in bytes. The drive takes exactly these sizes and no other.
constexpr uint16_t kSimInquiryLength = 36;
constexpr uint16_t kSimIdentityLength = 22;
constexpr uint16_t kSimCommandStatusLength = 4;
constexpr uint16_t kSimDeviceSetupLength = 348;
constexpr uint16_t kSimDeviceStatusLength = 32;
constexpr uint16_t kSimTimingLength = 12;
constexpr uint16_t kSimAuthPacketLength = 128;

// Bit 4 of byte 0 of the status and setup replies: ready to be authenticated.
constexpr uint8_t kSimReadyBit = 0x10;

// What a command block turned out to be, for fault injection and for counting traffic.
enum class SimCommand : uint8_t {
    kInquiry,
    kAnnounce,
    kReadIdentity,
    kReadCommandStatus,
    kReadDeviceSetup,
    kReadDeviceStatus,
    kWriteTiming,
    kWriteAuthPacket,
    kUnknown,
};

struct SimCommandBlock {
    SimCommand command = SimCommand::kUnknown;
    // The data length the block names: the allocation length of INQUIRY (big-endian, as in
    // any SCSI block) or the length of a vendor read or write (little-endian, the vendor's
    // own order). 0 for an announce.
    uint16_t length = 0;
    // The announce's checksum, as its two bytes read little-endian.
    uint16_t checksum = 0;
};

// Decodes a block of cdbLength bytes. A block whose operation code, mode, buffer, subcommand,
// signature or block length the drive does not know, or that carries anything but zeros where
// the drive expects them, is kUnknown.
SimCommandBlock DecodeCommandBlock(const uint8_t* cdb, size_t cdbLength);

// Whether an announce's checksum covers the vendor write block that follows it: the first ten
// bytes of that block, read as five big-endian 16-bit words, and the checksum must add up to 0
// modulo 65536.
bool AnnounceBalances(uint16_t checksum, const uint8_t* writeBlock);

}  // namespace kx7::sim
