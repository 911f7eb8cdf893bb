#include "tests/native/crypto/rsp_reader.h"

#include <fstream>

namespace kx7::test {
namespace {

std::string Trim(const std::string& text) {
    const char* kSpace = " \t\r\n";
    const size_t first = text.find_first_not_of(kSpace);
    if (first == std::string::npos) {
        return std::string();
    }
    const size_t last = text.find_last_not_of(kSpace);
    return text.substr(first, last - first + 1);
}

int HexValue(char digit) {
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if (digit >= 'a' && digit <= 'f') {
        return digit - 'a' + 10;
    }
    if (digit >= 'A' && digit <= 'F') {
        return digit - 'A' + 10;
    }
    return -1;
}

}  // namespace

std::string VectorPath(const std::string& relative) {
    return std::string(KX7_CRYPTO_VECTOR_DIR) + "/" + relative;
}

bool ReadRspFile(const std::string& path, std::vector<RspRecord>* records, std::string* error) {
    records->clear();
    std::ifstream file(path);
    if (!file) {
        *error = "cannot open " + path;
        return false;
    }
    std::string section;
    RspRecord current;
    auto flush = [&]() {
        if (!current.fields.empty()) {
            current.section = section;
            records->push_back(current);
            current.fields.clear();
        }
    };
    std::string line;
    while (std::getline(file, line)) {
        line = Trim(line);
        if (line.empty()) {
            flush();
            continue;
        }
        if (line[0] == '#') {
            continue;
        }
        if (line.front() == '[' && line.back() == ']') {
            flush();
            section = line.substr(1, line.size() - 2);
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            *error = "unexpected line in " + path + ": " + line;
            return false;
        }
        current.fields[Trim(line.substr(0, equals))] = Trim(line.substr(equals + 1));
    }
    flush();
    if (records->empty()) {
        *error = "no records in " + path;
        return false;
    }
    return true;
}

bool DecodeHex(const std::string& hex, std::vector<uint8_t>* bytes) {
    bytes->clear();
    if (hex.size() % 2 != 0) {
        return false;
    }
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = HexValue(hex[i]);
        const int low = HexValue(hex[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes->push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return true;
}

std::string EncodeHex(const uint8_t* bytes, size_t length) {
    const char* kDigits = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * length);
    for (size_t i = 0; i < length; ++i) {
        hex.push_back(kDigits[bytes[i] >> 4]);
        hex.push_back(kDigits[bytes[i] & 0x0f]);
    }
    return hex;
}

}  // namespace kx7::test
