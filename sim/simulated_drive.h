// The drive's half of the vendor command conversation, so that everything above the SCSI seam
// runs against something that checks every byte. See sim/README.md for the rules it follows;
// they are our model of the drive, not a description of any firmware.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "connector/device/scsi_pass_through.h"
#include "connector/device/vendor_commands.h"
#include "connector/engine/crypto/derive_key.h"

namespace kx7::sim {

constexpr uint8_t kScsiStatusCheckCondition = 0x02;
// The host stages 128 bytes of packet; the drive takes exactly that much.
constexpr uint16_t kAuthPacketLength = 128;

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

struct SimIdentity {
    uint8_t firmwareMajor = 2;
    uint8_t firmwareMinor = 0;
    uint16_t vendorId = 0x6B2F;
    uint16_t productId = 0x1180;
    std::array<uint8_t, kDriveIdentifierLength> identifier{};
};

// Decides on a decrypted authentication packet. Returns 0 to accept it; any other value is the
// error code the drive keeps for ReadCommandStatus, and the write is answered with CHECK
// CONDITION. Without a judge every well-formed packet is accepted.
using AuthPacketJudge = std::function<uint8_t(const uint8_t* plaintext, size_t length)>;

class SimulatedDrive {
  public:
    SimulatedDrive();
    explicit SimulatedDrive(const SimIdentity& identity);
    SimulatedDrive(const SimulatedDrive&) = delete;
    SimulatedDrive& operator=(const SimulatedDrive&) = delete;

    // The seam the connector code talks to. Lives as long as the drive.
    ScsiPassThrough& PassThrough() { return port_; }

    ScsiResult Execute(const uint8_t* cdb, uint8_t cdbLength, DataDirection direction,
                       uint8_t* buffer, uint32_t length);

    // --- Configuration -------------------------------------------------------------------
    SimIdentity& identity() { return identity_; }
    std::array<uint8_t, kDeviceStatusLength>& deviceStatus() { return deviceStatus_; }
    std::array<uint8_t, kDeviceSetupLength>& deviceSetup() { return deviceSetup_; }
    void SetAuthPacketJudge(AuthPacketJudge judge) { judge_ = std::move(judge); }

    // --- Fault injection -----------------------------------------------------------------
    // The next `count` calls never reach the drive (completed = false) and change nothing.
    void FailNextCalls(uint32_t count) { failingCalls_ = count; }
    // Every command of this kind is answered with CHECK CONDITION and has no effect.
    void SetCheckCondition(SimCommand command, bool enabled);
    // INQUIRY hands back at most this many bytes (36 normally).
    void SetInquiryReplyLength(uint32_t length) { inquiryReplyLength_ = length; }

    // --- Observation ----------------------------------------------------------------------
    const std::array<uint8_t, kTimingStagingSize>& lastTiming() const { return lastTiming_; }
    bool timingReceived() const { return timingReceived_; }
    // The most recent packet as the drive decrypted it; empty until one arrives.
    const std::vector<uint8_t>& lastAuthPlaintext() const { return lastAuthPlaintext_; }
    uint8_t lastErrorCode() const { return errorCode_; }
    uint8_t lastErrorCommand() const { return errorCommand_; }
    // Calls that reached the drive, by kind.
    uint32_t CountOf(SimCommand command) const;
    uint32_t totalCalls() const { return totalCalls_; }

  private:
    class Port final : public ScsiPassThrough {
      public:
        explicit Port(SimulatedDrive* drive) : drive_(drive) {}
        ScsiResult Execute(const uint8_t* cdb, uint8_t cdbLength, DataDirection direction,
                           uint8_t* buffer, uint32_t length, uint32_t timeoutSeconds) override;

      private:
        SimulatedDrive* drive_;
    };

    static constexpr size_t kCommandKinds = static_cast<size_t>(SimCommand::kUnknown) + 1;

    SimCommand Classify(const uint8_t* cdb, uint8_t cdbLength) const;
    bool Dispatch(SimCommand command, const uint8_t* cdb, DataDirection direction, uint8_t* buffer,
                  uint32_t length, uint32_t* transferred);
    bool AnswerRead(const uint8_t* cdb, DataDirection direction, uint8_t* buffer, uint32_t length,
                    const uint8_t* reply, uint16_t replyLength);
    bool AcceptWrite(const uint8_t* cdb, DataDirection direction, const uint8_t* buffer,
                     uint32_t length, uint16_t expectedLength);
    bool TakeAuthPacket(const uint8_t* buffer);
    void RecordError(uint8_t code, uint8_t subcommand);

    Port port_;
    SimIdentity identity_;
    std::array<uint8_t, kDeviceStatusLength> deviceStatus_{};
    std::array<uint8_t, kDeviceSetupLength> deviceSetup_{};
    AuthPacketJudge judge_;

    uint32_t failingCalls_ = 0;
    std::array<bool, kCommandKinds> checkCondition_{};
    uint32_t inquiryReplyLength_ = kInquiryLength;

    // The announce waiting for its write; consumed by whatever command comes next.
    bool announcePending_ = false;
    CommandBlock pendingAnnounce_{};

    std::array<uint8_t, kTimingStagingSize> lastTiming_{};
    bool timingReceived_ = false;
    std::vector<uint8_t> lastAuthPlaintext_;
    uint8_t errorCode_ = 0;
    uint8_t errorCommand_ = 0;
    std::array<uint32_t, kCommandKinds> counts_{};
    uint32_t totalCalls_ = 0;
};

}  // namespace kx7::sim
