// The device services the main window is built on: the interface enumeration and pass-through
// that discovery and the worker use, and the device information sets of the device tree. The
// shipped program binds them to the system; the simulation build binds them to simulated drives,
// and everything else stays the same.
#pragma once

#include <windows.h>

#include <setupapi.h>

#include <memory>

#include "connector/device/device_interfaces.h"
#include "connector/devtree/device_info.h"

namespace kx7 {

DeviceInterfaces& ConnectorDeviceInterfaces();
// imageList is the window's device-class image list, for the class images of the tree.
std::unique_ptr<DeviceInfoSource> MakeDeviceInfoSource(SP_CLASSIMAGELIST_DATA* imageList);
// Called once the main window exists and listens for device notifications.
void OnDeviceWindowReady(HWND window);

}  // namespace kx7
