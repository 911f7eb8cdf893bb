#include "connector/platform/os_version.h"

#include <windows.h>

namespace kx7 {
namespace {

// The size field announces the extended record (284 bytes), so the system may fill all of it:
// the buffer must be the extended record, not the 276-byte basic one.
static_assert(sizeof(OSVERSIONINFOEXW) == 284, "GetVersionExW fills 284 bytes");

class Win32OsVersion final : public OsVersionSource {
  public:
    bool GetVersion(uint32_t* major, uint32_t* minor) override {
        OSVERSIONINFOEXW info;
        ZeroMemory(&info, sizeof(info));
        info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) {
            return false;
        }
#pragma GCC diagnostic pop
        *major = info.dwMajorVersion;
        *minor = info.dwMinorVersion;
        return true;
    }
};

}  // namespace

OsVersionSource& SystemOsVersion() {
    static Win32OsVersion os;
    return os;
}

}  // namespace kx7
