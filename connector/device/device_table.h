// The KX7 drives found attached, as the connect worker reaches them: twenty slots held as
// parallel arrays, refilled from slot 0 by every discovery and never cleared in between.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "connector/device/device_interfaces.h"
#include "connector/device/scsi_pass_through.h"
#include "connector/platform/clock.h"
#include "connector/platform/code_page.h"
#include "connector/platform/registry.h"

namespace kx7 {

constexpr size_t kDeviceTableSlots = 20;
constexpr size_t kDevicePathChars = 260;  // terminator included
constexpr size_t kDriveIdBytes = 17;      // 16 identifier bytes and a zero byte that stays zero

constexpr uint16_t kKx7ProductId = 0x1180;
constexpr uint16_t kKx7FipsProductId = 0x1181;

constexpr uint8_t kInterfaceKindCdrom = 0;  // a locked drive's virtual CD-ROM
constexpr uint8_t kInterfaceKindDisk = 1;   // an unlocked drive's own disk

struct DeviceTable {
    wchar_t devicePath[kDeviceTableSlots][kDevicePathChars];
    uint8_t interfaceKind[kDeviceTableSlots];
    uint8_t driveId[kDeviceTableSlots][kDriveIdBytes];
    uint8_t firmwareMajor[kDeviceTableSlots];
    uint8_t firmwareMinor[kDeviceTableSlots];
    // Which model answered (0x1180 or its FIPS sibling 0x1181), for the audit trail.
    uint16_t productId[kDeviceTableSlots];
    int32_t mode[kDeviceTableSlots];
};

// What discovery needs from the platform.
// Held while discovery talks to the candidate at path, so that no other server talks to the
// drive meanwhile; null when the drive cannot be had now, which leaves it out of this pass.
using CandidateTurn = std::function<std::shared_ptr<void>(const std::wstring& path)>;

struct DiscoveryContext {
    DeviceInterfaces& interfaces;
    Clock& clock;
    Registry& registry;
    AnsiCodePage& codePage;
    // Empty: the candidates are talked to without taking a turn.
    CandidateTurn takeTurn = nullptr;
};

// Refills the table from slot 0 with the admitted drives of the interface class and reads the
// "Mode" of every admitted CD-ROM slot; returns the number admitted (0 to 20). When the list of
// interfaces cannot be had, returns 0 and leaves the table as it was.
int DiscoverDrives(DiscoveryContext& context, const InterfaceGuid& interfaceClass,
                   DeviceTable* table);

// Identifies one candidate; on the way it writes the firmware bytes and, once the vendor and
// product ID fit, the identifier into the slot. True when the drive is a KX7 that answered.
bool ReadDriveInfo(ScsiPassThrough& drive, Clock& clock, DeviceTable* table, size_t slot);

}  // namespace kx7
