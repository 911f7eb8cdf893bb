// What a device-interface notification names, and what it means to the connect worker: the
// instance ID taken from the interface name, the patterns of a KX7's USB node and of its
// unlocked disk, and the tracking through which those nodes coming and going move the counters
// and requests the worker waits on. Runs on the user-interface thread, one notification at a
// time.
#pragma once

#include <cstdint>
#include <string>

#include "connector/platform/interface_class.h"

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

// Tells the tracking when the instance ID is a KX7's USB node or its unlocked disk; any other
// device changes nothing.
void TrackDriveNodes(TextComparer& compare, DriveNodeTracking& tracking,
                     const std::wstring& instanceId, DeviceEvent event);

}  // namespace kx7
