#include "connector/platform/registration.h"

#include "connector/platform/reg_values.h"

namespace kx7 {

const wchar_t kAgentKeyPath[] = L"SOFTWARE\\Stonevault\\KX7EntryPCAgent";
const wchar_t kRecordKeyName[] = L"PCInfo";

namespace {

constexpr size_t kDriveIdentifierSize = 16;

}  // namespace

std::wstring RecordKeyPath() {
    std::wstring path = kAgentKeyPath;
    path += L'\\';
    path += kRecordKeyName;
    return path;
}

std::wstring DriveBindingKeyPath(AnsiCodePage& codePage, const uint8_t identifier[16]) {
    // Bounded to the identifier's 16 bytes even when it holds no zero byte.
    return DriveBindingKeyPath(
        codePage.ToWide(reinterpret_cast<const char*>(identifier), kDriveIdentifierSize));
}

std::wstring DriveBindingKeyPath(const std::wstring& identifier) {
    std::wstring path = kAgentKeyPath;
    path += L'\\';
    path += identifier;
    path += L'\\';
    return path;
}

uint32_t ReadDriveBindingMask(Registry& registry, const std::wstring& bindingKeyPath) {
    // The read's own failure codes are negative too, so every unusable value lands on 0.
    const int32_t mode = ReadRegDword(registry, bindingKeyPath, L"Mode");
    return mode >= 0 ? static_cast<uint32_t>(mode) : 0;
}

}  // namespace kx7
