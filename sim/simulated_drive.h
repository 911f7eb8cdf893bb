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

#include "connector/platform/interface_class.h"
#include "sim/command_block.h"
#include "sim/host_acceptance.h"
#include "sim/sim_events.h"

namespace kx7::sim {

class SimulatedBus;

constexpr size_t kSimIdentifierLength = 16;
// The two products of the KX7 line. Unlocked, each presents its disk under its own product
// name: 0x1180 as "STONEVAULT_KX7", 0x1181 as "KX7FIPS".
constexpr uint16_t kSimVendorId = 0x6B2F;
constexpr uint16_t kSimProductKx7 = 0x1180;
constexpr uint16_t kSimProductKx7Fips = 0x1181;

struct SimIdentity {
    uint8_t firmwareMajor = 2;
    uint8_t firmwareMinor = 0;
    uint16_t vendorId = kSimVendorId;
    uint16_t productId = kSimProductKx7;
    std::array<uint8_t, kSimIdentifierLength> identifier{};
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
    // shows, and finds it gone while it is not. `buffer` may be null when `length` is 0.
    SimScsiResult Execute(const uint8_t* cdb, size_t cdbLength, SimDirection direction,
                          uint8_t* buffer, uint32_t length);

    // --- Configuration -------------------------------------------------------------------
    // Names already announced keep the identity the drive had when it was plugged in.
    SimIdentity identity() const;
    void SetIdentity(const SimIdentity& identity);
    std::array<uint8_t, kSimDeviceStatusLength> deviceStatus() const;
    void SetDeviceStatus(const std::array<uint8_t, kSimDeviceStatusLength>& status);
    std::array<uint8_t, kSimDeviceSetupLength> deviceSetup() const;
    void SetDeviceSetup(const std::array<uint8_t, kSimDeviceSetupLength>& setup);
    // The drive's own date, packed like the packet's (PackSimDate). A new drive's date is 0,
    // which is no day at all, so it refuses every packet until it is given one.
    uint32_t date() const;
    void SetDate(uint32_t packedDate);

    void SetHostPairEnabled(bool enabled);
    void AddHost(const SimHost& host);
    void ClearHosts();
    // Overrides the registered hosts and the date; an empty judge restores them.
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
    std::array<uint8_t, kSimTimingLength> lastTiming() const;
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
    friend class SimHandle;

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

    SimScsiResult Run(uint64_t interfaceEpoch, const uint8_t* cdb, size_t cdbLength,
                      SimDirection direction, uint8_t* buffer, uint32_t length);
    bool Dispatch(const SimCommandBlock& block, const uint8_t* cdb, SimDirection direction,
                  uint8_t* buffer, uint32_t length, uint32_t* transferred);
    bool AnswerRead(const SimCommandBlock& block, SimDirection direction, uint8_t* buffer,
                    uint32_t length, const uint8_t* reply, uint16_t replyLength);
    bool AcceptWrite(const SimCommandBlock& block, const uint8_t* cdb, SimDirection direction,
                     const uint8_t* buffer, uint32_t length, uint16_t expectedLength) const;
    bool TakeAuthPacket(const uint8_t* buffer);
    void RecordError(uint8_t code, uint8_t subcommand);
    void QueueEvent(SimEventKind kind, const InterfaceGuid& interfaceClass,
                    const std::wstring& name);

    std::shared_ptr<SimEventHub> hub_;

    // Everything below is guarded by hub_->mutex().
    SimIdentity identity_;
    std::array<uint8_t, kSimDeviceStatusLength> deviceStatus_{};
    std::array<uint8_t, kSimDeviceSetupLength> deviceSetup_{};
    uint32_t date_ = 0;
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
    uint32_t inquiryReplyLength_ = kSimInquiryLength;

    // The checksum of the announce waiting for its write; whatever command comes next uses it
    // up.
    bool announcePending_ = false;
    uint16_t announcedChecksum_ = 0;

    std::array<uint8_t, kSimTimingLength> lastTiming_{};
    bool timingReceived_ = false;
    std::vector<uint8_t> lastAuthPlaintext_;
    uint8_t errorCode_ = 0;
    uint8_t errorCommand_ = 0;
    std::array<uint32_t, kCommandKinds> counts_{};
    uint32_t totalCalls_ = 0;
};

}  // namespace kx7::sim
