// The local date and time at which the fingerprint was collected; the packet carries its date.
#pragma once

#include <ctime>

#include "connector/hostid/fingerprint.h"

namespace kx7 {

class LocalTimeSource {
  public:
    virtual ~LocalTimeSource() = default;
    // The current calendar time converted to local time, as the C library breaks it down.
    // False when the conversion fails.
    virtual bool LocalNow(std::tm* local) = 0;
};

// Year, month, day, hour, minute and second of the local time; day of week and milliseconds
// are always 0. When the time cannot be had, year, month and day are 0 and hour, minute and
// second 65535, so a failed clock never passes for a real date.
void GetCurrentDateTime(LocalTimeSource& source, SystemTime* time);

// The clock of the running system; only the Win32 build provides it.
LocalTimeSource& SystemLocalTime();

}  // namespace kx7
