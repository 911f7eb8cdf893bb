#include "connector/hostid/debug_out.h"

#include <algorithm>

namespace kx7 {
namespace {

bool IsHighSurrogate(wchar_t unit) {
    const auto value = static_cast<unsigned long>(unit);
    return value >= 0xD800 && value <= 0xDBFF;
}

}  // namespace

void DebugOut(DebugSink& sink, const std::wstring& line) {
    // A buffer per call rather than one for the process: the lines come from the user-interface
    // thread only, but nothing is gained by a buffer that two threads could ever share.
    wchar_t buffer[kDebugOutChars];
    size_t length = std::min(line.size(), kDebugOutChars - 1);
    if (length < line.size() && length > 0 && IsHighSurrogate(line[length - 1])) {
        --length;  // its second half did not fit; half a character is no character
    }
    std::copy_n(line.data(), length, buffer);
    buffer[length] = L'\0';
    sink.Write(buffer);
}

}  // namespace kx7
