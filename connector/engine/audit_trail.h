// What the connector leaves in the system's event log, so that an administrator can tell who
// unlocked which drive on which PC and why a drive was not unlocked. Each event has its own ID
// in the connector's message table (audit_events.mc beside the program), which holds the texts
// the insertion strings go into. The Application log is readable by every user of the PC and is
// often collected elsewhere, with the computer's name on each event, so nothing is written that
// would help to build a packet on another PC: not a drive's identifier, its key or the packet,
// and of an identity item only its name and a masked form of its values (IdentityChanged).
#pragma once

#include <cstdint>
#include <string>

#include "connector/platform/event_log.h"

namespace kx7 {

constexpr uint32_t kEventConnectorStarted = 1000;   // version, hide mode
constexpr uint32_t kEventConnectorEnded = 1001;     // version, hide mode
constexpr uint32_t kEventServiceStarted = 1002;     // version
constexpr uint32_t kEventServiceEnded = 1003;       // version
constexpr uint32_t kEventServiceNotStarted = 1004;  // what failed, the system's reason
constexpr uint32_t kEventDriveUnlocked = 2000;      // serial, product, firmware, binding mask
constexpr uint32_t kEventDriveRefused = 2001;       // serial, product, refusal code, text shown
constexpr uint32_t kEventIdentityChanged = 2002;    // serial, item, registered and current value
constexpr uint32_t kEventNotRegistered = 2003;      // serial, text shown
constexpr uint32_t kEventFirmwareTooOld = 2004;     // serial, text shown
constexpr uint32_t kEventInvalidDate = 2005;        // serial, text shown
constexpr uint32_t kEventTurnNotTaken = 2006;       // serial, seconds waited
constexpr uint32_t kEventNoConsoleUser = 2007;      // nothing
constexpr uint32_t kEventCleanupStarted = 3000;     // tool path

// Writes the events through log; without a log (a test that does not look) nothing is written.
class AuditTrail {
  public:
    explicit AuditTrail(EventLog* log) : log_(log) {}

    void ConnectorStarted(const std::wstring& version, bool hideMode);
    void ConnectorEnded(const std::wstring& version, bool hideMode);
    void DriveUnlocked(const std::wstring& serial, uint16_t productId, uint8_t firmwareMajor,
                       uint8_t firmwareMinor, uint32_t bindingMask);
    void DriveRefused(const std::wstring& serial, uint16_t productId, uint8_t code,
                      const std::wstring& text);
    // item is the name the user's box gives the item; entry and current are written as
    //   OS Key         XXXXX-XXXXX-XXXXX-XXXXX-ABCDE   the last group only
    //   MAC ID         XX-XX-XX-XX-AB-CD               the last two octets only
    //   Disk Serial,   ****4567                        "****" for whatever is hidden, then at
    //   Computer Name                                  most the last four characters and at
    //                                                  most half of them ("****-F" for "PC-F")
    //   CPU ID         ****                            nothing of it
    // A key or MAC address not in its usual form, and an item of another name, are written as
    // "****"; an empty value as "(empty)", which tells only that there was none (an adapter
    // or a disk serial that could not be found).
    void IdentityChanged(const std::wstring& serial, const std::wstring& item,
                         const std::wstring& entry, const std::wstring& current);
    // kEventNotRegistered, kEventFirmwareTooOld or kEventInvalidDate; serial may be empty where
    // no drive is known yet.
    void DriveNotServed(uint32_t eventId, const std::wstring& serial, const std::wstring& text);
    // Another server held the drive's turn for longer than waitedMs, or its lock could not be
    // had at all; the drive was left alone and the user is shown nothing.
    void DriveTurnNotTaken(const std::wstring& serial, uint32_t waitedMs);
    void CleanupStarted(const std::wstring& toolPath);
    // The service: its start and end, a start that failed, and a pass with nobody logged on at
    // the console, whose drives it therefore leaves alone.
    void ServiceStarted(const std::wstring& version);
    void ServiceEnded(const std::wstring& version);
    void ServiceNotStarted(const std::wstring& step, const std::wstring& reason);
    void NoConsoleUser();

  private:
    void Report(EventType type, uint32_t eventId, std::vector<std::wstring> strings);
    EventLog* log_;
};

}  // namespace kx7
