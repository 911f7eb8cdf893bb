#include "connector/engine/worker/drive_turn_lock.h"

#include <cstddef>

namespace kx7 {

namespace {

constexpr size_t kMaxSerialChars = 64;

bool KeptAsIs(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') ||
           c == L'-' || c == L'_' || c == L'.';
}

}  // namespace

std::wstring DriveTurnLockName(const std::wstring& serial) {
    std::wstring name = L"Global\\KX7HostPair.Drive.";
    for (size_t i = 0; i < serial.size() && i < kMaxSerialChars; ++i) {
        name += KeptAsIs(serial[i]) ? serial[i] : L'_';
    }
    return name;
}

}  // namespace kx7
