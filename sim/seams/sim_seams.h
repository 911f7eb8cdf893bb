// Puts the simulated drives behind the connector's device seams: a drive or an opened interface
// of one as a ScsiPassThrough, a bus as the system's DeviceInterfaces. The simulator itself
// knows nothing of these seams, so the connector and the drive share no code on the way.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "connector/device/device_interfaces.h"
#include "connector/device/scsi_pass_through.h"
#include "sim/simulated_bus.h"
#include "sim/simulated_drive.h"

namespace kx7::sim {

// A direct line to a drive, however it is plugged; the drive must outlive the port.
class SimDrivePort final : public ScsiPassThrough {
  public:
    explicit SimDrivePort(SimulatedDrive& drive) : drive_(drive) {}
    ScsiResult Execute(const uint8_t* cdb, uint8_t cdbLength, DataDirection direction,
                       uint8_t* buffer, uint32_t length, uint32_t timeoutSeconds) override;

  private:
    SimulatedDrive& drive_;
};

// The bus as the connector's device enumeration; the bus must outlive it, the handles it opens
// need not.
class SimBusInterfaces final : public DeviceInterfaces {
  public:
    explicit SimBusInterfaces(SimulatedBus& bus) : bus_(bus) {}
    bool ListPresent(const InterfaceGuid& interfaceClass,
                     std::vector<std::wstring>* paths) override;
    std::unique_ptr<ScsiPassThrough> Open(const std::wstring& path) override;

  private:
    SimulatedBus& bus_;
};

}  // namespace kx7::sim
