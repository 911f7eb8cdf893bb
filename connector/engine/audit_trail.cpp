#include "connector/engine/audit_trail.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "connector/device/device_table.h"

namespace kx7 {

namespace {

std::wstring YesNo(bool value) {
    return value ? L"yes" : L"no";
}

std::wstring ProductName(uint16_t productId) {
    if (productId == kKx7ProductId) {
        return L"KX7";
    }
    if (productId == kKx7FipsProductId) {
        return L"KX7 FIPS";
    }
    wchar_t text[16] = {};
    std::swprintf(text, sizeof(text) / sizeof(text[0]), L"0x%04X", productId);
    return text;
}

// An event that names a drive shows where the serial was not known, rather than nothing.
std::wstring SerialText(const std::wstring& serial) {
    return serial.empty() ? L"(unknown)" : serial;
}

// Whatever is hidden of a value, whatever its length, so that not even the length is told.
constexpr wchar_t kHidden[] = L"****";

// value as groups of groupLength characters joined by "-", as the key and a MAC address are
// written.
bool IsGrouped(const std::wstring& value, size_t groups, size_t groupLength) {
    if (value.size() != groups * (groupLength + 1) - 1) {
        return false;
    }
    for (size_t i = 0; i < value.size(); ++i) {
        if ((value[i] == L'-') != ((i + 1) % (groupLength + 1) == 0)) {
            return false;
        }
    }
    return true;
}

// The last kept groups of a grouped value, every other group as X's.
std::wstring GroupedTail(const std::wstring& value, size_t groups, size_t groupLength,
                         size_t kept) {
    std::wstring text;
    for (size_t g = kept; g < groups; ++g) {
        text += std::wstring(groupLength, L'X') + L"-";
    }
    return text + value.substr((groups - kept) * (groupLength + 1));
}

// The items are told apart by the names the mismatch gives them; a name not known here shows
// nothing of its values.
std::wstring MaskedValue(const std::wstring& item, const std::wstring& value) {
    if (value.empty()) {
        return L"(empty)";
    }
    if (item == L"OS Key" && IsGrouped(value, 5, 5)) {
        return GroupedTail(value, 5, 5, 1);
    }
    if (item == L"MAC ID" && IsGrouped(value, 6, 2)) {
        return GroupedTail(value, 6, 2, 2);
    }
    if (item == L"Disk Serial" || item == L"Computer Name") {
        // Never more than half: the last four of a five-character name would be nearly all of it.
        const size_t kept = std::min<size_t>(4, value.size() / 2);
        return kHidden + value.substr(value.size() - kept);
    }
    return kHidden;
}

}  // namespace

void AuditTrail::Report(EventType type, uint32_t eventId, std::vector<std::wstring> strings) {
    if (log_ != nullptr) {
        log_->Report(type, eventId, strings);
    }
}

void AuditTrail::ConnectorStarted(const std::wstring& version, bool hideMode) {
    Report(EventType::kInformation, kEventConnectorStarted, {version, YesNo(hideMode)});
}

void AuditTrail::ConnectorEnded(const std::wstring& version, bool hideMode) {
    Report(EventType::kInformation, kEventConnectorEnded, {version, YesNo(hideMode)});
}

void AuditTrail::DriveUnlocked(const std::wstring& serial, uint16_t productId,
                               uint8_t firmwareMajor, uint8_t firmwareMinor, uint32_t bindingMask) {
    wchar_t mask[16] = {};
    std::swprintf(mask, sizeof(mask) / sizeof(mask[0]), L"0x%02X", bindingMask);
    Report(EventType::kAuditSuccess, kEventDriveUnlocked,
           {SerialText(serial), ProductName(productId),
            std::to_wstring(firmwareMajor) + L"." + std::to_wstring(firmwareMinor), mask});
}

void AuditTrail::DriveRefused(const std::wstring& serial, uint16_t productId, uint8_t code,
                              const std::wstring& text) {
    Report(EventType::kWarning, kEventDriveRefused,
           {SerialText(serial), ProductName(productId), std::to_wstring(code), text});
}

void AuditTrail::IdentityChanged(const std::wstring& serial, const std::wstring& item,
                                 const std::wstring& entry, const std::wstring& current) {
    Report(EventType::kWarning, kEventIdentityChanged,
           {SerialText(serial), item, MaskedValue(item, entry), MaskedValue(item, current)});
}

void AuditTrail::DriveNotServed(uint32_t eventId, const std::wstring& serial,
                                const std::wstring& text) {
    Report(EventType::kWarning, eventId, {SerialText(serial), text});
}

void AuditTrail::DriveTurnNotTaken(const std::wstring& serial, uint32_t waitedMs) {
    Report(EventType::kWarning, kEventTurnNotTaken,
           {SerialText(serial), std::to_wstring(waitedMs / 1000)});
}

void AuditTrail::CleanupStarted(const std::wstring& toolPath) {
    Report(EventType::kInformation, kEventCleanupStarted, {toolPath});
}

void AuditTrail::ServiceStarted(const std::wstring& version) {
    Report(EventType::kInformation, kEventServiceStarted, {version});
}

void AuditTrail::ServiceEnded(const std::wstring& version) {
    Report(EventType::kInformation, kEventServiceEnded, {version});
}

void AuditTrail::ServiceNotStarted(const std::wstring& step, const std::wstring& reason) {
    Report(EventType::kWarning, kEventServiceNotStarted, {step, reason});
}

void AuditTrail::NoConsoleUser() {
    Report(EventType::kWarning, kEventNoConsoleUser, {});
}

}  // namespace kx7
