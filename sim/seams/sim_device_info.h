// The system's device information sets as they would list the simulated drives: the USB node of
// each drive the system has seen, its locked CD-ROM or unlocked disk below the mass-storage
// enumerator, present while plugged in and remembered afterwards, with the names and setup
// classes a machine would report. The simulation build of the connector gives these to its
// device tree in place of the platform's.
#pragma once

#include <functional>

#include "connector/devtree/device_info.h"
#include "sim/sim_control.h"

namespace kx7::sim {

class SimDeviceInfoSource final : public DeviceInfoSource {
  public:
    // classImage gives a setup class's image, as the platform's image list would.
    SimDeviceInfoSource(SimControl& control, std::function<int(const InterfaceGuid&)> classImage)
        : control_(control), classImage_(std::move(classImage)) {}

    std::unique_ptr<DeviceInfoSet> GetClassDevs(const std::wstring& enumerator, bool presentOnly,
                                                uint32_t* error) override;
    bool GetClassDescription(const InterfaceGuid& classGuid, std::wstring* text) override;
    int GetClassImageIndex(const InterfaceGuid& classGuid) override;

  private:
    SimControl& control_;
    std::function<int(const InterfaceGuid&)> classImage_;
};

}  // namespace kx7::sim
