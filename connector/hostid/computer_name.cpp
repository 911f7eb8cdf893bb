#include "connector/hostid/computer_name.h"

#include <array>

namespace kx7 {

const wchar_t kComputerNamePath[] =
    L"SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName";
const wchar_t kComputerNameValue[] = L"ComputerName";

int ReadComputerNameValue(Registry& registry, uint8_t* dest, uint32_t* size) {
    ScopedRegKey key(registry);
    if (registry.OpenKey(RegRoot::kLocalMachine, kComputerNamePath, kKeyQueryValue, key.out()) !=
        kErrorSuccess) {
        return 0;
    }
    // The type is not checked: whatever the value holds is read as text, as the system itself
    // would show it.
    return registry.QueryValue(key.get(), kComputerNameValue, nullptr, dest, size) == kErrorSuccess
               ? 1
               : 0;
}

size_t GetComputerNameText(Registry& registry, std::wstring* name) {
    std::array<uint8_t, kComputerNameBufferSize> buffer;
    buffer.fill(0);
    uint32_t size = kComputerNameQuerySize;
    if (ReadComputerNameValue(registry, buffer.data(), &size) == 1) {
        // The whole zeroed part is scanned rather than only the value's size, so a value stored
        // without terminator ends at the zeros behind it.
        *name = Utf16LeToWide(buffer.data(), kComputerNameZeroedSize);
    }
    return name->size();
}

std::wstring Utf16LeToWide(const uint8_t* data, size_t size) {
    std::wstring text;
    for (size_t i = 0; i + 1 < size; i += 2) {
        const auto unit = static_cast<uint16_t>(data[i] | data[i + 1] << 8);
        if (unit == 0) {
            break;
        }
        text.push_back(static_cast<wchar_t>(unit));
    }
    return text;
}

}  // namespace kx7
