// Trace lines of the fingerprint collection. They go to the debugger output and nowhere else:
// they are for whoever watches the machine with a debugger, never for the user.
#pragma once

#include <cstddef>
#include <string>

namespace kx7 {

// Where the trace lines end up: the system's debugger output on Windows, a recorder in tests.
class DebugSink {
  public:
    virtual ~DebugSink() = default;
    // line is NUL-terminated and holds at most kDebugOutChars - 1 UTF-16 units.
    virtual void Write(const wchar_t* line) = 0;
};

// The trace buffer in UTF-16 units, terminator included.
constexpr size_t kDebugOutChars = 512;

// Writes one finished line. Callers build the line themselves instead of handing over a printf
// format: a wide "%s" means a wide string to the Windows runtime but a narrow one to glibc, and
// the trace texts must come out the same on both. A line longer than kDebugOutChars - 1 units
// (a registered description of some 480 characters does that) is cut there rather than written
// past the buffer; a surrogate pair that the cut would split is dropped whole.
void DebugOut(DebugSink& sink, const std::wstring& line);

// The sink of the collectors' detail lines, which nobody reads. The calls stay where the lines
// belong so that the code still says what happened, but nothing is formatted or written; the
// arguments are only evaluated.
template <typename... Args>
inline void DebugOutNull(const wchar_t* /*format*/, const Args&... /*args*/) {}

// The debugger output of the running system; only the Win32 build provides it.
DebugSink& SystemDebugSink();

}  // namespace kx7
