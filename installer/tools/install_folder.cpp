#include "installer/tools/install_folder.h"

#include <cwctype>

namespace kx7::installer {

const wchar_t* const kInstalledFiles[5] = {L"KX7AutoConnector.exe", L"StonevaultStartupAgent.exe",
                                           L"KX7HostCheck.exe", L"KX7HostPairService.exe",
                                           L"Uninstall.exe"};
const wchar_t* const kCleanupTools[2] = {L"SVCleanRegWin7.exe", L"SVCleanRegXP.exe"};

namespace {

// Access rights as the system numbers them for folders.
constexpr uint32_t kAddFile = 0x2;
constexpr uint32_t kAddSubdirectory = 0x4;
constexpr uint32_t kWriteExtendedAttributes = 0x10;
constexpr uint32_t kDeleteChild = 0x40;
constexpr uint32_t kWriteAttributes = 0x100;
constexpr uint32_t kDelete = 0x10000;
constexpr uint32_t kWriteDac = 0x40000;
constexpr uint32_t kWriteOwner = 0x80000;
constexpr uint32_t kMaximumAllowed = 0x2000000;
constexpr uint32_t kGenericAll = 0x10000000;
constexpr uint32_t kGenericWrite = 0x40000000;

// What lets a user take a folder's place: change its list or owner, rename it (a root cannot
// be renamed), or rename and delete what is in it.
constexpr uint32_t kReplaces =
    kWriteDac | kWriteOwner | kDeleteChild | kMaximumAllowed | kGenericAll;
// What lets a user put something into a folder, or take its place.
constexpr uint32_t kWrites = kReplaces | kAddFile | kAddSubdirectory | kWriteExtendedAttributes |
                             kWriteAttributes | kDelete | kGenericWrite;

// Whether anyone but the trusted holds one of rights on the folder itself.
bool OthersHold(const FolderState& state, uint32_t rights) {
    if (state.nullAccessList) {
        return true;
    }
    for (const AccessEntry& entry : state.access) {
        if (!entry.trusted && entry.allows && !entry.inheritOnly && (entry.mask & rights) != 0) {
            return true;
        }
    }
    return false;
}

bool SameName(const std::wstring& a, const wchar_t* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != L'\0'; ++i) {
        if (std::towlower(static_cast<std::wint_t>(a[i])) !=
            std::towlower(static_cast<std::wint_t>(b[i]))) {
            return false;
        }
    }
    return i == a.size() && b[i] == L'\0';
}

template <size_t N>
bool OneOf(const std::wstring& name, const wchar_t* const (&names)[N]) {
    for (const wchar_t* candidate : names) {
        if (SameName(name, candidate)) {
            return true;
        }
    }
    return false;
}

// A component the system would read as another one ("KX7." is "KX7"), or not as a name at all.
bool BadComponent(const std::wstring& component) {
    if (component.empty() || component.back() == L'.' || component.back() == L' ') {
        return true;
    }
    for (const wchar_t c : component) {
        if (c < 0x20 || std::wstring(L"<>:\"/|?*%").find(c) != std::wstring::npos) {
            return true;
        }
    }
    return false;
}

// A real folder (not a file, not a name that leads elsewhere) of a trusted owner.
FolderVerdict JudgeKindAndOwner(const FolderState& state) {
    if (!state.isDirectory) {
        return FolderVerdict::kNotADirectory;
    }
    if (state.isReparsePoint) {
        return FolderVerdict::kReparsePoint;
    }
    if (!state.ownerTrusted) {
        return FolderVerdict::kUntrustedOwner;
    }
    return FolderVerdict::kAccepted;
}

}  // namespace

FolderVerdict JudgePath(const std::wstring& folder) {
    const bool drive = folder.size() > 3 && std::iswalpha(static_cast<std::wint_t>(folder[0])) &&
                       folder[1] == L':' && folder[2] == L'\\';
    if (!drive) {
        return FolderVerdict::kBadPath;
    }
    size_t start = 3;
    for (;;) {
        const size_t end = folder.find(L'\\', start);
        if (BadComponent(folder.substr(start, end - start))) {
            return FolderVerdict::kBadPath;
        }
        if (end == std::wstring::npos) {
            return FolderVerdict::kAccepted;
        }
        start = end + 1;
    }
}

FolderVerdict JudgeFolderAbove(const FolderState& state, bool isRoot) {
    const FolderVerdict kind = JudgeKindAndOwner(state);
    if (kind != FolderVerdict::kAccepted) {
        return kind;
    }
    if (OthersHold(state, isRoot ? kReplaces : kReplaces | kDelete)) {
        return FolderVerdict::kReplaceableAbove;
    }
    return FolderVerdict::kAccepted;
}

FolderVerdict JudgeExistingFolder(const FolderState& state, const std::vector<FolderEntry>& entries,
                                  std::wstring* offending) {
    const FolderVerdict kind = JudgeKindAndOwner(state);
    if (kind != FolderVerdict::kAccepted) {
        return kind;
    }
    // Files of ours are replaced by the install. A cleanup tool is started with administrator
    // rights, so it may stay only where nobody else could have put it.
    const bool othersWrite = OthersHold(state, kWrites);
    for (const FolderEntry& entry : entries) {
        const bool plainFile = !entry.isDirectory && !entry.isReparsePoint && !entry.hasOtherNames;
        if (!plainFile || !(OneOf(entry.name, kInstalledFiles) ||
                            (!othersWrite && OneOf(entry.name, kCleanupTools)))) {
            *offending = entry.name;
            return FolderVerdict::kForeignContent;
        }
    }
    return FolderVerdict::kAccepted;
}

std::wstring FolderRefusalText(FolderVerdict verdict, const std::wstring& folder,
                               const std::wstring& detail) {
    const std::wstring intro =
        L"The KX7 HostPair Auto Connector cannot be installed into \"" + folder + L"\": ";
    const std::wstring quoted = L"\"" + detail + L"\"";
    switch (verdict) {
        case FolderVerdict::kAccepted:
            return std::wstring();
        case FolderVerdict::kBadPath:
            return intro +
                   L"choose a full path to a folder below a drive's root, such as "
                   L"C:\\Program Files\\Stonevault\\KX7 HostPair, without %, \".\" or \"..\".";
        case FolderVerdict::kNotADirectory:
            return intro + quoted + L" is a file, not a folder.";
        case FolderVerdict::kReparsePoint:
            return intro + quoted + L" is a junction or link to another place.";
        case FolderVerdict::kUntrustedOwner:
            return intro + quoted +
                   L" belongs to a user who is not an administrator, who could let anyone write "
                   L"there.";
        case FolderVerdict::kReplaceableAbove:
            return intro + L"users who are not administrators may rename " + quoted +
                   L", or what is in it, or change who may write there, and so put a folder of "
                   L"their own in its place.";
        case FolderVerdict::kForeignContent:
            return intro + L"it already holds " + quoted +
                   L", which an install of this program does not put there. Choose a new or "
                   L"an empty folder.";
    }
    return intro;
}

}  // namespace kx7::installer
