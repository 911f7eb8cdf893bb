// Whether a folder may become the install folder. The connector runs elevated and starts the
// cleanup tools from its own folder, and the installers run as an administrator or as SYSTEM,
// so the folder, and every folder above it, must be out of any other user's reach before a file
// is written into it: nobody else may own it, change its permissions, rename it or anything
// above it, or have left files in it. The facts come from the system (install_folder_win.cpp);
// the judgement is here, where it is tested without one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kx7::installer {

// One entry of a folder's access list, as far as the judgement goes. Trusted are the
// Administrators group, SYSTEM, TrustedInstaller and the administrator who runs the install.
struct AccessEntry {
    bool trusted = false;
    bool allows = true;        // a deny entry only ever takes rights away
    bool inheritOnly = false;  // given to what is created inside, not to the folder itself
    uint32_t mask = 0;
};

struct FolderState {
    bool isDirectory = true;
    bool isReparsePoint = false;  // a junction or link: the name leads somewhere else
    bool ownerTrusted = true;     // the owner may always change the access list
    bool nullAccessList = false;  // no list at all: everyone may do everything
    std::vector<AccessEntry> access;
};

struct FolderEntry {
    std::wstring name;
    bool isDirectory = false;
    bool isReparsePoint = false;
    // A hard link: the file has another name too, perhaps a system file's, whose list and
    // contents the install would change through this one.
    bool hasOtherNames = false;
};

enum class FolderVerdict {
    kAccepted,
    kBadPath,           // not a full path to a folder below a drive's root, or holds '%'
    kNotADirectory,     // a file of that name
    kReparsePoint,      // the folder, or one above it, leads elsewhere
    kUntrustedOwner,    // the folder, or one above it, belongs to another user
    kReplaceableAbove,  // another user may rename or re-permit a folder above it
    kForeignContent,    // the folder holds what an install of ours does not put there
};

// The files an install of ours leaves in the folder.
extern const wchar_t* const kInstalledFiles[5];
// The registry cleanup tools, which an administrator puts beside the connector.
extern const wchar_t* const kCleanupTools[2];

// The path alone: a full path "X:\folder[\...]" with no '%' (the task scheduler would expand
// "%VAR%" in the log-on start), no "." or ".." component, no empty component.
FolderVerdict JudgePath(const std::wstring& folder);

// A folder above the install folder, the drive's root included (for which renaming it means
// nothing): it must not lead elsewhere and no other user may own it, change its list or owner,
// rename it, or rename or delete what is in it.
FolderVerdict JudgeFolderAbove(const FolderState& state, bool isRoot);

// The install folder as it exists already: a directory, trusted owner, and holding nothing but
// the files an install of ours leaves, plus the cleanup tools where no other user could have
// put them there. offending receives the name of the first entry that is not ours.
FolderVerdict JudgeExistingFolder(const FolderState& state, const std::vector<FolderEntry>& entries,
                                  std::wstring* offending);

// What the installers tell the administrator. detail is the folder concerned, or the offending
// entry for kForeignContent.
std::wstring FolderRefusalText(FolderVerdict verdict, const std::wstring& folder,
                               const std::wstring& detail);

}  // namespace kx7::installer
