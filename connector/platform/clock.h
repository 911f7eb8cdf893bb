// Every wait of the connector goes through this seam, so that tests of long retry loops and
// settle waits run in virtual time.
#pragma once

#include <cstdint>

namespace kx7 {

class Clock {
  public:
    virtual ~Clock() = default;
    virtual void SleepMs(uint32_t milliseconds) = 0;
    // Milliseconds since an arbitrary start; never goes backwards.
    virtual uint64_t NowMs() = 0;
};

// The real clock of the running system; only the Win32 build provides it.
Clock& SystemClock();

}  // namespace kx7
