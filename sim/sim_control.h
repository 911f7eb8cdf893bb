// A small text language that configures, plugs and unplugs the drives of a simulated bus while
// a program uses it: one command a line, answered with one line that starts with "ok" or
// "error". The simulation build of the connector serves it on a named pipe; tests and scripts
// use the same words. The commands are listed in sim/README.md.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/simulated_bus.h"

namespace kx7::sim {

// A drive of the bus under the name the commands give it, with what the system has seen of it.
struct NamedDrive {
    std::string name;
    SimulatedDrive* drive = nullptr;
    bool everPlugged = false;   // its USB node is known to the system, present or not
    bool everUnlocked = false;  // so is its disk
};

class SimControl {
  public:
    explicit SimControl(SimulatedBus& bus) : bus_(bus) {}
    SimControl(const SimControl&) = delete;
    SimControl& operator=(const SimControl&) = delete;

    // Runs one command line and returns its answer, without a line break.
    std::string Execute(const std::string& line);

    // Keeps what the system has seen of each drive; feed it every event of the bus.
    void NoteEvent(const SimDeviceEvent& event);
    // The drives in the order they were added, as a copy taken under the control's lock.
    std::vector<NamedDrive> Drives() const;

  private:
    std::string Add(const std::vector<std::string>& words);
    std::string Set(NamedDrive& drive, const std::vector<std::string>& words, size_t first);
    std::string Host(NamedDrive& drive, const std::vector<std::string>& words);
    std::string Fault(NamedDrive& drive, const std::vector<std::string>& words);
    std::string Status(const NamedDrive& drive) const;
    NamedDrive* Find(const std::string& name);

    SimulatedBus& bus_;
    mutable std::mutex mutex_;
    std::vector<NamedDrive> drives_;
};

// The instance ID the system gives the device behind an interface name: the "\\?\" prefix and
// the class part dropped, the other "#" turned into "\", upper case.
std::wstring SimInstanceIdOf(const std::wstring& interfaceName);

}  // namespace kx7::sim
