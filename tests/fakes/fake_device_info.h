// Device information sets for native tests: a list of devices with instance ID, setup class,
// names and presence, and a record of every set asked for.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "connector/devtree/device_info.h"

namespace kx7::test {

struct FakeDevice {
    std::wstring instanceId;  // as the system spells it
    InterfaceGuid classGuid{};
    std::wstring friendlyName;  // empty: none
    std::wstring description;   // empty: none
    bool present = true;
    bool idUnreadable = false;
};

class FakeDeviceInfoSource final : public DeviceInfoSource {
  public:
    struct Request {
        std::wstring enumerator;
        bool presentOnly;
    };

    std::unique_ptr<DeviceInfoSet> GetClassDevs(const std::wstring& enumerator, bool presentOnly,
                                                uint32_t* error) override {
        requests.push_back({enumerator, presentOnly});
        if (failWith != 0) {
            *error = failWith;
            return nullptr;
        }
        auto set = std::make_unique<Set>();
        for (const FakeDevice& device : devices) {
            const std::wstring prefix = enumerator + L"\\";
            if (device.instanceId.compare(0, prefix.size(), prefix) == 0 &&
                (device.present || !presentOnly)) {
                set->devices.push_back(device);
            }
        }
        return set;
    }
    bool GetClassDescription(const InterfaceGuid& classGuid, std::wstring* text) override {
        for (const auto& entry : classDescriptions) {
            if (entry.first == classGuid) {
                *text = entry.second;
                return true;
            }
        }
        return false;
    }
    int GetClassImageIndex(const InterfaceGuid& classGuid) override {
        for (size_t i = 0; i < classDescriptions.size(); ++i) {
            if (classDescriptions[i].first == classGuid) {
                return static_cast<int>(i) + 1;
            }
        }
        return -1;
    }

    std::vector<FakeDevice> devices;
    // A class has a description and the image index of its place in this list, plus one.
    std::vector<std::pair<InterfaceGuid, std::wstring>> classDescriptions;
    uint32_t failWith = 0;
    std::vector<Request> requests;

  private:
    class Set final : public DeviceInfoSet {
      public:
        bool EnumDeviceInfo(uint32_t index, DeviceInfoData* data) override {
            if (index >= devices.size() || data->cbSize != 28) {
                return false;
            }
            data->ClassGuid = devices[index].classGuid;
            data->DevInst = index;
            return true;
        }
        bool GetDeviceInstanceId(const DeviceInfoData& data, std::wstring* id) override {
            const FakeDevice& device = devices.at(data.DevInst);
            if (device.idUnreadable) {
                return false;
            }
            *id = device.instanceId;
            return true;
        }
        bool GetDeviceName(const DeviceInfoData& data, DeviceNameProperty property,
                           std::wstring* name) override {
            const FakeDevice& device = devices.at(data.DevInst);
            const std::wstring& text = property == DeviceNameProperty::kFriendlyName
                                           ? device.friendlyName
                                           : device.description;
            if (text.empty()) {
                return false;
            }
            *name = text;
            return true;
        }
        std::vector<FakeDevice> devices;
    };
};

}  // namespace kx7::test
