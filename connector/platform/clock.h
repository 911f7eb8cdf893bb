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
    // Waits without a time limit until Wake is called. A Wake that finds nobody waiting is kept
    // for the next wait, as an auto-reset event keeps it, so a wake that comes between the
    // waiter's last look at what it waits for and its wait is never lost; several wakes before
    // one wait count as one. It may also return without a wake, so the waiter looks again at
    // what it waits for before it goes on. There is one waiter per process: the connect worker.
    virtual void WaitForWake() = 0;
    // Ends the current wait, or else the next one. May be called from any thread.
    virtual void Wake() = 0;
};

// The real clock of the running system; only the Win32 build provides it.
Clock& SystemClock();

}  // namespace kx7
