#include "connector/app/device_seams_win.h"

#include "connector/devtree/device_info_win.h"

namespace kx7 {

DeviceInterfaces& ConnectorDeviceInterfaces() {
    return SystemDeviceInterfaces();
}

std::unique_ptr<DeviceInfoSource> MakeDeviceInfoSource(SP_CLASSIMAGELIST_DATA* imageList) {
    return std::make_unique<SetupApiDeviceInfoSource>(imageList);
}

void OnDeviceWindowReady(HWND) {
    // The system tells the window of its devices by itself.
}

}  // namespace kx7
