// What a device-interface notification carries, read the same way for the window, which gets it
// with WM_DEVICECHANGE, and for the service, which gets it with its control code.
#pragma once

#include <windows.h>

#include <dbt.h>

#include <string>

#include "connector/platform/interface_class.h"

namespace kx7 {

// The interface name of a device-interface broadcast, read no further than the record the
// system sent. False for any other kind of broadcast, or none.
bool InterfaceNameOf(const void* broadcast, std::wstring* name);

// The filter that registers for the arrivals and removals of one interface class.
DEV_BROADCAST_DEVICEINTERFACE_W InterfaceClassFilter(const InterfaceGuid& interfaceClass);

}  // namespace kx7
