// Discovery trusts the interface path to say what a device is (a KX7's virtual CD-ROM or its
// disk) and the drive's own identity reply to say that it really is one. Only drives that pass
// both and answer INQUIRY take a slot.
#include "connector/device/device_table.h"

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "connector/device/vendor_commands.h"
#include "connector/platform/registration.h"

namespace kx7 {
namespace {

constexpr uint16_t kKx7VendorId = 0x6B2F;

// The path components are matched as the platform spells them, case and all. A component at
// position 0 does not count: a real interface path always starts with its "\\?\" prefix.
bool FoundPastStart(const std::wstring& path, const wchar_t* component) {
    const size_t at = path.find(component);
    return at != std::wstring::npos && at > 0;
}

// The kind of KX7 interface the path names in this class, or false when it names none.
bool CandidateKind(const std::wstring& path, const InterfaceGuid& interfaceClass, uint8_t* kind) {
    if (path.find(L"usbstor") == std::wstring::npos) {
        return false;
    }
    const bool vendor = FoundPastStart(path, L"ven_svi");
    if (interfaceClass == kGuidDevinterfaceDisk) {
        if (vendor && (FoundPastStart(path, L"prod_stonevault_kx7") ||
                       FoundPastStart(path, L"prod_kx7fips"))) {
            *kind = kInterfaceKindDisk;
            return true;
        }
        return false;
    }
    if (interfaceClass == kGuidDevinterfaceCdrom) {
        if (vendor && FoundPastStart(path, L"prod_virtual_cd_drive")) {
            *kind = kInterfaceKindCdrom;
            return true;
        }
    }
    return false;
}

}  // namespace

bool ReadDriveInfo(ScsiPassThrough& drive, Clock& clock, DeviceTable* table, size_t slot) {
    if (table == nullptr || slot >= kDeviceTableSlots) {
        return false;
    }
    std::array<uint8_t, kIdentityLength> reply{};
    if (!ReadIdentity(drive, clock, &reply)) {
        return false;
    }
    const DriveIdentity identity = ParseDriveIdentity(reply);
    // The firmware bytes land in the slot before the drive is known to be a KX7; a rejected
    // candidate leaves them for the next one to overwrite.
    table->firmwareMajor[slot] = identity.firmwareMajor;
    table->firmwareMinor[slot] = identity.firmwareMinor;
    if (identity.vendorId != kKx7VendorId ||
        (identity.productId != kKx7ProductId && identity.productId != kKx7FipsProductId)) {
        return false;
    }
    // Bytes 0-15 only: byte 16 stays the zero that ends the identifier as text.
    std::memcpy(table->driveId[slot], identity.driveId.data(), identity.driveId.size());
    table->productId[slot] = identity.productId;
    std::array<uint8_t, kInquiryLength> inquiry{};
    return Inquiry(drive, clock, &inquiry);
}

int DiscoverDrives(DiscoveryContext& context, const InterfaceGuid& interfaceClass,
                   DeviceTable* table) {
    if (table == nullptr) {
        return 0;
    }
    std::vector<std::wstring> paths;
    if (!context.interfaces.ListPresent(interfaceClass, &paths)) {
        return 0;
    }

    size_t admitted = 0;
    for (const std::wstring& path : paths) {
        // With every slot taken there is nowhere to put another drive, so the rest of the
        // list is not even opened; a connected drive beyond the twentieth waits for a slot.
        if (admitted == kDeviceTableSlots) {
            break;
        }
        uint8_t kind = kInterfaceKindCdrom;
        if (!CandidateKind(path, interfaceClass, &kind)) {
            continue;
        }
        // The worker opens the drive again by the stored path, so a path that does not fit
        // the slot whole is of no use: a cut-off path would open nothing, or another device.
        // Such a drive is left out before anything is sent to it.
        if (path.size() >= kDevicePathChars || path.find(L'\0') != std::wstring::npos) {
            continue;
        }
        std::shared_ptr<void> turn;
        if (context.takeTurn && !(turn = context.takeTurn(path))) {
            continue;
        }
        std::unique_ptr<ScsiPassThrough> drive = context.interfaces.Open(path);
        if (drive == nullptr) {
            continue;
        }
        if (ReadDriveInfo(*drive, context.clock, table, admitted)) {
            wchar_t* slotPath = table->devicePath[admitted];
            path.copy(slotPath, path.size());
            slotPath[path.size()] = L'\0';
            table->interfaceKind[admitted] = kind;
            ++admitted;
        }
        // The handle is closed here, and the turn given back, before the next candidate.
    }

    for (size_t slot = 0; slot < admitted; ++slot) {
        table->mode[slot] = 0;
        if (table->interfaceKind[slot] != kInterfaceKindCdrom) {
            continue;
        }
        // An unusable value leaves the drive at 0: this computer is not registered for it.
        table->mode[slot] = static_cast<int32_t>(ReadDriveBindingMask(
            context.registry, DriveBindingKeyPath(context.codePage, table->driveId[slot])));
    }
    return static_cast<int>(admitted);
}

}  // namespace kx7
