// A value that one thread replaces whole while another reads it: every reader gets a complete
// copy taken under the lock, and no lock is ever held while the copy is in use, so a message box
// or a sleep on the reading side cannot block the writer.
#pragma once

#include <mutex>
#include <utility>

namespace kx7 {

template <typename T>
class Guarded {
  public:
    Guarded() = default;
    explicit Guarded(T value) : value_(std::move(value)) {}
    Guarded(const Guarded&) = delete;
    Guarded& operator=(const Guarded&) = delete;

    T Copy() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return value_;
    }
    void Replace(T value) {
        std::lock_guard<std::mutex> lock(mutex_);
        value_ = std::move(value);
    }

  private:
    mutable std::mutex mutex_;
    T value_{};
};

}  // namespace kx7
