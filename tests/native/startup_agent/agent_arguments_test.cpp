// The agent's command line as a log-on entry or a user would write it.
#include "startup_agent/agent_arguments.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace kx7 {
namespace agent {
namespace {

struct Parsed {
    AgentAction action;
    int32_t delayMs;
    int32_t hide;
    std::u16string path;
    std::u16string line;  // the argument string after parsing: upper-cased in place
};

Parsed Parse(const std::string& line) {
    std::vector<char16_t> buffer(line.begin(), line.end());  // ASCII lines only
    buffer.push_back(u'\0');
    AgentArguments parsed;
    parsed.nDelayMs = 12345;  // must be reset by the parser
    parsed.bHide = 1;
    parsed.szPath[0] = u'X';
    const AgentAction action = ParseAgentArguments(buffer.data(), &parsed);
    return {action, parsed.nDelayMs, parsed.bHide, std::u16string(parsed.szPath),
            std::u16string(buffer.data())};
}

// Lines that start the connector: what each switch comes to, whatever their order and case.
struct StartCase {
    const char* name;
    const char* line;
    int32_t delayMs, hide;
    const char16_t* path;
    friend void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }
};
const StartCase kStartCases[] = {
    {"LogOnEntry", "/D:3000 /HIDE /S:C:\\Tools\\Connector.exe", 3000, 1,
     u"C:\\TOOLS\\CONNECTOR.EXE"},
    {"SwitchesSwapped", "/HIDE /D:3000 /S:C:\\Tools\\Connector.exe", 3000, 1,
     u"C:\\TOOLS\\CONNECTOR.EXE"},
    {"LowerCase", "/d:500 /s:c:\\tools\\connector.exe", 500, 0, u"C:\\TOOLS\\CONNECTOR.EXE"},
    {"LowerCaseHide", "/hide /s:x.exe", 0, 1, u"X.EXE"},
    // The path runs to the end of the line, spaces, later switches and trailing blanks included;
    // the hide flag is still seen after the path.
    {"PathWithSpace", "/HIDE /S:C:\\Program Files\\Connector.exe", 0, 1,
     u"C:\\PROGRAM FILES\\CONNECTOR.EXE"},
    {"SwitchAfterPath", "/S:C:\\Tools\\Connector.exe /HIDE", 0, 1,
     u"C:\\TOOLS\\CONNECTOR.EXE /HIDE"},
    {"TrailingBlanks", "/S:C:\\A.EXE  ", 0, 0, u"C:\\A.EXE  "},
    // Delay texts without digits still start at once.
    {"DelayLetters", "/D:ABC /S:X.EXE", 0, 0, u"X.EXE"},
    {"DelayWord", "/d:soon /S:X.EXE", 0, 0, u"X.EXE"},
    {"DelayEmpty", "/D: /S:X.EXE", 0, 0, u"X.EXE"},
    {"DelayMinusOnly", "/D:- /S:X.EXE", 0, 0, u"X.EXE"},
    // Hide needs its slash but may stand anywhere, inside the path too.
    {"HideWithoutSlash", "HIDE /S:X.EXE", 0, 0, u"X.EXE"},
    {"HideFolderWithoutSlash", "/S:C:\\HIDE\\X.EXE", 0, 0, u"C:\\HIDE\\X.EXE"},
    {"HideStartingAWord", "/HIDEOUT /S:X.EXE", 0, 1, u"X.EXE"},
    {"HideAfterASlashInThePath", "/S:C:\\TOOLS/HIDE\\X.EXE", 0, 1, u"C:\\TOOLS/HIDE\\X.EXE"},
    {"HideBetweenSwitchesWithoutSpaces", "/D:10/HIDE/S:X.EXE", 10, 1, u"X.EXE"},
    // The delay follows atoi up to the first space.
    {"DelayZero", "/D:0 /S:X.EXE", 0, 0, u"X.EXE"},
    {"DelayNegative", "/D:-100 /S:X.EXE", -100, 0, u"X.EXE"},
    {"DelayWithPlusSign", "/D:+250 /S:X.EXE", 250, 0, u"X.EXE"},
    {"DelayWithUnit", "/D:1500MS /S:X.EXE", 1500, 0, u"X.EXE"},
    {"DelayAfterTab", "/D:\t42 /S:X.EXE", 42, 0, u"X.EXE"},
    // The text ends at the space, so a number after it is not part of the delay.
    {"DelaySpaceBeforeNumber", "/D: 500 /S:X.EXE", 0, 0, u"X.EXE"},
    {"DelayNumberAfterThePath", "/D:/S:X.EXE 700", 0, 0, u"X.EXE 700"},
    {"NoDelay", "/S:X.EXE", 0, 0, u"X.EXE"},
    {"DelayWithoutSlash", "D:500 /S:X.EXE", 0, 0, u"X.EXE"},
    // Only the first "/D:" counts, also when it stands in the path.
    {"FirstDelayCounts", "/D:20 /D:30 /S:X.EXE", 20, 0, u"X.EXE"},
    {"DelayInThePath", "/S:C:\\X/D:77\\Y.EXE", 77, 0, u"C:\\X/D:77\\Y.EXE"},
};

class AgentStartLine : public ::testing::TestWithParam<StartCase> {};
INSTANTIATE_TEST_SUITE_P(AgentArguments, AgentStartLine, ::testing::ValuesIn(kStartCases),
                         ::testing::PrintToStringParamName());

TEST_P(AgentStartLine, IsRead) {
    const Parsed parsed = Parse(GetParam().line);
    EXPECT_EQ(parsed.action, AgentAction::kStart);
    EXPECT_EQ(parsed.delayMs, GetParam().delayMs);
    EXPECT_EQ(parsed.hide, GetParam().hide);
    EXPECT_EQ(parsed.path, GetParam().path);
}

TEST(AgentArguments, LineIsUpperCasedInPlace) {
    EXPECT_EQ(Parse("/D:3000 /HIDE /S:C:\\Tools\\Connector.exe").line,
              u"/D:3000 /HIDE /S:C:\\TOOLS\\CONNECTOR.EXE");
}

TEST(AgentArguments, LongDelayTextsAreReadWholeAndLargeNumbersSaturate) {
    // Written without spaces the delay text runs into the path; its number is still the one
    // it starts with, however long the rest.
    const std::string farPath = "C:\\" + std::string(250, 'D') + ".EXE";
    const Parsed joined = Parse("/D:3000/HIDE/S:" + farPath);
    EXPECT_EQ(joined.action, AgentAction::kStart);
    EXPECT_EQ(joined.delayMs, 3000);
    EXPECT_EQ(joined.hide, 1);
    EXPECT_EQ(joined.path, std::u16string(farPath.begin(), farPath.end()));

    EXPECT_EQ(Parse("/D:" + std::string(300, '0') + "3000 /S:X.EXE").delayMs, 3000);
    EXPECT_EQ(Parse("/D:2147483647 /S:X.EXE").delayMs, INT32_MAX);
    EXPECT_EQ(Parse("/D:2147483648 /S:X.EXE").delayMs, INT32_MAX);
    EXPECT_EQ(Parse("/D:" + std::string(400, '9') + " /S:X.EXE").delayMs, INT32_MAX);
    EXPECT_EQ(Parse("/D:-2147483648 /S:X.EXE").delayMs, INT32_MIN);
    EXPECT_EQ(Parse("/D:-99999999999 /S:X.EXE").delayMs, INT32_MIN);
}

TEST(AgentArguments, NothingToStartWithoutAPath) {
    for (const char* line : {"", "/D:3000 /HIDE", "/HIDE /S:", "/S", "S:X.EXE"}) {
        const Parsed parsed = Parse(line);
        EXPECT_EQ(parsed.action, AgentAction::kNothingToStart) << line;
        EXPECT_EQ(parsed.path, u"") << line;
    }
    AgentArguments parsed;
    EXPECT_EQ(ParseAgentArguments(nullptr, &parsed), AgentAction::kNothingToStart);
    EXPECT_EQ(parsed.nDelayMs, 0);
    EXPECT_EQ(parsed.bHide, 0);
}

TEST(AgentArguments, PathOf259FitsAndLongerOnesAreRefusedNotCut) {
    // 259 characters: the whole buffer but its terminator.
    const std::string fits = "C:\\" + std::string(252, 'P') + ".EXE";
    ASSERT_EQ(fits.size(), 259u);
    const Parsed full = Parse("/D:3000 /S:" + fits);
    EXPECT_EQ(full.action, AgentAction::kStart);
    EXPECT_EQ(full.path, std::u16string(fits.begin(), fits.end()));
    EXPECT_EQ(full.delayMs, 3000);

    // One more character would have been cut back to exactly that path: nothing starts.
    for (const std::string& tail : {std::string("X"), std::string(2000, 'X')}) {
        const Parsed refused = Parse("/D:3000 /HIDE /S:" + fits + tail);
        EXPECT_EQ(refused.action, AgentAction::kNothingToStart) << tail.size();
        EXPECT_EQ(refused.path, u"") << tail.size();
    }
}

TEST(AgentArguments, OnlyAsciiLettersAreUpperCasedAndTheRestOfThePathIsKept) {
    // A Polish l with stroke, a German sharp s and a key beyond the first plane (two code
    // units) arrive as they were written; none has an ASCII look-alike substituted.
    std::u16string line = u"/s:c:\\z\u0142oty\\stra\u00DFe\\\U0001F511.exe";
    AgentArguments parsed;
    ASSERT_EQ(ParseAgentArguments(&line[0], &parsed), AgentAction::kStart);
    EXPECT_EQ(std::u16string(parsed.szPath), u"C:\\Z\u0142OTY\\STRA\u00DFE\\\U0001F511.EXE");
    EXPECT_EQ(line, u"/S:" + std::u16string(parsed.szPath));
}

}  // namespace
}  // namespace agent
}  // namespace kx7
