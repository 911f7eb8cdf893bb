// A disk's IDENTIFY answer, any bytes, into the serial text: AtaStringToText over any number of
// words into a buffer of exactly the documented size, and the serial of a whole answer. The
// first byte is the word count; the words follow, little-endian.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "connector/hostid/disk_serial.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

// The characters in reading order, up to the first NUL, without blanks at either end.
std::string ExpectedText(const std::vector<uint16_t>& words) {
    std::string raw;
    for (uint16_t word : words) {
        raw.push_back(static_cast<char>(word >> 8));
        raw.push_back(static_cast<char>(word & 0xFF));
    }
    raw = raw.substr(0, raw.find('\0'));
    const size_t first = raw.find_first_not_of(' ');
    if (first == std::string::npos) {
        return std::string();
    }
    return raw.substr(first, raw.find_last_not_of(' ') - first + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kx7;
    fuzz::ByteReader input(data, size);
    const size_t count = input.Byte();
    std::vector<uint16_t> words(count);
    for (uint16_t& word : words) {
        word = input.U16();
    }
    // Exactly 2 * count + 1 bytes on the heap, so that a byte written past them is caught.
    const size_t bytes = 2 * count + 1;
    std::unique_ptr<char[]> dest(new char[bytes]);
    std::memset(dest.get(), 0x55, bytes);
    AtaStringToText(dest.get(), words.data(), count);
    KX7_FUZZ_CHECK(std::memchr(dest.get(), '\0', bytes) != nullptr);
    const std::string text(dest.get());
    KX7_FUZZ_CHECK(text == ExpectedText(words));
    // Behind the text: NULs, up to and including the field's own first NUL; after that NUL
    // the field's bytes as they were.
    std::string raw;
    for (uint16_t word : words) {
        raw.push_back(static_cast<char>(word >> 8));
        raw.push_back(static_cast<char>(word & 0xFF));
    }
    const size_t fieldNul = std::min(raw.find('\0'), raw.size());
    for (size_t i = text.size(); i < bytes; ++i) {
        KX7_FUZZ_CHECK(dest[i] == (i <= fieldNul ? '\0' : raw[i]));
    }

    std::array<uint8_t, kIdentifySize> identify{};
    const std::vector<uint8_t> answer = fuzz::ByteReader(data, size).Bytes(kIdentifySize);
    std::copy(answer.begin(), answer.end(), identify.begin());
    const std::array<char, kSerialLength> serial = DiskSerialFromIdentify(identify);
    std::vector<uint16_t> serialWords;
    for (size_t i = 0; i < kSerialWordCount; ++i) {
        // Words 10 to 19, little-endian on the wire.
        const size_t at = 2 * (kSerialFirstWord + i);
        serialWords.push_back(static_cast<uint16_t>(identify[at] | identify[at + 1] << 8));
    }
    const std::string expected = ExpectedText(serialWords);
    KX7_FUZZ_CHECK(std::string(serial.data(), serial.size()).substr(0, expected.size()) ==
                   expected);
    KX7_FUZZ_CHECK(expected.size() == kSerialLength || serial[expected.size()] == '\0');
    return 0;
}
