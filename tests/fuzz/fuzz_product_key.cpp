// The operating system's "DigitalProductId" value, any type and any bytes, into the product key
// text. The input is the type (4 bytes, little-endian) followed by the value's data.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "connector/hostid/product_key.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

// The same decoding done another way: the 15 bytes as one 120-bit number in a 128-bit integer,
// its 25 lowest base-24 digits, five to a group.
std::wstring ExpectedKey(const std::array<uint8_t, kx7::kEncodedKeySize>& encoded) {
    static const wchar_t kSymbols[] = L"BCDFGHJKMPQRTVWXY2346789";
    unsigned __int128 number = 0;
    for (size_t i = encoded.size(); i-- > 0;) {
        number = number << 8 | encoded[i];
    }
    std::wstring digits(25, L'?');
    for (size_t i = digits.size(); i-- > 0;) {
        digits[i] = kSymbols[static_cast<size_t>(number % 24)];
        number /= 24;
    }
    std::wstring key;
    for (size_t group = 0; group < 5; ++group) {
        if (group > 0) {
            key.push_back(L'-');
        }
        key += digits.substr(5 * group, 5);
    }
    return key;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kx7;
    const auto [type, value] = fuzz::ReadTypedValue(data, size);

    std::array<uint8_t, kEncodedKeySize> encoded{};
    for (size_t i = 0; i < encoded.size() && kEncodedKeyOffset + i < value.size(); ++i) {
        encoded[i] = value[kEncodedKeyOffset + i];
    }
    const std::wstring decoded = DecodeProductKey(encoded);
    KX7_FUZZ_CHECK(decoded.size() == kProductKeyTextLength);
    KX7_FUZZ_CHECK(decoded == ExpectedKey(encoded));

    test::FakeRegistry registry;
    registry.SetRaw(RegRoot::kLocalMachine, kProductKeyPath, kProductKeyValue, type, value);
    const std::wstring untouched = L"left as it was";
    std::wstring key = untouched;
    const bool read = GetWindowsKey(registry, &key);
    // Whatever its type, a value that fits the buffer is read; a shorter one leaves zeros where
    // the key would be.
    KX7_FUZZ_CHECK(read == (value.size() <= kDigitalProductIdSize));
    KX7_FUZZ_CHECK(key == (read ? decoded : untouched));
    KX7_FUZZ_CHECK(registry.openHandles() == 0);
    return 0;
}
