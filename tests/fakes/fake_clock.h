// A clock whose sleeps only advance virtual time, so tests of long waits run at once. Sleeps are
// recorded in order; an optional hook runs on each sleep so a test can change the world while
// the code under test waits.
//
// A wait for a wake lets virtual time run on, straight to the next moment at which the test has
// something scheduled (OnIdle), and runs the sleep hook there as if the waiter had slept until
// then; it ends once something has called Wake. A waiter that nothing wakes within a virtual day
// is a lost wake-up, and the wait throws instead of hanging the test.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "connector/platform/clock.h"

namespace kx7::test {

class FakeClock final : public Clock {
  public:
    static constexpr uint64_t kLongestWaitMs = 24ull * 60 * 60 * 1000;

    void SleepMs(uint32_t milliseconds) override {
        std::function<void(uint32_t)> hook;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            sleeps_.push_back(milliseconds);
            hook = onSleep_;
        }
        now_ += milliseconds;
        if (hook) {
            hook(milliseconds);
        }
        Resumed();
    }
    uint64_t NowMs() override { return now_; }

    void WaitForWake() override {
        const uint64_t start = now_;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++waits_;
        }
        // Something already due runs at once; a schedule that keeps naming the past would
        // never let time move, and counts as nothing scheduled.
        int standing = 0;
        while (!woken_.exchange(false)) {
            std::function<void(uint32_t)> hook;
            std::function<uint64_t()> nextEventAt;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                hook = onSleep_;
                nextEventAt = onIdle_;
            }
            const uint64_t now = now_;
            uint64_t next = nextEventAt ? nextEventAt() : now;
            if (next <= now) {
                next = now;
                ++standing;
            } else {
                standing = 0;
            }
            if (!hook || standing > 100 || next - start > kLongestWaitMs) {
                throw std::logic_error("a wait for a wake that nothing scheduled will end");
            }
            now_ = next;
            hook(static_cast<uint32_t>(next - now));
        }
        Resumed();
    }
    void Wake() override { woken_ = true; }

    void OnSleep(std::function<void(uint32_t)> hook) {
        std::lock_guard<std::mutex> lock(mutex_);
        onSleep_ = std::move(hook);
    }
    // The virtual time of the next thing the test will do; a wait runs on to it.
    void OnIdle(std::function<uint64_t()> nextEventAt) {
        std::lock_guard<std::mutex> lock(mutex_);
        onIdle_ = std::move(nextEventAt);
    }
    std::vector<uint32_t> sleeps() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return sleeps_;
    }
    size_t waits() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return waits_;
    }
    // The virtual times at which the sleeper or waiter went on: one entry per wake-up of the
    // code under test, which is what an idle loop costs the machine.
    std::vector<uint64_t> resumes() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return resumes_;
    }
    uint64_t TotalSleptMs() const {
        std::lock_guard<std::mutex> lock(mutex_);
        uint64_t total = 0;
        for (uint32_t s : sleeps_) {
            total += s;
        }
        return total;
    }

  private:
    void Resumed() {
        std::lock_guard<std::mutex> lock(mutex_);
        resumes_.push_back(now_);
    }

    mutable std::mutex mutex_;
    std::vector<uint32_t> sleeps_;
    std::vector<uint64_t> resumes_;
    size_t waits_ = 0;
    std::function<void(uint32_t)> onSleep_;
    std::function<uint64_t()> onIdle_;
    std::atomic<uint64_t> now_{0};
    std::atomic<bool> woken_{false};
};

}  // namespace kx7::test
