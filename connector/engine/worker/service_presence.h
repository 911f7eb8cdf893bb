// Whether the HostPair service runs on this PC. When it does, it serves every drive for every
// user, and a tray connector started beside it leaves the drives to it.
#pragma once

namespace kx7 {

// The service's name with the service control manager, and the name it shows.
constexpr wchar_t kHostPairServiceName[] = L"KX7HostPair";
constexpr wchar_t kHostPairServiceDisplayName[] = L"KX7 HostPair Auto Connector Service";

class ServicePresence {
  public:
    virtual ~ServicePresence() = default;
    // True only when the service is installed and running, starting or resuming. Not installed,
    // stopped, stopping, paused, or a manager that cannot be asked: false, and the connector
    // serves the drives itself as it always did (the drive's turn lock keeps it from talking to
    // a drive that a stopping service still serves).
    virtual bool HostPairServiceRunning() = 0;
};

// Whether somebody is logged on at the console. The service serves the drives with the record
// of that user alone, so with nobody there it leaves every drive locked.
class ConsoleUserPresence {
  public:
    virtual ~ConsoleUserPresence() = default;
    virtual bool UserAtConsole() = 0;
};

// Asks the service control manager; only the Win32 build provides it.
ServicePresence& SystemServicePresence();

}  // namespace kx7
