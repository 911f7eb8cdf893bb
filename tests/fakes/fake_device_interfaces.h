// Device interfaces a test lists by hand: the paths it added for each class (or for every
// class), the paths Open was asked for, and what an open gives: whatever the path's port makes,
// or nothing for a path added without one.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "connector/device/device_interfaces.h"

namespace kx7::test {

class FakeDeviceInterfaces final : public DeviceInterfaces {
  public:
    using Port = std::function<std::unique_ptr<ScsiPassThrough>()>;

    void Add(const InterfaceGuid& cls, const std::wstring& path, Port port = nullptr) {
        entries_.push_back({false, cls, path, std::move(port)});
    }
    void AddForEveryClass(const std::wstring& path, Port port = nullptr) {
        entries_.push_back({true, InterfaceGuid{}, path, std::move(port)});
    }
    void Clear() {
        entries_.clear();
        opened.clear();
    }

    bool ListPresent(const InterfaceGuid& cls, std::vector<std::wstring>* paths) override {
        paths->clear();
        if (onListing) {
            onListing();
        }
        if (listingFails) {
            return false;
        }
        for (const Entry& entry : entries_) {
            if (entry.everyClass || entry.cls == cls) {
                paths->push_back(entry.path);
            }
        }
        return true;
    }
    std::unique_ptr<ScsiPassThrough> Open(const std::wstring& path) override {
        opened.push_back(path);
        for (const Entry& entry : entries_) {
            if (entry.path == path) {
                return entry.port ? entry.port() : nullptr;
            }
        }
        return nullptr;
    }

    bool listingFails = false;
    std::function<void()> onListing;  // runs as every listing is asked for
    std::vector<std::wstring> opened;

  private:
    struct Entry {
        bool everyClass;
        InterfaceGuid cls;
        std::wstring path;
        Port port;
    };
    std::vector<Entry> entries_;
};

}  // namespace kx7::test
