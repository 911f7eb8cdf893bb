// The named pipe on which the simulation build of the connector takes control commands, and a
// client for it. One command a line; every command is answered with one line.
#pragma once

#include <string>

namespace kx7::sim {

extern const wchar_t kSimPipeName[];  // \\.\pipe\KX7SimulatedBus

// Sends one command and returns the answer without its line break; an answer that starts with
// "error" when the pipe cannot be reached within timeoutMs.
std::string SendSimCommand(const std::string& line, unsigned timeoutMs = 10000);

}  // namespace kx7::sim
