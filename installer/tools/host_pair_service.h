// The HostPair service as both installers register it: the NSIS installer through the setup DLL,
// the MSI through its own service tables (KX7HostPair.wxs holds the same names and texts).
#pragma once

#include <string>

namespace kx7::installer {

// The program's file name in the install folder, and the description the service control manager
// shows (its names are kHostPairServiceName and kHostPairServiceDisplayName).
extern const wchar_t kServiceProgram[];
extern const wchar_t kServiceDescription[];

// The command line registered for the service installed in FOLDER (no trailing backslash):
// quoted, so that a folder with spaces cannot be read as a program in a folder above it.
std::wstring ServiceCommandLine(const std::wstring& folder);

// Whether a registered COMMAND LINE starts the service program in FOLDER; the case of the letters
// does not matter, as in file names. A service of that name that starts anything else is not
// ours to stop, change or remove.
bool ServiceRunsFrom(const std::wstring& commandLine, const std::wstring& folder);

}  // namespace kx7::installer
