#include "connector/devtree/device_tracking.h"

namespace kx7 {

// USB\VID_%04X&PID_%04X with the drive's vendor 0x6B2F and its two product IDs, and
// USBSTOR\DISK&VEN_%s&PROD_%s with "SVI" and the two product names its disk reports.
const wchar_t kDriveNodePattern1180[] = L"USB\\VID_6B2F&PID_1180";
const wchar_t kDriveNodePattern1181[] = L"USB\\VID_6B2F&PID_1181";
const wchar_t kDiskNodePatternKx7[] = L"USBSTOR\\DISK&VEN_SVI&PROD_STONEVAULT_KX7";
const wchar_t kDiskNodePatternKx7Fips[] = L"USBSTOR\\DISK&VEN_SVI&PROD_KX7FIPS";

namespace {

constexpr size_t kInterfacePrefixChars = 4;  // "\\?\"

wchar_t AsciiUpper(wchar_t c) {
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

}  // namespace

bool AsciiTextComparer::EqualIgnoreCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) {
            return false;
        }
    }
    return true;
}

bool IsNotificationClass(const InterfaceGuid& interfaceClass) {
    for (const InterfaceGuid& registered : kNotificationClasses) {
        if (registered == interfaceClass) {
            return true;
        }
    }
    return false;
}

std::wstring InstanceIdFromInterfaceName(const std::wstring& interfaceName) {
    if (interfaceName.size() <= kInterfacePrefixChars) {
        return std::wstring();
    }
    std::wstring id = interfaceName.substr(kInterfacePrefixChars);
    const size_t classMark = id.rfind(L'#');
    if (classMark != std::wstring::npos) {
        id.resize(classMark);
    }
    for (wchar_t& c : id) {
        c = c == L'#' ? L'\\' : AsciiUpper(c);
    }
    return id;
}

std::wstring EnumeratorOf(const std::wstring& instanceId) {
    const size_t slash = instanceId.find(L'\\');
    return slash == std::wstring::npos ? std::wstring() : instanceId.substr(0, slash);
}

bool BeginsWith(TextComparer& compare, const std::wstring& instanceId, const wchar_t* pattern) {
    const std::wstring expected(pattern);
    return instanceId.size() >= expected.size() &&
           compare.EqualIgnoreCase(instanceId.substr(0, expected.size()), expected);
}

bool IsDriveNode(TextComparer& compare, const std::wstring& instanceId) {
    return BeginsWith(compare, instanceId, kDriveNodePattern1180) ||
           BeginsWith(compare, instanceId, kDriveNodePattern1181);
}

bool IsUnlockedDiskNode(TextComparer& compare, const std::wstring& instanceId) {
    return BeginsWith(compare, instanceId, kDiskNodePatternKx7) ||
           BeginsWith(compare, instanceId, kDiskNodePatternKx7Fips);
}

void TrackDriveNodes(TextComparer& compare, DriveNodeTracking& tracking,
                     const std::wstring& instanceId, DeviceEvent event) {
    if (IsDriveNode(compare, instanceId)) {
        const size_t slash = instanceId.rfind(L'\\');
        const bool hasSerial = slash != std::wstring::npos && slash > 0;
        if (event == DeviceEvent::kArrival) {
            tracking.OnDriveNodeArrival(hasSerial,
                                        hasSerial ? instanceId.substr(slash + 1) : std::wstring());
        } else {
            tracking.OnDriveNodeRemoval(hasSerial);
        }
    } else if (IsUnlockedDiskNode(compare, instanceId)) {
        if (event == DeviceEvent::kArrival) {
            tracking.OnUnlockedDiskArrival();
        } else {
            tracking.OnUnlockedDiskRemoval();
        }
    }
}

}  // namespace kx7
