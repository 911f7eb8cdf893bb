#include "sim/seams/sim_device_info.h"

#include <vector>

namespace kx7::sim {
namespace {

struct ListedDevice {
    std::wstring instanceId;
    InterfaceGuid classGuid;
    std::wstring friendlyName;  // empty: none
    std::wstring description;
};

class ListedSet final : public DeviceInfoSet {
  public:
    explicit ListedSet(std::vector<ListedDevice> devices) : devices_(std::move(devices)) {}

    bool EnumDeviceInfo(uint32_t index, DeviceInfoData* data) override {
        if (index >= devices_.size() || data->cbSize != 28) {
            return false;
        }
        data->ClassGuid = devices_[index].classGuid;
        data->DevInst = index;
        return true;
    }
    bool GetDeviceInstanceId(const DeviceInfoData& data, std::wstring* id) override {
        if (data.DevInst >= devices_.size()) {
            return false;
        }
        *id = devices_[data.DevInst].instanceId;
        return true;
    }
    bool GetDeviceName(const DeviceInfoData& data, DeviceNameProperty property,
                       std::wstring* name) override {
        if (data.DevInst >= devices_.size()) {
            return false;
        }
        const ListedDevice& device = devices_[data.DevInst];
        const std::wstring& text = property == DeviceNameProperty::kFriendlyName
                                       ? device.friendlyName
                                       : device.description;
        if (text.empty()) {
            return false;
        }
        *name = text;
        return true;
    }

  private:
    std::vector<ListedDevice> devices_;
};

std::wstring ProductText(const std::wstring& diskName) {
    // "...&Prod_<product>&Rev_...": the product as the disk reports it, blanks for underscores.
    const size_t start = diskName.find(L"&Prod_");
    const size_t end = diskName.find(L"&Rev_");
    if (start == std::wstring::npos || end == std::wstring::npos || end < start + 6) {
        return L"KX7";
    }
    std::wstring product = diskName.substr(start + 6, end - start - 6);
    for (wchar_t& c : product) {
        if (c == L'_') {
            c = L' ';
        }
    }
    return product;
}

}  // namespace

std::unique_ptr<DeviceInfoSet> SimDeviceInfoSource::GetClassDevs(const std::wstring& enumerator,
                                                                 bool presentOnly,
                                                                 uint32_t* error) {
    (void)error;  // the simulated system always has a list
    std::vector<ListedDevice> devices;
    for (const NamedDrive& named : control_.Drives()) {
        const SimulatedDrive& drive = *named.drive;
        const SimInterfaceNames names = drive.interfaceNames();
        const bool plugged = drive.plugged();
        const bool unlocked = drive.unlocked();
        if (enumerator == L"USB" && (named.everPlugged || plugged) && (plugged || !presentOnly)) {
            devices.push_back({SimInstanceIdOf(names.usbNodeName), kGuidDevclassUsb, L"",
                               L"USB Mass Storage Device"});
        }
        if (enumerator != L"USBSTOR") {
            continue;
        }
        if (plugged && !unlocked) {
            devices.push_back({SimInstanceIdOf(names.cdromName), kGuidDevclassCdrom,
                               L"SVI Virtual CD Drive USB Device", L"CD-ROM Drive"});
        }
        if ((named.everUnlocked || unlocked) && ((plugged && unlocked) || !presentOnly)) {
            devices.push_back({SimInstanceIdOf(names.diskName), kGuidDevclassDiskDrive,
                               L"SVI " + ProductText(names.diskName) + L" USB Device",
                               L"Disk drive"});
        }
    }
    return std::make_unique<ListedSet>(std::move(devices));
}

bool SimDeviceInfoSource::GetClassDescription(const InterfaceGuid& classGuid, std::wstring* text) {
    if (classGuid == kGuidDevclassUsb) {
        *text = L"Universal Serial Bus controllers";
    } else if (classGuid == kGuidDevclassDiskDrive) {
        *text = L"Disk drives";
    } else if (classGuid == kGuidDevclassCdrom) {
        *text = L"DVD/CD-ROM drives";
    } else {
        return false;
    }
    return true;
}

int SimDeviceInfoSource::GetClassImageIndex(const InterfaceGuid& classGuid) {
    return classImage_ ? classImage_(classGuid) : -1;
}

}  // namespace kx7::sim
