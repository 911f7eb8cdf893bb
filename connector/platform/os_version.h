// The running system's version, behind a seam so that the version-dependent choices are tested
// for every system on any host.
#pragma once

#include <cstdint>

namespace kx7 {

// Reports the running system's major and minor version; false when it cannot be had.
class OsVersionSource {
  public:
    virtual ~OsVersionSource() = default;
    virtual bool GetVersion(uint32_t* major, uint32_t* minor) = 0;
};

// The real version query of the running system; only the Win32 build provides it.
OsVersionSource& SystemOsVersion();

}  // namespace kx7
