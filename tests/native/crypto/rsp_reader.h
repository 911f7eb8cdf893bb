// Reader for the known-answer files of the published validation suites: "[SECTION]" headers,
// "#" comments, and records of "NAME = value" lines separated by blank lines.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kx7::test {

struct RspRecord {
    std::string section;  // the last "[...]" header seen, without brackets
    std::map<std::string, std::string> fields;
};

// Returns false, with a reason in `error`, when the file cannot be read or has no records, so
// that a missing vector directory fails the test instead of passing on zero cases.
bool ReadRspFile(const std::string& path, std::vector<RspRecord>* records, std::string* error);

// Full path of a file under the vector directory chosen at configure time.
std::string VectorPath(const std::string& relative);

// Decodes a hex string; returns false on odd length or a non-hex digit.
bool DecodeHex(const std::string& hex, std::vector<uint8_t>* bytes);

std::string EncodeHex(const uint8_t* bytes, size_t length);

}  // namespace kx7::test
