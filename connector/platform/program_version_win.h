// The running program's version, for the events it writes.
#pragma once

#include <string>

namespace kx7 {

// The version the program's version resource states, as "2.0.5.3"; empty when it has none.
std::wstring ProgramVersion();

}  // namespace kx7
