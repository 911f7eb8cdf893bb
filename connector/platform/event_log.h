// The system's event log as this program writes to it: events of one source, each an ID from
// the connector's message table with its insertion strings. Writing is best effort: a log that
// cannot be reached changes nothing the program does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kx7 {

// The event types the Application log knows (the values of the system's EVENTLOG_* types).
enum class EventType : uint16_t {
    kWarning = 0x0002,
    kInformation = 0x0004,
    kAuditSuccess = 0x0008,
};

class EventLog {
  public:
    virtual ~EventLog() = default;
    virtual void Report(EventType type, uint32_t eventId,
                        const std::vector<std::wstring>& strings) = 0;
};

// The source the installers register, with the connector as its message file.
constexpr wchar_t kEventSourceName[] = L"KX7 HostPair";

// The Application log under kEventSourceName; only the Win32 build provides it.
EventLog& SystemEventLog();

}  // namespace kx7
