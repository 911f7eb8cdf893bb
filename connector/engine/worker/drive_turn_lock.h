// The machine-wide lock that gives one server at a time the turn with a drive. The tray
// connector of each logged-on user and the service may all see the same drive arrive; should
// two of them talk to it at once, one's status read could answer the other's packet, and a
// drive would get two packets for one arrival. Each server takes the drive's lock before its
// first command of a turn and gives it back once it has stopped talking to the drive, before
// any box: a box may stay up for hours.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kx7 {

// A turn that is held; destroying it gives the turn back.
class HeldDriveTurn {
  public:
    virtual ~HeldDriveTurn() = default;
};

class DriveTurnLocks {
  public:
    virtual ~DriveTurnLocks() = default;
    // Takes the lock of that name, waiting at most timeoutMs while another server holds it.
    // Null when the wait ran out, or when the lock could not be made or opened at all (a name
    // taken by an object we may not open): in either case this server cannot know that no
    // other one talks to the drive, so it leaves the drive alone.
    virtual std::unique_ptr<HeldDriveTurn> Take(const std::wstring& name, uint32_t timeoutMs) = 0;
};

// How long a turn waits for another server's turn with the same drive. A turn takes under 2 s
// plus the 1 or 1.5 s wait after the packet, so 10 s leaves a slow PC a wide margin. A turn
// that lasts longer is one whose drive stopped answering and is being retried for up to a
// minute per command: waiting for that would serve nobody (the holder has the drive), and it
// would hold up the other drives of the pass and an Exit for minutes.
constexpr uint32_t kDriveTurnWaitMs = 10000;

// The lock's name for a drive, from its serial (DeviceSerialFromPath):
// "Global\KX7HostPair.Drive.<serial>".
// - Global\: one namespace for every session, so the service (session 0) and the connectors of
//   users switched in and out meet on the same object.
// - The serial, not the drive's 16-byte identifier: every user can list named objects, and the
//   identifier is key material (the packet key is its SHA-256 digest), while the serial is what
//   the user's own Device Serial box shows. Every server gets it from the same device path, so
//   all of them name the same drive alike.
// - A name may not hold "\" beyond the namespace and is limited in length, so every character
//   other than A-Z, a-z, 0-9, "-", "_" and "." becomes "_", and at most 64 characters of the
//   serial are kept. Two drives that come out alike only share a lock: they are served one after
//   the other, never at once, which is safe.
std::wstring DriveTurnLockName(const std::wstring& serial);

// The system's named mutexes; only the Win32 build provides it.
DriveTurnLocks& SystemDriveTurnLocks();

}  // namespace kx7
