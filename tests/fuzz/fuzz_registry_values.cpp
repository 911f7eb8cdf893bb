// Registry values as another program or the user may have left them, any type and any bytes,
// through the acceptance rules of ReadRegDword and ReadRegString. The input is the type
// (4 bytes, little-endian) followed by the value's data.
#include <cstdint>
#include <string>
#include <vector>

#include "connector/platform/reg_values.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

const wchar_t kKey[] = L"SOFTWARE\\Stonevault\\KX7EntryPCAgent\\PCInfo";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kx7;
    const auto [type, value] = fuzz::ReadTypedValue(data, size);

    test::FakeRegistry registry;
    registry.SetRaw(RegRoot::kCurrentUser, kKey, L"Value", type, value);

    const int32_t dword = ReadRegDword(registry, kKey, L"Value");
    if (type == kRegDword && value.size() == 4) {
        const uint32_t stored =
            value[0] | value[1] << 8 | value[2] << 16 | static_cast<uint32_t>(value[3]) << 24;
        KX7_FUZZ_CHECK(static_cast<uint32_t>(dword) == stored);
    } else {
        KX7_FUZZ_CHECK(dword == kRegValueUnreadable);
    }

    // A string is taken when it is text, fits the 1023-unit buffer and its last whole unit is
    // the terminator; it reads up to its first NUL.
    const std::wstring untouched = L"left as it was";
    std::wstring text = untouched;
    const int result = ReadRegString(registry, kKey, L"Value", &text);
    const size_t units = value.size() / 2;
    const auto unit = [&bytes = value](size_t i) {
        return static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    };
    const bool acceptable = (type == kRegSz || type == kRegExpandSz) &&
                            value.size() <= kRegStringBytes && (units == 0 || unit(units - 1) == 0);
    if (acceptable) {
        KX7_FUZZ_CHECK(result == 0);
        std::wstring expected;
        for (size_t i = 0; i < units && unit(i) != 0; ++i) {
            expected.push_back(static_cast<wchar_t>(unit(i)));
        }
        KX7_FUZZ_CHECK(text == expected);
        KX7_FUZZ_CHECK(text.size() < kRegStringChars);
    } else {
        KX7_FUZZ_CHECK(result == kRegValueUnreadable);
        KX7_FUZZ_CHECK(text == untouched);
    }

    KX7_FUZZ_CHECK(ReadRegDword(registry, kKey, L"Missing") == kRegValueUnreadable);
    KX7_FUZZ_CHECK(ReadRegString(registry, L"SOFTWARE\\Nowhere", L"Value", &text) ==
                   kRegKeyUnavailable);
    KX7_FUZZ_CHECK(registry.openHandles() == 0);
    return 0;
}
