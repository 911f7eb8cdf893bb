// The agent's process entry. It is a GUI-subsystem program without a window, so that a log-on
// entry starting it opens no console.
#include <windows.h>

#include "connector/platform/dll_search_win.h"
#include "startup_agent/agent_main_win.h"

// The wide entry: the runtime hands over the command line after the program name as the
// system keeps it, so that a path in any script arrives as it was written.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    // It starts the elevated connector: nothing it loads may come from its own folder.
    kx7::RestrictDllSearchToSystem();
    return kx7::agent::AgentMain(commandLine);
}
