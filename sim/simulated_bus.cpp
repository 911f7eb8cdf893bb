#include "sim/simulated_bus.h"

#include <algorithm>

namespace kx7::sim {

namespace {

bool SamePathIgnoringCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        wchar_t x = a[i];
        wchar_t y = b[i];
        if (x >= L'A' && x <= L'Z') {
            x = static_cast<wchar_t>(x - L'A' + L'a');
        }
        if (y >= L'A' && y <= L'Z') {
            y = static_cast<wchar_t>(y - L'A' + L'a');
        }
        if (x != y) {
            return false;
        }
    }
    return true;
}

}  // namespace

SimScsiResult SimHandle::Execute(const uint8_t* cdb, size_t cdbLength, SimDirection direction,
                                 uint8_t* buffer, uint32_t length) {
    return drive_->Run(epoch_, cdb, cdbLength, direction, buffer, length);
}

SimulatedBus::SimulatedBus() : hub_(std::make_shared<SimEventHub>()) {}

SimulatedBus::~SimulatedBus() = default;

SimulatedDrive& SimulatedBus::AddDrive(const SimIdentity& identity) {
    std::shared_ptr<SimulatedDrive> drive(new SimulatedDrive(identity, hub_, false));
    std::lock_guard<std::mutex> lock(hub_->mutex());
    drive->date_ = date_;
    drives_.push_back(drive);
    return *drive;
}

bool SimulatedBus::Plug(SimulatedDrive& drive) {
    {
        std::lock_guard<std::mutex> lock(hub_->mutex());
        if (drive.hub_ != hub_ || drive.plugged_) {
            return false;
        }
        drive.PlugHeld();
        plugOrder_.push_back(&drive);
    }
    hub_->Deliver();
    return true;
}

bool SimulatedBus::Unplug(SimulatedDrive& drive) {
    {
        std::lock_guard<std::mutex> lock(hub_->mutex());
        if (drive.hub_ != hub_ || !drive.plugged_) {
            return false;
        }
        drive.UnplugHeld();
        plugOrder_.erase(std::remove(plugOrder_.begin(), plugOrder_.end(), &drive),
                         plugOrder_.end());
    }
    hub_->Deliver();
    return true;
}

bool SimulatedBus::Replug(SimulatedDrive& drive) {
    return Unplug(drive) && Plug(drive);
}

void SimulatedBus::SetListingFails(bool fails) {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    listingFails_ = fails;
}

void SimulatedBus::SetDate(uint32_t packedDate) {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    date_ = packedDate;
    for (const auto& drive : drives_) {
        drive->date_ = packedDate;
    }
}

bool SimulatedBus::ListPresent(const InterfaceGuid& interfaceClass,
                               std::vector<std::wstring>* paths) {
    paths->clear();
    std::lock_guard<std::mutex> lock(hub_->mutex());
    if (listingFails_) {
        return false;
    }
    for (const SimulatedDrive* drive : plugOrder_) {
        std::wstring path = drive->PresentPathHeld(interfaceClass);
        if (!path.empty()) {
            paths->push_back(std::move(path));
        }
    }
    return true;
}

std::unique_ptr<SimHandle> SimulatedBus::Open(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    for (const auto& drive : drives_) {
        for (const InterfaceGuid* interfaceClass :
             {&kGuidDevinterfaceCdrom, &kGuidDevinterfaceDisk}) {
            const std::wstring present = drive->PresentPathHeld(*interfaceClass);
            if (!present.empty() && SamePathIgnoringCase(present, path)) {
                ++openCount_;
                return std::make_unique<SimHandle>(drive, drive->epochHeld());
            }
        }
    }
    return nullptr;
}

uint32_t SimulatedBus::openCount() const {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    return openCount_;
}

}  // namespace kx7::sim
