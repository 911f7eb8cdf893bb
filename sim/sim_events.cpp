#include "sim/sim_events.h"

namespace kx7::sim {

void SimEventHub::SetListener(SimEventListener listener) {
    std::lock_guard<std::mutex> lock(mutex_);
    listener_ = std::move(listener);
}

void SimEventHub::Deliver() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (delivering_) {
        // Another thread is in the listener; it picks up what was queued here before it stops.
        return;
    }
    delivering_ = true;
    while (!queue_.empty()) {
        SimDeviceEvent event = std::move(queue_.front());
        queue_.pop_front();
        SimEventListener listener = listener_;
        lock.unlock();
        if (listener) {
            listener(event);
        }
        lock.lock();
    }
    delivering_ = false;
}

}  // namespace kx7::sim
