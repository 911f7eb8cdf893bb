// The console user's session as the service reaches it: who is logged on there, the boxes shown
// to them, and the cleanup tool started for them. WTSAPI32 and USERENV are not known DLLs, so
// they are loaded from the system folder and reached through typed pointers, as SETUPAPI is.
#pragma once

#include <windows.h>

#include "connector/engine/cleanup_launcher.h"
#include "service/service_host.h"

namespace kx7 {

ConsoleSessions& SystemConsoleSessions();

// Starts the cleanup tool in the session at the console, as the user logged on there: with
// that user's own token from WTSQueryUserToken and their environment, on the interactive
// desktop, hidden. The tool cleans that user's registry, which the user's own rights reach; it
// never gets the system's rights in the user's session, where the user could steer it. Nothing
// starts when nobody is logged on at the console.
ShellLauncher& ConsoleUserShellLauncher();

}  // namespace kx7
