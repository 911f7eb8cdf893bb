#include "connector/app/startup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kx7 {
namespace {

StartupSwitches Parse(const std::wstring& args) {
    return ParseStartupArguments(UpperCaseArguments(args));
}

struct SwitchCase {
    const wchar_t* args;
    int32_t delayMs;
    bool hide;
};

TEST(StartupArguments, KeyTextPositionAndFirstColonRules) {
    const SwitchCase cases[] = {
        {L"", 0, false},
        {L"/hide", 0, true},
        {L"/HIDE", 0, true},
        {L"HIDE", 0, false},        // key text at position 0
        {L"HIDE /HIDE", 0, false},  // only the first occurrence counts
        {L"/D:1500 /HIDE", 1500, true},
        {L"/HIDE /D:1500", 1500, true},
        {L"/d:250", 250, false},
        {L"D:500", 0, false},        // key text at position 0
        {L"D:1 /D:500", 0, false},   // first "D:" is at position 0
        {L"/X:7 /D:500", 7, false},  // number after the first colon of the whole string
        {L"/D:", 0, false},
        {L"/D:abc", 0, false},
        {L"/D:  42ms", 42, false},  // atoi skips blanks, stops at the first non-digit
        {L"/D:+15", 15, false},
        {L"/D:12:34", 12, false},                  // up to the next colon
        {L"C:\\Tools\\Hideout\\x /D:5", 0, true},  // the first ":" is that of "C:"
        {L"/path=c:\\hideout", 0, true},           // "HIDE" inside a word counts
        {L"/D:-5", 0, false},                      // negative waits are not waits
        {L"/D:99999999999", kMaxStartupDelayMs, false},
        {L"/D:600001", kMaxStartupDelayMs, false},
        {L"/D:600000", 600000, false},
    };
    for (const SwitchCase& c : cases) {
        const StartupSwitches s = Parse(c.args);
        EXPECT_EQ(s.delayMs, c.delayMs) << std::string(c.args, c.args + wcslen(c.args));
        EXPECT_EQ(s.hideMode, c.hide) << std::string(c.args, c.args + wcslen(c.args));
    }
}

TEST(StartupArguments, UpperCaseTouchesOnlyAsciiLetters) {
    EXPECT_EQ(UpperCaseArguments(L"/hide /d:1"), L"/HIDE /D:1");
    // U+0131 (dotless i) must not become "I", or "h\u0131de" would switch hide mode on.
    const std::wstring dotless = L"/h\u0131de";
    EXPECT_EQ(UpperCaseArguments(dotless), L"/H\u0131DE");
    EXPECT_FALSE(ParseStartupArguments(UpperCaseArguments(dotless)).hideMode);
}

TEST(StartupArguments, AtoiSaturatesAndStopsAtEnd) {
    const std::wstring t = L"  -2147483649x";
    EXPECT_EQ(WideAtoi(t, 0, t.size()), INT32_MIN);
    const std::wstring u = L"123456";
    EXPECT_EQ(WideAtoi(u, 0, 3), 123);
    EXPECT_EQ(WideAtoi(u, 3, 3), 0);
}

// Records what start-up asks of the window system, in order.
class RecordingHost final : public StartupHost {
  public:
    uintptr_t titleWindow = 0;
    uintptr_t classWindow = 0;
    std::string calls;  // each call followed by "; "

    uintptr_t FindWindowByTitle(const wchar_t* title) override {
        Note("title:" + Narrow(title));
        return titleWindow;
    }
    uintptr_t FindWindowByClass(const wchar_t* className) override {
        Note("class:" + Narrow(className));
        return classWindow;
    }
    void SetForeground(uintptr_t window) override { Note("foreground:" + std::to_string(window)); }
    void ShowFrameworkMessage(const wchar_t* text) override { Note("message:" + Narrow(text)); }
    void Sleep(uint32_t ms) override { Note("sleep:" + std::to_string(ms)); }
    void InitFramework() override { Note("framework"); }
    void RegisterPrivateClass() override { Note("register"); }
    // What the dialog would find in the application object while it runs.
    void RunMainDialog(const StartupState& state) override {
        Note("dialog:hide=" + std::to_string(state.m_bHideMode) +
             ",args=" + Narrow(state.m_strArguments.c_str()));
    }

  private:
    void Note(const std::string& call) { calls += call + "; "; }
    static std::string Narrow(const wchar_t* text) {
        std::string out;
        for (; *text != 0; ++text) {
            out.push_back(static_cast<char>(*text));
        }
        return out;
    }
};

// What start-up asks of the window system, in order, with or without a running copy to find.
struct StartupCase {
    const char* name;
    const wchar_t* args;
    uintptr_t titleWindow, classWindow;  // a running copy found by title or by class
    const wchar_t* storedArguments;
    int hideMode;
    const char* calls;
    friend void PrintTo(const StartupCase& c, std::ostream* os) { *os << c.name; }
};
const StartupCase kStartups[] = {
    {"NormalStartWaitsThenRunsTheDialog", L"/d:1500 /hide", 0, 0, L"/D:1500 /HIDE", 1,
     "title:KX7 HostPair Auto Connector; sleep:1500; framework; class:KX7AutoConnector_Class; "
     "register; dialog:hide=1,args=/D:1500 /HIDE; "},
    // Refused before any switch is read: no wait, nothing stored.
    {"CopyFoundByTitleIsRefusedBeforeAnySwitch", L"/D:60000 /HIDE", 0x1234, 0, L"", 0,
     "title:KX7 HostPair Auto Connector; message:HostPair is already in operation.; "},
    {"CopyFoundByClassIsBroughtForwardSilently", L"", 0, 77, L"", 0,
     "title:KX7 HostPair Auto Connector; framework; class:KX7AutoConnector_Class; foreground:77; "},
};

class RunStartupCase : public ::testing::TestWithParam<StartupCase> {};
INSTANTIATE_TEST_SUITE_P(RunStartup, RunStartupCase, ::testing::ValuesIn(kStartups),
                         ::testing::PrintToStringParamName());

TEST_P(RunStartupCase, AsksTheWindowSystemInOrder) {
    const StartupCase& c = GetParam();
    RecordingHost host;
    host.titleWindow = c.titleWindow;
    host.classWindow = c.classWindow;
    StartupState state;
    EXPECT_FALSE(RunStartup(host, c.args, &state));
    EXPECT_EQ(host.calls, c.calls);
    EXPECT_EQ(state.m_strArguments, c.storedArguments);
    EXPECT_EQ(state.m_bHideMode, c.hideMode);
}

}  // namespace
}  // namespace kx7
