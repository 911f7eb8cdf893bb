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
    // Writes the event with every string passed through LoggableText first. The strings carry
    // what drives, the registry and the record hold, so no writer is trusted to have done it.
    void Report(EventType type, uint32_t eventId, const std::vector<std::wstring>& strings);

  private:
    // Receives the strings as they go into the log.
    virtual void Write(EventType type, uint32_t eventId,
                       const std::vector<std::wstring>& strings) = 0;
};

// text as one insertion string that can neither pull other text into the event nor start a
// line of its own:
// - Event Viewer formats the message with the strings, then reads the result as a format once
//   more, so a "%1", "%%4" or "%n" inside a string would be expanded there. Each "%" becomes
//   U+FF05 (FULLWIDTH PERCENT SIGN): the formatter acts on U+0025 alone, and a reader still
//   sees a percent sign. Doubling it would not do: the second pass turns "%%" back into "%"
//   and reads "%%4" as a reference to parameter text.
// - A collector that reads the log as text takes a line break for a new record. Each run of
//   line breaks (CR, LF, VT, FF, NEL, U+2028, U+2029) becomes " / ", which keeps a message's
//   paragraphs apart on one line; a tab becomes a space; every other control character (C0,
//   DEL, C1) becomes U+FFFD, so its place stays visible.
std::wstring LoggableText(const std::wstring& text);

// The source the installers register, with the connector as its message file.
constexpr wchar_t kEventSourceName[] = L"KX7 HostPair";

// The Application log under kEventSourceName; only the Win32 build provides it.
EventLog& SystemEventLog();

}  // namespace kx7
