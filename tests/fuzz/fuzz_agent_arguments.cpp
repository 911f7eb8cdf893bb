// The startup agent's command line, any UTF-16 code units up to the terminator.
#include <cstdint>
#include <string>
#include <vector>

#include "startup_agent/agent_arguments.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kx7::agent;
    // The line as the runtime hands it over, two bytes to a code unit: it ends at its first
    // NUL, and the parser may rewrite it in place.
    std::vector<char16_t> line;
    for (size_t i = 0; i + 1 < size; i += 2) {
        line.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
    }
    line.push_back(u'\0');
    std::u16string upper(line.data());
    for (char16_t& c : upper) {
        if (c >= u'a' && c <= u'z') {
            c = static_cast<char16_t>(c - u'a' + u'A');
        }
    }

    AgentArguments parsed;
    const AgentAction action = ParseAgentArguments(line.data(), &parsed);
    KX7_FUZZ_CHECK(upper == line.data());
    KX7_FUZZ_CHECK(parsed.bHide == (upper.find(u"/HIDE") != std::u16string::npos ? 1 : 0));

    const size_t pathSwitch = upper.find(u"/S:");
    const std::u16string path =
        pathSwitch == std::u16string::npos ? u"" : upper.substr(pathSwitch + 3);
    if (path.empty() || path.size() >= kPathChars) {
        KX7_FUZZ_CHECK(action == AgentAction::kNothingToStart);
        KX7_FUZZ_CHECK(parsed.szPath[0] == u'\0');
    } else {
        KX7_FUZZ_CHECK(action == AgentAction::kStart);
        KX7_FUZZ_CHECK(path == parsed.szPath);
    }
    if (upper.find(u"/D:") == std::u16string::npos) {
        KX7_FUZZ_CHECK(parsed.nDelayMs == 0);
    }

    AgentAtoi(line.data(), line.size() - 1);
    ParseAgentArguments(nullptr, &parsed);
    return 0;
}
