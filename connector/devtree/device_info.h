// The platform's device information sets, as the device tree reads them: all devices of one
// enumerator over every setup class, each with its instance ID, setup class and display names,
// plus the setup classes' descriptions and images. The Win32 backend uses SetupAPI; tests and the
// simulation build provide their own devices.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "connector/platform/interface_class.h"

namespace kx7 {

// One element of a set, shaped as the platform's record: a size field of 28, the device's setup
// class, and two values that only the backend interprets.
struct DeviceInfoData {
    uint32_t cbSize = 0;
    InterfaceGuid ClassGuid{};
    uint32_t DevInst = 0;
    uintptr_t Reserved = 0;
};

// The names the tree shows, in the order it tries them.
enum class DeviceNameProperty : uint8_t {
    kFriendlyName,
    kDeviceDescription,
};

class DeviceInfoSet {
  public:
    virtual ~DeviceInfoSet() = default;
    // The element at index; false past the last one (or when it cannot be read).
    virtual bool EnumDeviceInfo(uint32_t index, DeviceInfoData* data) = 0;
    // The element's instance ID, read into a buffer of 260 wide characters; false when it
    // cannot be read or does not fit.
    virtual bool GetDeviceInstanceId(const DeviceInfoData& data, std::wstring* id) = 0;
    // A display name, read into a buffer of 520 bytes; false when the device has none that fits.
    virtual bool GetDeviceName(const DeviceInfoData& data, DeviceNameProperty property,
                               std::wstring* name) = 0;
};

class DeviceInfoSource {
  public:
    virtual ~DeviceInfoSource() = default;
    // The devices of the enumerator over all setup classes: only present ones, or present and
    // non-present. Null with *error set to the system's error code when the set cannot be had.
    virtual std::unique_ptr<DeviceInfoSet> GetClassDevs(const std::wstring& enumerator,
                                                        bool presentOnly, uint32_t* error) = 0;
    // The setup class's description; false when the system has none.
    virtual bool GetClassDescription(const InterfaceGuid& classGuid, std::wstring* text) = 0;
    // The class's image in the device-class image list attached to the tree, or -1.
    virtual int GetClassImageIndex(const InterfaceGuid& classGuid) = 0;
};

}  // namespace kx7
