// Which folders the installers take as the install folder: the rules, over the facts the system
// would report. Wine keeps no owners or access lists, so this is where they are checked.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "installer/tools/install_folder.h"

namespace kx7::installer {
namespace {

using V = FolderVerdict;

TEST(InstallFolder, PathsTheInstallersRefuse) {
    for (const wchar_t* good :
         {L"C:\\Program Files\\Stonevault\\KX7 HostPair", L"d:\\KX7", L"C:\\Zloty & Co\\KX7"}) {
        EXPECT_EQ(JudgePath(good), V::kAccepted) << std::wstring(good).size();
    }
    for (const wchar_t* bad :
         {L"C:\\", L"C:", L"KX7", L"\\\\server\\share\\KX7", L"\\\\?\\C:\\KX7", L"C:\\%TEMP%\\KX7",
          L"C:\\a\\..\\Windows", L"C:\\a\\.\\b", L"C:\\a\\\\b", L"C:\\KX7.", L"C:\\KX7 ",
          L"C:\\a:b", L"C:\\a\\b\\"}) {
        EXPECT_EQ(JudgePath(bad), V::kBadPath) << std::wstring(bad).size();
    }
}

constexpr uint32_t kFullControl = 0x1F01FF;
constexpr uint32_t kModify = 0x1301BF;  // includes DELETE, not delete-child
constexpr uint32_t kReadExecute = 0x1200A9;
constexpr uint32_t kCreateFolders = 0x4;

FolderState With(std::vector<AccessEntry> access, bool ownerTrusted = true) {
    FolderState state;
    state.ownerTrusted = ownerTrusted;
    access.insert(access.begin(), {true, true, false, kFullControl});  // Administrators
    state.access = access;
    return state;
}

TEST(InstallFolder, AFolderAboveMustBeOutOfOtherUsersReach) {
    const AccessEntry readers = {false, true, false, kReadExecute};
    const struct {
        FolderState state;
        bool isRoot;
        V verdict;
    } cases[] = {
        {With({readers}), false, V::kAccepted},
        // A drive's root where every user may create folders, and gives what they create Modify.
        {With({readers, {false, true, false, kCreateFolders}, {false, true, true, kModify}}), true,
         V::kAccepted},
        {With({{false, true, false, kModify}}), false, V::kReplaceableAbove},  // rename it
        {With({{false, true, false, kModify}}), true, V::kAccepted},  // a root cannot be renamed
        {With({{false, true, false, 0x40}}), true, V::kReplaceableAbove},         // delete child
        {With({{false, true, false, 0x40000}}), true, V::kReplaceableAbove},      // change the list
        {With({{false, true, false, 0x10000000}}), false, V::kReplaceableAbove},  // generic all
        {With({{false, false, false, kFullControl}}), false, V::kAccepted},       // a denial
        {With({readers}, false), false, V::kUntrustedOwner},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(JudgeFolderAbove(cases[i].state, cases[i].isRoot), cases[i].verdict) << i;
    }
    FolderState junction = With({readers});
    junction.isReparsePoint = true;
    EXPECT_EQ(JudgeFolderAbove(junction, false), V::kReparsePoint);
    FolderState open;
    open.nullAccessList = true;
    EXPECT_EQ(JudgeFolderAbove(open, true), V::kReplaceableAbove) << "no list lets anyone in";
}

TEST(InstallFolder, AnExistingFolderHoldsOnlyWhatAnInstallPutsThere) {
    const FolderState closed = With({{false, true, false, kReadExecute}});
    const FolderState open = With({{false, true, false, kModify}});  // inherited from C:\ say
    const std::vector<FolderEntry> ours = {{L"kx7autoconnector.EXE"}, {L"Uninstall.exe"}};
    const std::vector<FolderEntry> tools = {{L"SVCleanRegWin7.exe"}, {L"KX7HostCheck.exe"}};
    const struct {
        FolderState state;
        std::vector<FolderEntry> entries;
        V verdict;
        std::wstring offending;
    } cases[] = {
        {open, {}, V::kAccepted, L""},
        {open, ours, V::kAccepted, L""},
        {closed, tools, V::kAccepted, L""},
        {open, tools, V::kForeignContent, L"SVCleanRegWin7.exe"},  // anyone could have put it
        {closed,
         {{L"StonevaultStartupAgent.exe"}, {L"notes.txt"}},
         V::kForeignContent,
         L"notes.txt"},
        {closed, {{L"KX7HostCheck.exe", true}}, V::kForeignContent, L"KX7HostCheck.exe"},
        {closed, {{L"Uninstall.exe", false, true}}, V::kForeignContent, L"Uninstall.exe"},
        {closed,
         {{L"KX7HostCheck.exe", false, false, true}},
         V::kForeignContent,  // hard link
         L"KX7HostCheck.exe"},
        {With({}, false), {}, V::kUntrustedOwner, L""},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::wstring offending;
        EXPECT_EQ(JudgeExistingFolder(cases[i].state, cases[i].entries, &offending),
                  cases[i].verdict)
            << i;
        EXPECT_EQ(offending, cases[i].offending) << i;
    }
    EXPECT_EQ(FolderRefusalText(V::kForeignContent, L"C:\\KX7", L"notes.txt"),
              L"The KX7 HostPair Auto Connector cannot be installed into \"C:\\KX7\": it already "
              L"holds \"notes.txt\", which an install of this program does not put there. "
              L"Choose a new or an empty folder.");
}

}  // namespace
}  // namespace kx7::installer
