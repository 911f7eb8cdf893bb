#include "connector/engine/cleanup_launcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fakes/recording_shell.h"

namespace kx7 {
namespace {

const std::wstring kConnectorPath = L"C:\\Program Files\\Stone vault\\KX7AutoConnector.exe";
const std::wstring kConnectorDir = L"C:\\Program Files\\Stone vault";
constexpr WindowHandle kDialog = 0x1A2B3C;

using test::RecordingShell;
using test::ShellCall;

TEST(LaunchRegistryCleanup, ToolFollowsOsVersion) {
    struct Case {
        uint32_t version;
        bool elevated;
    };
    // 0 is what the dialog holds when the version query failed.
    const Case cases[] = {{0x501, false}, {0, false},    {0x5FF, false},
                          {0x600, true},  {0x601, true}, {0xA00, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        RecordingShell shell;
        LaunchRegistryCleanup(shell, c.version, kDialog);
        ASSERT_EQ(shell.calls.size(), 1u);
        const ShellCall& call = shell.calls[0];
        if (c.elevated) {
            EXPECT_EQ(call.verb, L"runas");
            EXPECT_EQ(call.owner, kDialog);
            EXPECT_EQ(call.file, kConnectorDir + L"\\SVCleanRegWin7.exe");
        } else {
            EXPECT_EQ(call.verb, L"open");
            EXPECT_EQ(call.file, kConnectorDir + L"\\SVCleanRegXP.exe");
        }
    }
}

TEST(LaunchRegistryCleanup, DirectoryEndsAtLastBackslash) {
    RecordingShell shell;
    // Forward slashes and dots are part of names here; only the last backslash separates.
    shell.modulePath = L"\\\\?\\D:\\a.b\\c/d\\KX7AutoConnector.exe";
    LaunchRegistryCleanup(shell, 0x601, kDialog);
    ASSERT_EQ(shell.calls.size(), 1u);
    EXPECT_EQ(shell.calls[0].file, L"\\\\?\\D:\\a.b\\c/d\\SVCleanRegWin7.exe");
}

TEST(LaunchRegistryCleanup, NothingStartsWithoutAWholeDirectoryAndNoFailedStartIsNamed) {
    RecordingShell failed;
    failed.pathAvailable = false;  // also what a cut-off path reports
    LaunchRegistryCleanup(failed, 0x601, kDialog);
    LaunchRegistryCleanup(failed, 0x501, kDialog);
    EXPECT_TRUE(failed.calls.empty());

    RecordingShell bare;
    bare.modulePath = L"C:/tools/KX7AutoConnector.exe";
    LaunchRegistryCleanup(bare, 0x601, kDialog);
    LaunchRegistryCleanup(bare, 0x501, kDialog);
    EXPECT_TRUE(bare.calls.empty());

    RecordingShell refused;  // the tool is missing, say: it is asked for but not named
    refused.starts = false;
    EXPECT_EQ(LaunchRegistryCleanup(refused, 0x601, kDialog), L"");
    EXPECT_EQ(LaunchRegistryCleanup(refused, 0x501, kDialog), L"");
}

}  // namespace
}  // namespace kx7
