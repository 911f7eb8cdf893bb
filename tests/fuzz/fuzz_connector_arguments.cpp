// The connector's command line, any UTF-16 text the shell may hand over, through the switch
// reading and the whole start-up.
#include <cstdint>
#include <string>

#include "connector/app/startup.h"
#include "tests/fuzz/fuzz_input.h"

namespace kx7 {
namespace {

class RecordingHost final : public StartupHost {
  public:
    uintptr_t FindWindowByTitle(const wchar_t*) override { return 0; }
    uintptr_t FindWindowByClass(const wchar_t*) override { return 0; }
    void SetForeground(uintptr_t) override {}
    void ShowFrameworkMessage(const wchar_t*) override {}
    void Sleep(uint32_t milliseconds) override {
        slept += milliseconds;
        ++sleeps;
    }
    void InitFramework() override {}
    void RegisterPrivateClass() override {}
    void RunMainDialog(const StartupState& state) override {
        ran = true;
        hideMode = state.m_bHideMode;
    }

    uint64_t slept = 0;
    int sleeps = 0;
    bool ran = false;
    int32_t hideMode = -1;
};

bool FoundPastStart(const std::wstring& text, const wchar_t* key) {
    const size_t at = text.find(key);
    return at != std::wstring::npos && at > 0;
}

}  // namespace
}  // namespace kx7

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kx7;
    const std::wstring arguments = fuzz::Utf16Text(data, size);

    const std::wstring upper = UpperCaseArguments(arguments);
    KX7_FUZZ_CHECK(upper == fuzz::AsciiUpper(arguments));

    const StartupSwitches switches = ParseStartupArguments(upper);
    KX7_FUZZ_CHECK(switches.delayMs >= 0 && switches.delayMs <= kMaxStartupDelayMs);
    if (!FoundPastStart(upper, L"D:")) {
        KX7_FUZZ_CHECK(switches.delayMs == 0);
    }
    KX7_FUZZ_CHECK(switches.hideMode == FoundPastStart(upper, L"HIDE"));

    // Any range of the text, as the delay reading takes one.
    if (!upper.empty()) {
        const size_t begin = data[0] % (upper.size() + 1);
        const size_t end = begin + (size > 1 ? data[1] : 0) % (upper.size() - begin + 1);
        WideAtoi(upper, begin, end);
    }

    RecordingHost host;
    StartupState state;
    KX7_FUZZ_CHECK(!RunStartup(host, arguments, &state));
    KX7_FUZZ_CHECK(state.m_strArguments == upper);
    KX7_FUZZ_CHECK(host.ran && host.hideMode == (switches.hideMode ? 1 : 0));
    KX7_FUZZ_CHECK(host.slept == static_cast<uint64_t>(switches.delayMs));
    KX7_FUZZ_CHECK(host.sleeps == (switches.delayMs > 0 ? 1 : 0));
    return 0;
}
