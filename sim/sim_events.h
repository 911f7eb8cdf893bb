// Device interface arrivals and removals of simulated drives, as the system would announce them,
// and the one lock every simulated drive of a bus shares.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "connector/platform/interface_class.h"

namespace kx7::sim {

enum class SimEventKind : uint8_t {
    kArrival,
    kRemoval,
};

struct SimDeviceEvent {
    SimEventKind kind = SimEventKind::kArrival;
    InterfaceGuid interfaceClass{};
    // The interface name a device-change notification carries, in the notification's spelling
    // (mixed case), e.g. \\?\USB#VID_6B2F&PID_1180#SERIAL#{a5dcbf10-...}.
    std::wstring name;
};

using SimEventListener = std::function<void(const SimDeviceEvent&)>;

// The lock of a group of drives (one standalone drive, or all drives of a bus) together with
// their event queue. Events are queued while the lock is held and handed to the listener only
// after it has been released, one at a time and in the order they were queued, so a listener may
// call back into the drives or the bus. When several threads cause events at once, whichever
// thread is already delivering hands over the others' events too; the listener is never entered
// twice at the same time.
class SimEventHub {
  public:
    std::mutex& mutex() { return mutex_; }

    void SetListener(SimEventListener listener);
    // Only with mutex() held.
    void Queue(SimDeviceEvent event) { queue_.push_back(std::move(event)); }
    // Only with mutex() not held.
    void Deliver();

  private:
    std::mutex mutex_;
    SimEventListener listener_;
    std::deque<SimDeviceEvent> queue_;
    bool delivering_ = false;
};

}  // namespace kx7::sim
