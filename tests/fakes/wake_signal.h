// A wake between real threads with the clock's rules: a signal with nobody waiting is kept for
// the next wait, and several signals before one wait count as one. For test clocks that run in
// real time.
#pragma once

#include <condition_variable>
#include <mutex>

namespace kx7::test {

class WakeSignal {
  public:
    void Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        signalled_.wait(lock, [this] { return pending_; });
        pending_ = false;
    }
    void Signal() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            pending_ = true;
        }
        signalled_.notify_one();
    }

  private:
    std::mutex mutex_;
    std::condition_variable signalled_;
    bool pending_ = false;
};

}  // namespace kx7::test
