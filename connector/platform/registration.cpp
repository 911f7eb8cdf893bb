#include "connector/platform/registration.h"

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
    std::wstring path = kAgentKeyPath;
    path += L'\\';
    // Bounded to the identifier's 16 bytes even when it holds no zero byte.
    path += codePage.ToWide(reinterpret_cast<const char*>(identifier), kDriveIdentifierSize);
    path += L'\\';
    return path;
}

}  // namespace kx7
