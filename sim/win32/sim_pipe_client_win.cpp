#include <windows.h>

#include "sim/win32/sim_pipe_win.h"

namespace kx7::sim {

const wchar_t kSimPipeName[] = L"\\\\.\\pipe\\KX7SimulatedBus";

std::string SendSimCommand(const std::string& line, unsigned timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (;;) {
        pipe = CreateFileW(kSimPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            break;
        }
        // Busy with another client, or not made yet: the connector may still be starting.
        if (GetTickCount64() >= deadline) {
            return "error the simulated bus does not answer (is KX7AutoConnectorSim running?)";
        }
        Sleep(50);
    }
    const std::string request = line + "\n";
    DWORD written = 0;
    std::string answer;
    if (WriteFile(pipe, request.data(), static_cast<DWORD>(request.size()), &written, nullptr)) {
        char buffer[4096];
        DWORD got = 0;
        while (answer.find('\n') == std::string::npos &&
               ReadFile(pipe, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
            answer.append(buffer, got);
        }
    }
    CloseHandle(pipe);
    const size_t end = answer.find('\n');
    if (end == std::string::npos) {
        return "error no answer from the simulated bus";
    }
    answer.resize(end);
    return answer;
}

}  // namespace kx7::sim
