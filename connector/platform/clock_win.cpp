#include "connector/platform/clock.h"

#include <windows.h>

namespace kx7 {
namespace {

class Win32Clock final : public Clock {
  public:
    void SleepMs(uint32_t milliseconds) override { Sleep(milliseconds); }
    uint64_t NowMs() override { return GetTickCount64(); }
};

}  // namespace

Clock& SystemClock() {
    static Win32Clock clock;
    return clock;
}

}  // namespace kx7
