#include "connector/engine/audit_trail.h"

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
    Report(EventType::kWarning, kEventIdentityChanged, {SerialText(serial), item, entry, current});
}

void AuditTrail::DriveNotServed(uint32_t eventId, const std::wstring& serial,
                                const std::wstring& text) {
    Report(EventType::kWarning, eventId, {SerialText(serial), text});
}

void AuditTrail::CleanupStarted(const std::wstring& toolPath) {
    Report(EventType::kInformation, kEventCleanupStarted, {toolPath});
}

}  // namespace kx7
