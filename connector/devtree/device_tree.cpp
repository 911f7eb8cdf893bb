#include "connector/devtree/device_tree.h"

#include <memory>

namespace kx7 {

namespace {

constexpr uint32_t kDeviceInfoDataSize = 28;
const wchar_t kUnknownDevice[] = L"Unknown";
const wchar_t kClassDevsFailed[] = L"SetupDiGetClassDevs(): ";

// Item data of a class node: its setup class, on the heap for as long as the node lives.
const InterfaceGuid* ClassOf(TreeControl& tree, TreeItem node) {
    return reinterpret_cast<const InterfaceGuid*>(tree.GetItemData(node));
}
// Item data of a device node: its instance ID.
const std::wstring* InstanceIdOf(TreeControl& tree, TreeItem node) {
    return reinterpret_cast<const std::wstring*>(tree.GetItemData(node));
}

}  // namespace

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
    TrackDriveNodes(s_.compare, s_.tracking, instanceId, event);
    UpdateTree(*set, instanceId, event);
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
