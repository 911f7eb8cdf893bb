// The present device interfaces of a class, listed through SetupAPI, and the opener that hands
// a listed path to the pass-through backend. The information set lives only within one listing.
#include <cstddef>
#include <cstring>

#include "connector/device/device_interfaces.h"
#include "connector/device/scsi_pass_through_win.h"
#include "connector/platform/guid_win.h"
#include "connector/platform/setupapi_win.h"

namespace kx7 {
namespace {

constexpr DWORD kPresentInterfaces = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
static_assert(kPresentInterfaces == 0x12, "present interfaces only");

// Room for a path of 260 characters and its terminator behind the size field.
constexpr DWORD kDetailBufferSize = 526;

// The size fields the 32-bit SetupAPI checks; a 64-bit layout would be refused by the system.
#if defined(__i386__)
static_assert(sizeof(SP_DEVINFO_DATA) == 28, "32-bit SP_DEVINFO_DATA is 28 bytes");
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28, "32-bit SP_DEVICE_INTERFACE_DATA");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 6,
              "32-bit SP_DEVICE_INTERFACE_DETAIL_DATA_W is 6 bytes");
#endif
static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) == 4,
              "the path follows the size field");

constexpr size_t kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
constexpr size_t kPathUnits = (kDetailBufferSize - kPathOffset) / sizeof(WCHAR);

union DetailBuffer {
    SP_DEVICE_INTERFACE_DETAIL_DATA_W detail;
    BYTE bytes[kDetailBufferSize];
};

// The path as it stands in the buffer, up to its terminator. False when the buffer holds no
// terminator, which would make the path's end unknown.
bool PathFromDetail(const DetailBuffer& buffer, std::wstring* path) {
    path->clear();
    for (size_t i = 0; i < kPathUnits; ++i) {
        WCHAR unit;
        std::memcpy(&unit, buffer.bytes + kPathOffset + i * sizeof(WCHAR), sizeof(unit));
        if (unit == L'\0') {
            return true;
        }
        path->push_back(unit);
    }
    path->clear();
    return false;
}

class WinDeviceInterfaces final : public DeviceInterfaces {
  public:
    bool ListPresent(const InterfaceGuid& interfaceClass,
                     std::vector<std::wstring>* paths) override {
        paths->clear();
        const SetupApi* api = SystemSetupApi();
        if (api == nullptr) {
            return false;
        }
        const GUID guid = ToGuid(interfaceClass);
        HDEVINFO set = api->GetClassDevsW(&guid, nullptr, nullptr, kPresentInterfaces);
        if (set == INVALID_HANDLE_VALUE) {
            return false;
        }
        for (DWORD index = 0;; ++index) {
            SP_DEVICE_INTERFACE_DATA interfaceData;
            std::memset(&interfaceData, 0, sizeof(interfaceData));
            interfaceData.cbSize = sizeof(interfaceData);
            if (!api->EnumDeviceInterfaces(set, nullptr, &guid, index, &interfaceData)) {
                break;
            }
            DetailBuffer buffer;
            std::memset(&buffer, 0, sizeof(buffer));
            buffer.detail.cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            SP_DEVINFO_DATA deviceData;
            std::memset(&deviceData, 0, sizeof(deviceData));
            deviceData.cbSize = sizeof(deviceData);
            // A path too long for the buffer fails here and the interface is passed over.
            if (!api->GetDeviceInterfaceDetailW(set, &interfaceData, &buffer.detail,
                                                kDetailBufferSize, nullptr, &deviceData)) {
                continue;
            }
            std::wstring path;
            if (PathFromDetail(buffer, &path)) {
                paths->push_back(std::move(path));
            }
        }
        api->DestroyDeviceInfoList(set);
        return true;
    }

    std::unique_ptr<ScsiPassThrough> Open(const std::wstring& path) override {
        return OpenDriveForPassThrough(path);
    }
};

}  // namespace

DeviceInterfaces& SystemDeviceInterfaces() {
    static WinDeviceInterfaces interfaces;
    return interfaces;
}

}  // namespace kx7
