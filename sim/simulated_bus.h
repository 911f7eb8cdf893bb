// A USB bus with simulated drives on it: drives are plugged in and pulled out, their interfaces
// come and go, and whoever stands in for the system's device enumeration lists and opens them as
// it would on a machine.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "connector/platform/interface_class.h"
#include "sim/sim_events.h"
#include "sim/simulated_drive.h"

namespace kx7::sim {

// An opened interface of a drive. It keeps the drive alive by itself, so a handle that outlives
// an unplug, or the bus, never reaches freed memory; once the interface it was opened on goes
// away, every call fails to complete and finds the device gone (completed = false,
// deviceGone = true), even after a replug.
class SimHandle {
  public:
    SimHandle(std::shared_ptr<SimulatedDrive> drive, uint64_t epoch)
        : drive_(std::move(drive)), epoch_(epoch) {}
    SimScsiResult Execute(const uint8_t* cdb, size_t cdbLength, SimDirection direction,
                          uint8_t* buffer, uint32_t length);

  private:
    std::shared_ptr<SimulatedDrive> drive_;
    uint64_t epoch_;
};

// Every member may be called from any thread; the bus and all its drives share one lock, and the
// listener is only ever called with it released (see SimEventHub).
class SimulatedBus final {
  public:
    SimulatedBus();
    ~SimulatedBus();
    SimulatedBus(const SimulatedBus&) = delete;
    SimulatedBus& operator=(const SimulatedBus&) = delete;

    // A new drive, not plugged in yet. It lives as long as the bus or any handle opened on it.
    // Give every drive its own serial: the interface names are made from it.
    SimulatedDrive& AddDrive(const SimIdentity& identity);

    // The USB node arrives, then the locked drive's CD-ROM. False when the drive is already
    // plugged in or belongs to another bus.
    bool Plug(SimulatedDrive& drive);
    // The drive's CD-ROM or disk leaves, then its USB node; like a power loss, the drive locks
    // again. False when it is not plugged in or belongs to another bus.
    bool Unplug(SimulatedDrive& drive);
    // Pulled out and put back: it goes to the end of the plug order.
    bool Replug(SimulatedDrive& drive);

    // Interface arrivals and removals of every drive on the bus, plug and unlock alike.
    void SetEventListener(SimEventListener listener) { hub_->SetListener(std::move(listener)); }
    // Makes ListPresent fail as a broken enumeration would.
    void SetListingFails(bool fails);
    // Sets the date of every drive on the bus, and of those added later (see
    // SimulatedDrive::SetDate).
    void SetDate(uint32_t packedDate);

    // CD-ROM paths of the locked drives and disk paths of the unlocked ones, in plug order;
    // any other class lists nothing.
    bool ListPresent(const InterfaceGuid& interfaceClass, std::vector<std::wstring>* paths);
    // A handle on the drive whose interface has this path now (compared without regard to case,
    // as the system does), or null. The handle stops reaching the drive for good (completed =
    // false, deviceGone = true) once that interface goes away: by unplugging, or by the drive
    // unlocking.
    std::unique_ptr<SimHandle> Open(const std::wstring& path);
    uint32_t openCount() const;

  private:
    std::shared_ptr<SimEventHub> hub_;
    // Guarded by hub_->mutex().
    std::vector<std::shared_ptr<SimulatedDrive>> drives_;
    std::vector<SimulatedDrive*> plugOrder_;
    bool listingFails_ = false;
    uint32_t date_ = 0;
    uint32_t openCount_ = 0;
};

}  // namespace kx7::sim
