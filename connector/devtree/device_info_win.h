// The SetupAPI backend of the device tree's information sets. Its class images come from the
// device-class image list that the main window fetched and attached to its tree.
#pragma once

#include "connector/devtree/device_info.h"
#include "connector/platform/setupapi_win.h"

namespace kx7 {

class SetupApiDeviceInfoSource final : public DeviceInfoSource {
  public:
    // imageList may hold no list; every class then has the image -1.
    explicit SetupApiDeviceInfoSource(SP_CLASSIMAGELIST_DATA* imageList) : imageList_(imageList) {}

    std::unique_ptr<DeviceInfoSet> GetClassDevs(const std::wstring& enumerator, bool presentOnly,
                                                uint32_t* error) override;
    bool GetClassDescription(const InterfaceGuid& classGuid, std::wstring* text) override;
    int GetClassImageIndex(const InterfaceGuid& classGuid) override;

  private:
    SP_CLASSIMAGELIST_DATA* imageList_;
};

}  // namespace kx7
