#include "connector/hostid/product_key.h"

#include <algorithm>
#include <vector>

namespace kx7 {

const wchar_t kProductKeyPath[] = L"SOFTWARE\\MICROSOFT\\Windows NT\\CurrentVersion";
const wchar_t kProductKeyValue[] = L"DigitalProductId";

namespace {

const wchar_t kKeyAlphabet[] = L"BCDFGHJKMPQRTVWXY2346789";
constexpr uint32_t kKeyBase = 24;
constexpr int kKeyDigits = 25;
constexpr int kGroupLength = 5;

}  // namespace

std::wstring DecodeProductKey(const std::array<uint8_t, kEncodedKeySize>& encoded) {
    std::array<uint8_t, kEncodedKeySize> number = encoded;
    std::wstring text;
    text.reserve(kProductKeyTextLength);
    // Digits come out least significant first; the text is built backwards and turned round at
    // the end, so a dash goes after every fifth digit except the last group.
    for (int i = kKeyDigits - 1; i >= 0; --i) {
        uint32_t remainder = 0;
        for (size_t j = kEncodedKeySize; j-- > 0;) {
            const uint32_t value = remainder * 256 + number[j];
            number[j] = static_cast<uint8_t>(value / kKeyBase);
            remainder = value % kKeyBase;
        }
        text.push_back(kKeyAlphabet[remainder]);
        if (i % kGroupLength == 0 && i != 0) {
            text.push_back(L'-');
        }
    }
    std::reverse(text.begin(), text.end());
    return text;
}

bool GetWindowsKey(Registry& registry, std::wstring* key) {
    std::array<uint8_t, kEncodedKeySize> encoded{};
    {
        ScopedRegKey regKey(registry);
        if (registry.OpenKey(RegRoot::kLocalMachine, kProductKeyPath,
                             kKeyQueryValue | kKeyWow64_64Key, regKey.out()) != kErrorSuccess) {
            return false;
        }
        // Zeroed first: a value shorter than the buffer leaves zeros where the key would be,
        // and those decode like any other bytes.
        std::vector<uint8_t> buffer(kDigitalProductIdSize, 0);
        uint32_t size = kDigitalProductIdSize;
        if (registry.QueryValue(regKey.get(), kProductKeyValue, nullptr, buffer.data(), &size) !=
            kErrorSuccess) {
            return false;
        }
        std::copy_n(buffer.begin() + kEncodedKeyOffset, kEncodedKeySize, encoded.begin());
    }
    *key = DecodeProductKey(encoded);
    return true;
}

}  // namespace kx7
