// The host check: before a paired drive is plugged in, says for each drive registered for this
// PC whether the connector would accept this PC for it, and if not, which item differs. It runs
// the connector's own code (record loader, fingerprint collection, identity comparison and
// texts) and changes nothing: every registry write is refused.
#pragma once

#include <string>
#include <vector>

#include "connector/hostid/system_info.h"

namespace kx7 {

// Exit codes of KX7HostCheck.exe. A script that rolls the connector out wants "ready" to mean
// that a paired drive will unlock here, so a PC with nothing registered is not ready: it gets a
// code of its own, apart from a registration that is there but broken.
constexpr int kHostCheckAllPass = 0;   // every registered drive would pass
constexpr int kHostCheckSomeFail = 1;  // at least one would not
constexpr int kHostCheckNoRecord = 2;  // drives are registered, the record cannot be loaded
constexpr int kHostCheckNothingRegistered = 3;  // no drive is registered for this PC
constexpr int kHostCheckBadArguments = 4;       // the command line was not understood

enum class HostCheckAction { kRun, kUsage, kBadArgument };

// The check takes no arguments; "/?" and its usual spellings ask for the usage text. Anything
// else is refused rather than ignored, so that a script never mistakes a typo for a result.
// badArgument receives the first argument that was not understood.
HostCheckAction ParseHostCheckArguments(const std::vector<std::wstring>& arguments,
                                        std::wstring* badArgument);

// The usage text, lines ended by CR LF.
extern const wchar_t kHostCheckUsage[];

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
