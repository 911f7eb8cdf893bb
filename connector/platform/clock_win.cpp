#include "connector/platform/clock.h"

#include <windows.h>

namespace kx7 {
namespace {

// Should the system refuse the event, the waiter looks again this often instead, which is how
// the worker kept going before it had an event to wait on.
constexpr DWORD kFallbackPollMs = 50;

class Win32Clock final : public Clock {
  public:
    // Auto-reset and not signalled: a SetEvent with nobody waiting stays until the next wait
    // takes it.
    Win32Clock() : wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~Win32Clock() override {
        if (wake_ != nullptr) {
            CloseHandle(wake_);
        }
    }
    Win32Clock(const Win32Clock&) = delete;
    Win32Clock& operator=(const Win32Clock&) = delete;

    void SleepMs(uint32_t milliseconds) override { Sleep(milliseconds); }
    uint64_t NowMs() override { return GetTickCount64(); }
    void WaitForWake() override {
        if (wake_ == nullptr || WaitForSingleObject(wake_, INFINITE) != WAIT_OBJECT_0) {
            Sleep(kFallbackPollMs);
        }
    }
    void Wake() override {
        if (wake_ != nullptr) {
            SetEvent(wake_);
        }
    }

  private:
    HANDLE wake_;
};

}  // namespace

Clock& SystemClock() {
    static Win32Clock clock;
    return clock;
}

}  // namespace kx7
