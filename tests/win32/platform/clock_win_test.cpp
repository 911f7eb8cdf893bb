// The system clock's wake: the connect worker waits on it without a time limit, so a lost or
// doubled wake would either leave the worker asleep with a request pending or make it spin.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "connector/platform/clock.h"

namespace kx7 {
namespace {

// One WaitForWake on a thread of its own. A wait that never ends is released when the test
// is over, so that a failing test does not hang the run.
class Waiter {
  public:
    explicit Waiter(Clock& clock)
        : clock_(clock), thread_([this] {
              clock_.WaitForWake();
              done_ = true;
          }) {}
    ~Waiter() {
        if (!done_) {
            clock_.Wake();
        }
        thread_.join();
    }
    Waiter(const Waiter&) = delete;
    Waiter& operator=(const Waiter&) = delete;

    bool EndsWithin(DWORD milliseconds) {
        const ULONGLONG until = GetTickCount64() + milliseconds;
        while (!done_ && GetTickCount64() < until) {
            Sleep(1);
        }
        return done_;
    }

  private:
    Clock& clock_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

TEST(SystemClockWake, EndsAWaitFromAnotherThread) {
    Clock& clock = SystemClock();
    Waiter waiter(clock);
    EXPECT_FALSE(waiter.EndsWithin(200)) << "nothing has woken it yet";
    clock.Wake();
    EXPECT_TRUE(waiter.EndsWithin(5000));
}

TEST(SystemClockWake, AWakeBeforeTheWaitIsKeptAndSeveralCountAsOne) {
    Clock& clock = SystemClock();
    clock.Wake();
    clock.Wake();
    {
        Waiter first(clock);
        EXPECT_TRUE(first.EndsWithin(5000)) << "the wake came before the wait";
    }
    Waiter second(clock);
    EXPECT_FALSE(second.EndsWithin(200)) << "the first wait took both wakes";
    clock.Wake();
    EXPECT_TRUE(second.EndsWithin(5000));
}

}  // namespace
}  // namespace kx7
