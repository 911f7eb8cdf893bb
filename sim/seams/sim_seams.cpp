#include "sim/seams/sim_seams.h"

namespace kx7::sim {

namespace {

ScsiResult Carry(const SimScsiResult& result) {
    ScsiResult carried;
    carried.completed = result.completed;
    carried.deviceGone = result.deviceGone;
    carried.scsiStatus = result.scsiStatus;
    carried.dataTransferLength = result.dataTransferLength;
    return carried;
}

SimDirection Carry(DataDirection direction) {
    return direction == DataDirection::kIn ? SimDirection::kIn : SimDirection::kOut;
}

class SimHandlePort final : public ScsiPassThrough {
  public:
    explicit SimHandlePort(std::unique_ptr<SimHandle> handle) : handle_(std::move(handle)) {}
    ScsiResult Execute(const uint8_t* cdb, uint8_t cdbLength, DataDirection direction,
                       uint8_t* buffer, uint32_t length, uint32_t /*timeoutSeconds*/) override {
        return Carry(handle_->Execute(cdb, cdbLength, Carry(direction), buffer, length));
    }

  private:
    std::unique_ptr<SimHandle> handle_;
};

}  // namespace

ScsiResult SimDrivePort::Execute(const uint8_t* cdb, uint8_t cdbLength, DataDirection direction,
                                 uint8_t* buffer, uint32_t length, uint32_t /*timeoutSeconds*/) {
    return Carry(drive_.Execute(cdb, cdbLength, Carry(direction), buffer, length));
}

bool SimBusInterfaces::ListPresent(const InterfaceGuid& interfaceClass,
                                   std::vector<std::wstring>* paths) {
    return bus_.ListPresent(interfaceClass, paths);
}

std::unique_ptr<ScsiPassThrough> SimBusInterfaces::Open(const std::wstring& path) {
    std::unique_ptr<SimHandle> handle = bus_.Open(path);
    if (handle == nullptr) {
        return nullptr;
    }
    return std::make_unique<SimHandlePort>(std::move(handle));
}

}  // namespace kx7::sim
