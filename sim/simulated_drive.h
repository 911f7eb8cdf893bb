// The drive's half of the vendor command conversation, so that everything above the SCSI seam
// runs against something that checks every byte. See sim/README.md for the rules it follows;
// they are our model of the drive, not a description of any firmware.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "connector/device/scsi_pass_through.h"
#include "connector/device/vendor_commands.h"
#include "connector/engine/crypto/derive_key.h"
#include "sim/host_acceptance.h"
#include "sim/sim_events.h"

namespace kx7::sim {

class SimulatedBus;

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
    // The USB serial number: letters and digits only (no "#" or "&"), since it becomes part of
    // every interface name of the drive.
    std::string serial = "0123456789AB";
};

// The names of the drive's interfaces. Paths are spelled as the enumeration lists them (lower
// case); names as a device-change notification carries them.
struct SimInterfaceNames {
    std::wstring usbNodeName;
    std::wstring cdromPath;
    std::wstring cdromName;
    std::wstring diskPath;
    std::wstring diskName;
};
SimInterfaceNames InterfaceNamesFor(const SimIdentity& identity);

// Decides on a decrypted authentication packet in place of the registered hosts. Returns 0 to
// accept it (the drive then unlocks); any other value is the error code the drive keeps for
// ReadCommandStatus, and the write is answered with CHECK CONDITION. It runs with the drive's
// lock held, so it must not call back into the drive or its bus.
using AuthPacketJudge = std::function<uint8_t(const uint8_t* plaintext, size_t length)>;
// Runs at the start of every call that is made on the drive, before the drive looks at it,
// outside the drive's lock: it may change the drive's faults or plug and unplug drives.
using SimCommandHook = std::function<void(SimCommand command)>;

// Every member may be called from any thread. A standalone drive is plugged in from the start
// and reports its events through SetEventListener; a drive made by a SimulatedBus shares the
// bus's lock and listener and starts unplugged.
class SimulatedDrive {
  public:
    SimulatedDrive();
    explicit SimulatedDrive(const SimIdentity& identity);
    SimulatedDrive(const SimulatedDrive&) = delete;
    SimulatedDrive& operator=(const SimulatedDrive&) = delete;

    // A direct line to the drive: reaches it whenever it is plugged in, whichever interface it
    // shows. Lives as long as the drive.
    ScsiPassThrough& PassThrough() { return port_; }

    ScsiResult Execute(const uint8_t* cdb, uint8_t cdbLength, DataDirection direction,
                       uint8_t* buffer, uint32_t length);

    // --- Configuration -------------------------------------------------------------------
    // Names already announced keep the identity the drive had when it was plugged in.
    SimIdentity identity() const;
    void SetIdentity(const SimIdentity& identity);
    std::array<uint8_t, kDeviceStatusLength> deviceStatus() const;
    void SetDeviceStatus(const std::array<uint8_t, kDeviceStatusLength>& status);
    std::array<uint8_t, kDeviceSetupLength> deviceSetup() const;
    void SetDeviceSetup(const std::array<uint8_t, kDeviceSetupLength>& setup);

    void SetHostPairEnabled(bool enabled);
    void AddHost(const SimHost& host);
    void ClearHosts();
    // Overrides the registered hosts; an empty judge restores them.
    void SetAuthPacketJudge(AuthPacketJudge judge);
    void SetCommandHook(SimCommandHook hook);
    void SetEventListener(SimEventListener listener) { hub_->SetListener(std::move(listener)); }

    // --- Fault injection -----------------------------------------------------------------
    // The next `count` calls never reach the drive (completed = false) and change nothing.
    void FailNextCalls(uint32_t count);
    // The drive stops answering: every call fails to complete until the stall is cleared.
    void SetStalled(bool stalled);
    // Every command of this kind is answered with CHECK CONDITION and has no effect.
    void SetCheckCondition(SimCommand command, bool enabled);
    // INQUIRY hands back at most this many bytes (36 normally).
    void SetInquiryReplyLength(uint32_t length);

    // --- Observation ----------------------------------------------------------------------
    bool plugged() const;
    bool unlocked() const;
    SimInterfaceNames interfaceNames() const;
    std::array<uint8_t, kTimingStagingSize> lastTiming() const;
    bool timingReceived() const;
    // The most recent packet as the drive decrypted it; empty until one arrives.
    std::vector<uint8_t> lastAuthPlaintext() const;
    uint8_t lastErrorCode() const;
    uint8_t lastErrorCommand() const;
    // Calls that reached the drive, by kind.
    uint32_t CountOf(SimCommand command) const;
    uint32_t totalCalls() const;

  private:
    friend class SimulatedBus;

    class Port final : public ScsiPassThrough {
      public:
        explicit Port(SimulatedDrive* drive) : drive_(drive) {}
        ScsiResult Execute(const uint8_t* cdb, uint8_t cdbLength, DataDirection direction,
                           uint8_t* buffer, uint32_t length, uint32_t timeoutSeconds) override;

      private:
        SimulatedDrive* drive_;
    };

    static constexpr size_t kCommandKinds = static_cast<size_t>(SimCommand::kUnknown) + 1;
    // Stands for "any interface" where a call does not come through an opened interface.
    static constexpr uint64_t kAnyInterface = ~uint64_t{0};

    SimulatedDrive(const SimIdentity& identity, std::shared_ptr<SimEventHub> hub, bool plugged);

    // For the bus, with the hub's lock held. Each change of interfaces gets a new epoch, which
    // is what retires handles opened on the interfaces that went away.
    void PlugHeld();
    void UnplugHeld();
    void UnlockHeld();
    uint64_t epochHeld() const { return epoch_; }
    // The path of the interface the drive shows for the class right now, or empty.
    std::wstring PresentPathHeld(const InterfaceGuid& interfaceClass) const;

    ScsiResult Run(uint64_t interfaceEpoch, const uint8_t* cdb, uint8_t cdbLength,
                   DataDirection direction, uint8_t* buffer, uint32_t length);
    static SimCommand Classify(const uint8_t* cdb, uint8_t cdbLength);
    bool Dispatch(SimCommand command, const uint8_t* cdb, DataDirection direction, uint8_t* buffer,
                  uint32_t length, uint32_t* transferred);
    bool AnswerRead(const uint8_t* cdb, DataDirection direction, uint8_t* buffer, uint32_t length,
                    const uint8_t* reply, uint16_t replyLength);
    bool AcceptWrite(const uint8_t* cdb, DataDirection direction, const uint8_t* buffer,
                     uint32_t length, uint16_t expectedLength);
    bool TakeAuthPacket(const uint8_t* buffer);
    void RecordError(uint8_t code, uint8_t subcommand);
    void QueueEvent(SimEventKind kind, const InterfaceGuid& interfaceClass,
                    const std::wstring& name);

    std::shared_ptr<SimEventHub> hub_;
    Port port_;

    // Everything below is guarded by hub_->mutex().
    SimIdentity identity_;
    std::array<uint8_t, kDeviceStatusLength> deviceStatus_{};
    std::array<uint8_t, kDeviceSetupLength> deviceSetup_{};
    SimHostPair hostPair_;
    AuthPacketJudge judge_;
    SimCommandHook hook_;

    bool plugged_ = false;
    bool unlocked_ = false;
    uint64_t epoch_ = 0;
    SimInterfaceNames names_;

    uint32_t failingCalls_ = 0;
    bool stalled_ = false;
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
