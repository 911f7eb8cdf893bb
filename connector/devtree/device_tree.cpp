#include "connector/devtree/device_tree.h"

#include <memory>

namespace kx7 {

// USB\VID_%04X&PID_%04X with the drive's vendor 0x6B2F and its two product IDs, and
// USBSTOR\DISK&VEN_%s&PROD_%s with "SVI" and the two product names its disk reports.
const wchar_t kDriveNodePattern1180[] = L"USB\\VID_6B2F&PID_1180";
const wchar_t kDriveNodePattern1181[] = L"USB\\VID_6B2F&PID_1181";
const wchar_t kDiskNodePatternKx7[] = L"USBSTOR\\DISK&VEN_SVI&PROD_STONEVAULT_KX7";
const wchar_t kDiskNodePatternKx7Fips[] = L"USBSTOR\\DISK&VEN_SVI&PROD_KX7FIPS";

namespace {

constexpr size_t kInterfacePrefixChars = 4;  // "\\?\"
constexpr uint32_t kDeviceInfoDataSize = 28;
const wchar_t kUnknownDevice[] = L"Unknown";
const wchar_t kClassDevsFailed[] = L"SetupDiGetClassDevs(): ";

wchar_t AsciiUpper(wchar_t c) {
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

// Item data of a class node: its setup class, on the heap for as long as the node lives.
const InterfaceGuid* ClassOf(TreeControl& tree, TreeItem node) {
    return reinterpret_cast<const InterfaceGuid*>(tree.GetItemData(node));
}
// Item data of a device node: its instance ID.
const std::wstring* InstanceIdOf(TreeControl& tree, TreeItem node) {
    return reinterpret_cast<const std::wstring*>(tree.GetItemData(node));
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

std::wstring AppendLogLine(const std::wstring& log, const std::wstring& line, size_t maxChars) {
    std::wstring text = log + line;
    if (text.size() <= maxChars) {
        return text;
    }
    // Whole lines only: the first kept line starts after a line break.
    size_t start = text.size() - maxChars;
    const size_t lineEnd = text.find(L'\n', start - 1);
    start = lineEnd == std::wstring::npos ? text.size() - line.size() : lineEnd + 1;
    if (start > text.size() - line.size()) {
        start = text.size() - line.size();  // a single line longer than the limit stays whole
    }
    return text.substr(start);
}

DeviceTree::~DeviceTree() = default;

void DeviceTree::UpdateDeviceTree(const std::wstring& interfaceName, DeviceEvent event) {
    const std::wstring instanceId = InstanceIdFromInterfaceName(interfaceName);
    const std::wstring enumerator = EnumeratorOf(instanceId);

    const wchar_t* verb = event == DeviceEvent::kArrival ? L"Adding " : L"Removing ";
    s_.ui.SetLogEditText(AppendLogLine(s_.ui.GetLogEditText(), verb + instanceId + L"\r\n"));

    // Devices the system enumerates itself are not shown; their interfaces come and go with
    // drivers, not with anything the user plugs in.
    if (enumerator == L"ROOT") {
        return;
    }

    // A removed device is no longer present, so the removal looks among the absent ones too.
    uint32_t error = 0;
    std::unique_ptr<DeviceInfoSet> set =
        s_.devices.GetClassDevs(enumerator, event == DeviceEvent::kArrival, &error);
    if (!set) {
        s_.ui.ShowError(kClassDevsFailed + ErrorCodeText(s_.messages, error));
        return;
    }
    TrackDriveNodes(instanceId, event);
    UpdateTree(*set, instanceId, event);
}

void DeviceTree::TrackDriveNodes(const std::wstring& instanceId, DeviceEvent event) {
    if (IsDriveNode(s_.compare, instanceId)) {
        const size_t slash = instanceId.rfind(L'\\');
        const bool hasSerial = slash != std::wstring::npos && slash > 0;
        if (event == DeviceEvent::kArrival) {
            s_.tracking.OnDriveNodeArrival(
                hasSerial, hasSerial ? instanceId.substr(slash + 1) : std::wstring());
        } else {
            s_.tracking.OnDriveNodeRemoval(hasSerial);
        }
    } else if (IsUnlockedDiskNode(s_.compare, instanceId)) {
        if (event == DeviceEvent::kArrival) {
            s_.tracking.OnUnlockedDiskArrival();
        } else {
            s_.tracking.OnUnlockedDiskRemoval();
        }
    }
}

void DeviceTree::UpdateTree(DeviceInfoSet& set, const std::wstring& instanceId, DeviceEvent event) {
    DeviceInfoData device;
    if (!FindDeviceByInstanceId(set, instanceId, &device)) {
        return;
    }
    std::wstring description;
    if (!set.GetDeviceName(device, DeviceNameProperty::kFriendlyName, &description) &&
        !set.GetDeviceName(device, DeviceNameProperty::kDeviceDescription, &description)) {
        description = kUnknownDevice;
    }
    const TreeItem classNode = FindOrAddClassNode(device.ClassGuid, event);
    if (classNode == 0) {
        return;
    }
    TreeControl& tree = s_.tree;
    for (TreeItem child = tree.GetChildItem(classNode); child != 0;
         child = tree.GetNextSiblingItem(child)) {
        const std::wstring* id = InstanceIdOf(tree, child);
        if (id == nullptr || *id != instanceId) {
            continue;
        }
        if (event == DeviceEvent::kRemoval) {
            tree.DeleteItem(child);
            delete id;
            DeleteClassNodeIfEmpty(classNode);
        }
        return;  // on arrival the device is shown already
    }
    if (event != DeviceEvent::kArrival) {
        return;
    }
    auto id = std::make_unique<std::wstring>(instanceId);
    const TreeItem node =
        tree.InsertItem(classNode, description, s_.devices.GetClassImageIndex(device.ClassGuid),
                        reinterpret_cast<uintptr_t>(id.get()));
    if (node != 0) {
        id.release();  // the node owns it now
        tree.Expand(classNode);
    } else {
        // The class node was made for this device alone; without it, it would stay empty.
        DeleteClassNodeIfEmpty(classNode);
    }
}

void DeviceTree::DeleteClassNodeIfEmpty(TreeItem classNode) {
    TreeControl& tree = s_.tree;
    if (tree.ItemHasChildren(classNode)) {
        return;
    }
    const InterfaceGuid* classGuid = ClassOf(tree, classNode);
    tree.DeleteItem(classNode);
    delete classGuid;
}

bool DeviceTree::FindDeviceByInstanceId(DeviceInfoSet& set, const std::wstring& instanceId,
                                        DeviceInfoData* data) {
    data->cbSize = kDeviceInfoDataSize;
    for (uint32_t index = 0;; ++index) {
        if (!set.EnumDeviceInfo(index, data)) {
            return false;
        }
        std::wstring id;
        // An element whose ID cannot be read ends the search, as the set may be inconsistent.
        if (!set.GetDeviceInstanceId(*data, &id)) {
            return false;
        }
        if (id == instanceId) {
            return true;
        }
    }
}

TreeItem DeviceTree::FindOrAddClassNode(const InterfaceGuid& classGuid, DeviceEvent event) {
    TreeControl& tree = s_.tree;
    if (tree.ItemHasChildren(m_hRootItem)) {
        for (TreeItem node = tree.GetChildItem(m_hRootItem); node != 0;
             node = tree.GetNextSiblingItem(node)) {
            const InterfaceGuid* nodeClass = ClassOf(tree, node);
            if (nodeClass != nullptr && *nodeClass == classGuid) {
                return node;
            }
        }
    }
    if (event != DeviceEvent::kArrival) {
        return 0;
    }
    auto block = std::make_unique<InterfaceGuid>(classGuid);
    const TreeItem node = tree.InsertItem(m_hRootItem, GetClassDescription(classGuid),
                                          s_.devices.GetClassImageIndex(classGuid),
                                          reinterpret_cast<uintptr_t>(block.get()));
    if (node == 0) {
        return 0;
    }
    block.release();  // the node owns it now
    tree.Expand(m_hRootItem);
    return node;
}

std::wstring DeviceTree::GetClassDescription(const InterfaceGuid& classGuid) {
    std::wstring text;
    if (!s_.devices.GetClassDescription(classGuid, &text)) {
        return std::wstring();
    }
    return text;
}

void DeviceTree::ReleaseAll() {
    TreeControl& tree = s_.tree;
    if (m_hRootItem == 0) {
        return;
    }
    for (TreeItem classNode = tree.GetChildItem(m_hRootItem); classNode != 0;
         classNode = tree.GetChildItem(m_hRootItem)) {
        for (TreeItem device = tree.GetChildItem(classNode); device != 0;
             device = tree.GetChildItem(classNode)) {
            const std::wstring* id = InstanceIdOf(tree, device);
            if (!tree.DeleteItem(device)) {
                return;
            }
            delete id;
        }
        const InterfaceGuid* classGuid = ClassOf(tree, classNode);
        if (!tree.DeleteItem(classNode)) {
            return;
        }
        delete classGuid;
    }
}

}  // namespace kx7
