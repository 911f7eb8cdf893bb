// The startup agent's narrow command line, any bytes up to the terminator.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "startup_agent/agent_arguments.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kx7::agent;
    // The line as the runtime hands it over: it ends at its first NUL, and the parser may
    // rewrite it in place.
    std::vector<char> line(data, data + size);
    line.push_back('\0');
    std::string upper(line.data());
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }

    AgentArguments parsed;
    const AgentAction action = ParseAgentArguments(line.data(), &parsed);
    KX7_FUZZ_CHECK(upper == line.data());
    KX7_FUZZ_CHECK(parsed.bHide == (upper.find("/HIDE") != std::string::npos ? 1 : 0));

    const size_t pathSwitch = upper.find("/S:");
    const std::string path = pathSwitch == std::string::npos ? "" : upper.substr(pathSwitch + 3);
    if (path.empty() || path.size() >= kPathChars) {
        KX7_FUZZ_CHECK(action == AgentAction::kNothingToStart);
        KX7_FUZZ_CHECK(parsed.szPath[0] == u'\0');
    } else {
        KX7_FUZZ_CHECK(action == AgentAction::kStart);
        for (size_t i = 0; i < path.size(); ++i) {
            KX7_FUZZ_CHECK(parsed.szPath[i] == static_cast<unsigned char>(path[i]));
        }
        KX7_FUZZ_CHECK(parsed.szPath[path.size()] == u'\0');
    }
    if (upper.find("/D:") == std::string::npos) {
        KX7_FUZZ_CHECK(parsed.nDelayMs == 0);
    }

    AgentAtoi(reinterpret_cast<const char*>(data), size);
    ParseAgentArguments(nullptr, &parsed);
    return 0;
}
