// The device tree of the main window and the tracking of device arrivals and removals that
// starts connect passes. Every device-interface notification is logged; those of a KX7's USB
// node or of its unlocked disk also move the counters and requests the connect worker waits on.
// Runs on the user-interface thread, one notification at a time.
#pragma once

#include <cstdint>
#include <string>

#include "connector/devtree/device_info.h"
#include "connector/devtree/tree_control.h"
#include "connector/platform/interface_class.h"
#include "connector/platform/system_message.h"

namespace kx7 {

enum class DeviceEvent : uint8_t {
    kArrival,
    kRemoval,
};

// The connector's side of the tracking: what a KX7's nodes coming and going mean to the worker.
class DriveNodeTracking {
  public:
    virtual ~DriveNodeTracking() = default;
    // A KX7's USB device node arrived. With hasSerial, serial is the text after the instance
    // ID's last backslash, which may be empty (the empty serial is then shown); without it the
    // ID has no such backslash and the serial shown is left alone.
    virtual void OnDriveNodeArrival(bool hasSerial, const std::wstring& serial) = 0;
    virtual void OnDriveNodeRemoval(bool hasSerial) = 0;
    // A KX7's unlocked mass-storage disk came or went.
    virtual void OnUnlockedDiskArrival() = 0;
    virtual void OnUnlockedDiskRemoval() = 0;
};

// The window's parts that the tracking writes to besides the tree.
class DeviceTreeUi {
  public:
    virtual ~DeviceTreeUi() = default;
    // The whole text of the log edit, and its replacement.
    virtual std::wstring GetLogEditText() = 0;
    virtual void SetLogEditText(const std::wstring& text) = 0;
    // A modal box with the exclamation icon; returns once dismissed.
    virtual void ShowError(const std::wstring& text) = 0;
};

// The platform's case-insensitive comparison of two texts of equal length.
class TextComparer {
  public:
    virtual ~TextComparer() = default;
    virtual bool EqualIgnoreCase(const std::wstring& a, const std::wstring& b) = 0;
};

// Compares ASCII letters without regard to case and everything else exactly; what the patterns
// and instance IDs here consist of. Used where the platform's comparison is not at hand.
class AsciiTextComparer final : public TextComparer {
  public:
    bool EqualIgnoreCase(const std::wstring& a, const std::wstring& b) override;
};

// The platform's comparison in the system's default locale; only the Win32 build provides it.
TextComparer& SystemTextComparer();

extern const wchar_t kDriveNodePattern1180[];    // "USB\VID_6B2F&PID_1180"
extern const wchar_t kDriveNodePattern1181[];    // "USB\VID_6B2F&PID_1181"
extern const wchar_t kDiskNodePatternKx7[];      // "USBSTOR\DISK&VEN_SVI&PROD_STONEVAULT_KX7"
extern const wchar_t kDiskNodePatternKx7Fips[];  // "USBSTOR\DISK&VEN_SVI&PROD_KX7FIPS"

// {4D36E966-E325-11CE-BFC1-08002BE10318}: the setup class whose image the root item shows.
constexpr InterfaceGuid kGuidDevclassComputer = {
    0x4D36E966, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// The interface classes whose arrivals and removals the main window asks to be told of, in the
// order it registers them: USB devices, disks, human interface devices, network adapters. The
// CD-ROM class is not among them, so a locked drive's virtual CD-ROM arrives unannounced.
constexpr InterfaceGuid kNotificationClasses[] = {
    {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}},
    {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}},
    {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}},
    {0xAD498944, 0x762F, 0x11D0, {0x8D, 0xCB, 0x00, 0xC0, 0x4F, 0xC3, 0x35, 0x8C}},
};
bool IsNotificationClass(const InterfaceGuid& interfaceClass);

// \\?\USB#VID_6B2F&PID_1180#0123#{class} gives USB\VID_6B2F&PID_1180\0123: the prefix skipped,
// the class part cut at the last "#", the other "#" turned into "\", upper case. A name without
// any "#" keeps all of its text after the prefix.
std::wstring InstanceIdFromInterfaceName(const std::wstring& interfaceName);
// The part of the instance ID before its first "\", or empty when there is none.
std::wstring EnumeratorOf(const std::wstring& instanceId);
// Whether the instance ID begins with the pattern: at least as long, and its first characters
// equal the pattern's without regard to case.
bool BeginsWith(TextComparer& compare, const std::wstring& instanceId, const wchar_t* pattern);
bool IsDriveNode(TextComparer& compare, const std::wstring& instanceId);
bool IsUnlockedDiskNode(TextComparer& compare, const std::wstring& instanceId);

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
    void TrackDriveNodes(const std::wstring& instanceId, DeviceEvent event);
    void UpdateTree(DeviceInfoSet& set, const std::wstring& instanceId, DeviceEvent event);
    // Deletes a class node with its data once its last device has gone.
    void DeleteClassNodeIfEmpty(TreeItem classNode);

    DeviceTreeServices s_;
    TreeItem m_hRootItem = 0;
};

}  // namespace kx7
