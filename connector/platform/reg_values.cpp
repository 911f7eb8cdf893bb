#include "connector/platform/reg_values.h"

#include <array>
#include <utility>

namespace kx7 {

int32_t ReadRegDword(Registry& registry, const std::wstring& keyPath, const std::wstring& name) {
    ScopedRegKey key(registry);
    if (registry.OpenKey(RegRoot::kCurrentUser, keyPath, kKeyReadWrite, key.out()) !=
        kErrorSuccess) {
        return kRegKeyUnavailable;
    }
    uint8_t data[4] = {};
    uint32_t type = kRegNone;
    uint32_t size = sizeof(data);
    if (registry.QueryValue(key.get(), name, &type, data, &size) != kErrorSuccess ||
        type != kRegDword || size != sizeof(data)) {
        return kRegValueUnreadable;
    }
    const uint32_t value = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                           static_cast<uint32_t>(data[2]) << 16 |
                           static_cast<uint32_t>(data[3]) << 24;
    return static_cast<int32_t>(value);
}

int WriteRegDword(Registry& registry, const std::wstring& keyPath, const std::wstring& name,
                  uint32_t value) {
    ScopedRegKey key(registry);
    if (registry.CreateKey(RegRoot::kCurrentUser, keyPath, kKeyReadWrite, key.out()) !=
        kErrorSuccess) {
        return 0;
    }
    return registry.SetDword(key.get(), name, value) == kErrorSuccess ? 1 : 0;
}

namespace {

// One UTF-16LE code unit of the read buffer. Kept local rather than borrowed from the host-id
// code, which the engine must not depend on.
wchar_t UnitAt(const uint8_t* data, size_t index) {
    return static_cast<wchar_t>(static_cast<uint16_t>(data[2 * index] | data[2 * index + 1] << 8));
}

}  // namespace

int ReadRegString(Registry& registry, const std::wstring& keyPath, const std::wstring& name,
                  std::wstring* dest) {
    ScopedRegKey key(registry);
    if (registry.OpenKey(RegRoot::kCurrentUser, keyPath, kKeyReadWrite, key.out()) !=
        kErrorSuccess) {
        return kRegKeyUnavailable;
    }
    // A byte buffer rather than wchar_t, since the stored text is UTF-16LE whatever the width
    // of wchar_t on the build host.
    std::array<uint8_t, kRegStringBytes> buffer{};
    uint32_t type = kRegNone;
    uint32_t size = kRegStringBytes;
    if (registry.QueryValue(key.get(), name, &type, buffer.data(), &size) != kErrorSuccess ||
        (type != kRegSz && type != kRegExpandSz) || size > kRegStringBytes) {
        return kRegValueUnreadable;
    }
    // Only whole characters count; a stray odd byte at the end is ignored, so the last whole
    // character has to be the terminator. An empty value holds no character at all and reads
    // as the empty string.
    const size_t units = size / 2;
    if (units != 0 && UnitAt(buffer.data(), units - 1) != 0) {
        return kRegValueUnreadable;
    }
    std::wstring text;
    for (size_t i = 0; i < units; ++i) {
        const wchar_t unit = UnitAt(buffer.data(), i);
        if (unit == 0) {
            break;  // as a C string copy would, the text stops at the first NUL
        }
        text.push_back(unit);
    }
    *dest = std::move(text);
    return 0;
}

}  // namespace kx7
