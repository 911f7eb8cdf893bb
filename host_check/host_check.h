// The host check: before a paired drive is plugged in, says for each drive registered for this
// PC whether the connector would accept this PC for it, and if not, which item differs. It runs
// the connector's own code (record loader, fingerprint collection, identity comparison and
// texts) and changes nothing: every registry write is refused.
#pragma once

#include <string>

#include "connector/hostid/system_info.h"

namespace kx7 {

// Exit codes of KX7HostCheck.exe.
constexpr int kHostCheckAllPass = 0;   // every registered drive would pass
constexpr int kHostCheckSomeFail = 1;  // at least one would not
constexpr int kHostCheckNoRecord = 2;  // the registered record cannot be loaded

struct HostCheckReport {
    std::wstring text;  // lines ended by CR LF
    int exitCode = kHostCheckAllPass;
};

// Collects the fingerprint from sources, loads the record from sources.registry (through a
// read-only view, so nothing is written) and compares them for every subkey of the
// registration program's key that holds a "Mode" value. elevated says whether the process
// runs as administrator, which reading the disk serial needs.
HostCheckReport RunHostCheck(const HostSources& sources, bool elevated);

}  // namespace kx7
