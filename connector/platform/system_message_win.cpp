#include "connector/platform/system_message.h"

#include <windows.h>

namespace kx7 {
namespace {

class Win32SystemMessages final : public SystemMessages {
  public:
    std::wstring Lookup(uint32_t code) override {
        wchar_t* text = nullptr;
        const DWORD length =
            FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                           reinterpret_cast<wchar_t*>(&text), 0, nullptr);
        std::wstring result;
        if (length != 0 && text != nullptr) {
            result.assign(text, length);
        }
        if (text != nullptr) {
            LocalFree(text);
        }
        return result;
    }
};

}  // namespace

SystemMessages& SystemMessageTable() {
    static Win32SystemMessages messages;
    return messages;
}

}  // namespace kx7
