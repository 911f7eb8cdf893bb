#include "connector/hostid/cpu_id.h"

namespace kx7 {

std::wstring CpuIdText(uint32_t signature) {
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring text;
    do {
        text.insert(text.begin(), kDigits[signature & 0xF]);
        signature >>= 4;
    } while (signature != 0);
    return text;
}

}  // namespace kx7
