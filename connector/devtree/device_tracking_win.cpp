#include <windows.h>

#include "connector/devtree/device_tracking.h"

namespace kx7 {
namespace {

class Win32TextComparer final : public TextComparer {
  public:
    bool EqualIgnoreCase(const std::wstring& a, const std::wstring& b) override {
        return CompareStringW(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a.c_str(),
                              static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size())) == CSTR_EQUAL;
    }
};

}  // namespace

TextComparer& SystemTextComparer() {
    static Win32TextComparer compare;
    return compare;
}

}  // namespace kx7
