#include "connector/devtree/device_info_win.h"

#include <cstddef>
#include <cstring>

#include "connector/platform/guid_win.h"

namespace kx7 {
namespace {

constexpr DWORD kPresentAllClasses = DIGCF_PRESENT | DIGCF_ALLCLASSES;
constexpr DWORD kAllClasses = DIGCF_ALLCLASSES;
static_assert(kPresentAllClasses == 6 && kAllClasses == 4, "the flags an event asks for");
#if defined(__i386__)
static_assert(sizeof(SP_DEVINFO_DATA) == 28, "32-bit SP_DEVINFO_DATA is 28 bytes");
static_assert(sizeof(SP_CLASSIMAGELIST_DATA) == 12, "32-bit SP_CLASSIMAGELIST_DATA is 12 bytes");
#endif

constexpr DWORD kInstanceIdChars = 260;
constexpr DWORD kNameBufferBytes = 520;

SP_DEVINFO_DATA ToRecord(const DeviceInfoData& data) {
    SP_DEVINFO_DATA record;
    std::memset(&record, 0, sizeof(record));
    record.cbSize = sizeof(record);
    record.ClassGuid = ToGuid(data.ClassGuid);
    record.DevInst = data.DevInst;
    record.Reserved = data.Reserved;
    return record;
}

// A registry string property as it stands in the buffer, up to its terminator; the system does
// not promise one when the stored value lacks it.
std::wstring TextFromBuffer(const BYTE* buffer, DWORD bytes) {
    std::wstring text;
    for (DWORD i = 0; i + 1 < bytes; i += 2) {
        const wchar_t unit = static_cast<wchar_t>(buffer[i] | buffer[i + 1] << 8);
        if (unit == L'\0') {
            break;
        }
        text.push_back(unit);
    }
    return text;
}

class SetupApiDeviceInfoSet final : public DeviceInfoSet {
  public:
    SetupApiDeviceInfoSet(const SetupApi& api, HDEVINFO set) : api_(api), set_(set) {}
    ~SetupApiDeviceInfoSet() override { api_.DestroyDeviceInfoList(set_); }
    SetupApiDeviceInfoSet(const SetupApiDeviceInfoSet&) = delete;
    SetupApiDeviceInfoSet& operator=(const SetupApiDeviceInfoSet&) = delete;

    bool EnumDeviceInfo(uint32_t index, DeviceInfoData* data) override {
        SP_DEVINFO_DATA record;
        std::memset(&record, 0, sizeof(record));
        record.cbSize = sizeof(record);
        if (!api_.EnumDeviceInfo(set_, index, &record)) {
            return false;
        }
        data->cbSize = record.cbSize;
        data->ClassGuid = FromGuid(record.ClassGuid);
        data->DevInst = record.DevInst;
        data->Reserved = record.Reserved;
        return true;
    }

    bool GetDeviceInstanceId(const DeviceInfoData& data, std::wstring* id) override {
        SP_DEVINFO_DATA record = ToRecord(data);
        wchar_t buffer[kInstanceIdChars];
        if (!api_.GetDeviceInstanceIdW(set_, &record, buffer, kInstanceIdChars, nullptr)) {
            return false;
        }
        buffer[kInstanceIdChars - 1] = L'\0';
        *id = buffer;
        return true;
    }

    bool GetDeviceName(const DeviceInfoData& data, DeviceNameProperty property,
                       std::wstring* name) override {
        SP_DEVINFO_DATA record = ToRecord(data);
        const DWORD which =
            property == DeviceNameProperty::kFriendlyName ? SPDRP_FRIENDLYNAME : SPDRP_DEVICEDESC;
        BYTE buffer[kNameBufferBytes] = {};
        DWORD size = 0;
        if (!api_.GetDeviceRegistryPropertyW(set_, &record, which, nullptr, buffer, sizeof(buffer),
                                             &size)) {
            return false;
        }
        *name = TextFromBuffer(buffer, size < sizeof(buffer) ? size : sizeof(buffer));
        return true;
    }

  private:
    const SetupApi& api_;
    HDEVINFO set_;
};

}  // namespace

std::unique_ptr<DeviceInfoSet> SetupApiDeviceInfoSource::GetClassDevs(
    const std::wstring& enumerator, bool presentOnly, uint32_t* error) {
    const SetupApi* api = SystemSetupApi();
    HDEVINFO set = api == nullptr ? INVALID_HANDLE_VALUE
                                  : api->GetClassDevsW(
                                        nullptr, enumerator.empty() ? nullptr : enumerator.c_str(),
                                        nullptr, presentOnly ? kPresentAllClasses : kAllClasses);
    if (set == INVALID_HANDLE_VALUE) {
        // Without the DLL, the reason it could not be had.
        *error = GetLastError();
        return nullptr;
    }
    return std::make_unique<SetupApiDeviceInfoSet>(*api, set);
}

bool SetupApiDeviceInfoSource::GetClassDescription(const InterfaceGuid& classGuid,
                                                   std::wstring* text) {
    const SetupApi* api = SystemSetupApi();
    const GUID guid = ToGuid(classGuid);
    wchar_t buffer[LINE_LEN] = {};
    if (api == nullptr || !api->GetClassDescriptionW(&guid, buffer, LINE_LEN, nullptr)) {
        return false;
    }
    buffer[LINE_LEN - 1] = L'\0';
    *text = buffer;
    return true;
}

int SetupApiDeviceInfoSource::GetClassImageIndex(const InterfaceGuid& classGuid) {
    const SetupApi* api = SystemSetupApi();
    if (api == nullptr || imageList_ == nullptr || imageList_->ImageList == nullptr) {
        return -1;
    }
    const GUID guid = ToGuid(classGuid);
    int index = -1;
    if (!api->GetClassImageIndex(imageList_, &guid, &index)) {
        return -1;
    }
    return index;
}

}  // namespace kx7
