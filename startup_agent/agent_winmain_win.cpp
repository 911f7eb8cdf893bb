// The agent's process entry. It is a GUI-subsystem program without a window, so that a log-on
// entry starting it opens no console.
#include <windows.h>

#include "connector/platform/dll_search_win.h"
#include "startup_agent/agent_main_win.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    // It starts the elevated connector: nothing it loads may come from its own folder.
    kx7::RestrictDllSearchToSystem();
    // The runtime's own copy of the command line after the program name; ours to change.
    return kx7::agent::AgentMain(commandLine);
}
