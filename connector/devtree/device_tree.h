// The device tree of the main window: the computer at the root, a node per setup class below
// it, a node per device below its class, kept up to date from the device-interface
// notifications. Every notification is logged; those of a KX7 go on to the device tracking
// (device_tracking.h) before the tree is updated. Runs on the user-interface thread, one
// notification at a time.
#pragma once

#include <cstddef>
#include <string>

#include "connector/devtree/device_info.h"
#include "connector/devtree/device_tracking.h"
#include "connector/devtree/tree_control.h"
#include "connector/platform/interface_class.h"
#include "connector/platform/system_message.h"

namespace kx7 {

// The window's parts that the tree's upkeep writes to besides the tree.
class DeviceTreeUi {
  public:
    virtual ~DeviceTreeUi() = default;
    // The whole text of the log edit, and its replacement.
    virtual std::wstring GetLogEditText() = 0;
    virtual void SetLogEditText(const std::wstring& text) = 0;
    // A modal box with the exclamation icon; returns once dismissed.
    virtual void ShowError(const std::wstring& text) = 0;
};

// {4D36E966-E325-11CE-BFC1-08002BE10318}: the setup class whose image the root item shows.
constexpr InterfaceGuid kGuidDevclassComputer = {
    0x4D36E966, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// The most the log keeps. Every event adds a line for as long as the program runs, and each
// line rewrites the whole text, so the oldest lines go once the log is longer than this.
constexpr size_t kMaxLogChars = 30000;
// The log with one more line, the oldest whole lines dropped while it is longer than maxChars.
std::wstring AppendLogLine(const std::wstring& log, const std::wstring& line,
                           size_t maxChars = kMaxLogChars);

struct DeviceTreeServices {
    TreeControl& tree;
    DeviceInfoSource& devices;
    DeviceTreeUi& ui;
    DriveNodeTracking& tracking;
    TextComparer& compare;
    SystemMessages& messages;
};

class DeviceTree {
  public:
    explicit DeviceTree(DeviceTreeServices services) : s_(services) {}
    ~DeviceTree();
    DeviceTree(const DeviceTree&) = delete;
    DeviceTree& operator=(const DeviceTree&) = delete;

    // The root item, made by the window's initialisation; devices go below it.
    void SetRootItem(TreeItem root) { m_hRootItem = root; }
    TreeItem rootItem() const { return m_hRootItem; }

    // One device-interface arrival or removal, named as the notification names it.
    void UpdateDeviceTree(const std::wstring& interfaceName, DeviceEvent event);

    bool FindDeviceByInstanceId(DeviceInfoSet& set, const std::wstring& instanceId,
                                DeviceInfoData* data);
    // The root's child for the class; on arrival a new one when there is none yet.
    TreeItem FindOrAddClassNode(const InterfaceGuid& classGuid, DeviceEvent event);
    std::wstring GetClassDescription(const InterfaceGuid& classGuid);

    // Frees the item data of every node and removes them, leaving the root alone. Runs when the
    // tree goes away, since the control would drop its items without their data.
    void ReleaseAll();

  private:
    void UpdateTree(DeviceInfoSet& set, const std::wstring& instanceId, DeviceEvent event);
    // Deletes a class node with its data once its last device has gone.
    void DeleteClassNodeIfEmpty(TreeItem classNode);

    DeviceTreeServices s_;
    TreeItem m_hRootItem = 0;
};

}  // namespace kx7
