// The platform's list of present device interfaces, and the way to open one of them for the
// vendor commands. The Win32 backend uses SetupAPI and CreateFileW; tests enumerate the
// simulated drives instead.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "connector/platform/interface_class.h"
#include "connector/device/scsi_pass_through.h"

namespace kx7 {

class DeviceInterfaces {
  public:
    virtual ~DeviceInterfaces() = default;
    // The device paths of the present interfaces of the class, in the platform's order and
    // spelled as the platform spells them. An interface whose path cannot be read is left out.
    // False, with *paths empty, when the list itself cannot be obtained.
    virtual bool ListPresent(const InterfaceGuid& interfaceClass,
                             std::vector<std::wstring>* paths) = 0;
    // Opens the path for reading and writing, shared for both; null when the open fails. The
    // handle is closed when the returned object goes away.
    virtual std::unique_ptr<ScsiPassThrough> Open(const std::wstring& path) = 0;
};

// The device interfaces of the running system; only the Win32 build provides it.
DeviceInterfaces& SystemDeviceInterfaces();

}  // namespace kx7
