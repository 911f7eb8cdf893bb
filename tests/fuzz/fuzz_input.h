// Small helpers the fuzz targets share: reading a fuzz input as a stream of fields, and a check
// that ends the run loudly, so that a broken rule is reported like a crash, with the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace kx7::fuzz {

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: broken rule: %s\n", file, line, what);
    std::abort();
}

#define KX7_FUZZ_CHECK(condition)                              \
    do {                                                       \
        if (!(condition)) {                                    \
            ::kx7::fuzz::Fail(#condition, __FILE__, __LINE__); \
        }                                                      \
    } while (0)

// Fields taken from the front of the input; past its end every field reads as zeros, so any
// input is a complete one.
class ByteReader {
  public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }
    size_t remaining() const { return empty() ? 0 : size_ - at_; }

    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t U16() {
        const uint16_t low = Byte();
        return static_cast<uint16_t>(low | Byte() << 8);
    }
    uint32_t U32() {
        const uint32_t low = U16();
        return low | static_cast<uint32_t>(U16()) << 16;
    }
    // count bytes, zeros where the input has run out.
    std::vector<uint8_t> Bytes(size_t count) {
        std::vector<uint8_t> bytes(count, 0);
        for (size_t i = 0; i < count && at_ < size_; ++i) {
            bytes[i] = data_[at_++];
        }
        return bytes;
    }
    std::vector<uint8_t> Rest() { return Bytes(remaining()); }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// A registry value from the input: its type (4 bytes, little-endian), then its data.
inline std::pair<uint32_t, std::vector<uint8_t>> ReadTypedValue(const uint8_t* data, size_t size) {
    ByteReader input(data, size);
    const uint32_t type = input.U32();
    return {type, input.Rest()};
}

// Each byte as the code unit of the same value.
inline std::wstring Latin1Text(const uint8_t* data, size_t size) {
    std::wstring text;
    text.reserve(size);
    for (size_t i = 0; i < size; ++i) {
        text.push_back(static_cast<wchar_t>(data[i]));
    }
    return text;
}

// Pairs of bytes as UTF-16LE code units; an odd last byte is dropped.
inline std::wstring Utf16Text(const uint8_t* data, size_t size) {
    std::wstring text;
    text.reserve(size / 2);
    for (size_t i = 0; i + 1 < size; i += 2) {
        text.push_back(static_cast<wchar_t>(data[i] | data[i + 1] << 8));
    }
    return text;
}

inline bool IsAsciiLower(wchar_t c) {
    return c >= L'a' && c <= L'z';
}

// a-z as A-Z; every other unit, the other letters included, as it is.
inline std::wstring AsciiUpper(std::wstring text) {
    for (wchar_t& c : text) {
        if (IsAsciiLower(c)) {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    return text;
}

}  // namespace kx7::fuzz
