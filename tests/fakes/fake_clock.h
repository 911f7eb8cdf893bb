// A clock whose sleeps only advance virtual time, so tests of long waits run at once. Sleeps are
// recorded in order; an optional hook runs on each sleep so a test can change the world while
// the code under test waits.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

#include "connector/platform/clock.h"

namespace kx7::test {

class FakeClock final : public Clock {
  public:
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

    void OnSleep(std::function<void(uint32_t)> hook) {
        std::lock_guard<std::mutex> lock(mutex_);
        onSleep_ = std::move(hook);
    }
    std::vector<uint32_t> sleeps() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return sleeps_;
    }
    // The virtual times at which the sleeper went on: one entry per wake-up of the code under
    // test, which is what an idle loop costs the machine.
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
    std::function<void(uint32_t)> onSleep_;
    std::atomic<uint64_t> now_{0};
};

}  // namespace kx7::test
