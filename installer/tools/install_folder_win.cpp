// Prepares the install folder before either installer writes a file into it: every folder above
// it is checked (and held open, so that nobody can rename it meanwhile), a missing folder is
// created already owned by the Administrators group and closed to other users, and an existing
// one is checked, then given that owner and list through a handle that does not follow a
// junction. Whoever may write into the folder could run a program with administrator rights: the
// connector starts the cleanup tools from it, and the installers run as an administrator or as
// SYSTEM.
#include <windows.h>
#include <aclapi.h>
#include <msi.h>
#include <msiquery.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "installer/tools/custom_action_data_win.h"
#include "installer/tools/install_folder.h"

namespace {

using kx7::installer::AccessEntry;
using kx7::installer::FolderEntry;
using kx7::installer::FolderState;
using kx7::installer::FolderVerdict;

// Full control for Administrators and SYSTEM, read and execute for Users, nothing inherited
// from above; inherited by everything created inside (the folder's list), or for one file.
const wchar_t kFolderSecurity[] = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";
const wchar_t kFileSecurity[] = L"O:BAD:P(A;;FA;;;BA)(A;;FA;;;SY)(A;;0x1200a9;;;BU)";
// The service that owns the system's own files.
const wchar_t kTrustedInstaller[] =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

class Descriptor {
  public:
    explicit Descriptor(const wchar_t* text) {
        ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &sd_, nullptr);
    }
    ~Descriptor() { LocalFree(sd_); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    PSECURITY_DESCRIPTOR get() const { return sd_; }
    PSID Owner() const {
        PSID owner = nullptr;
        BOOL defaulted = FALSE;
        GetSecurityDescriptorOwner(sd_, &owner, &defaulted);
        return owner;
    }
    PACL Dacl() const {
        PACL dacl = nullptr;
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        GetSecurityDescriptorDacl(sd_, &present, &dacl, &defaulted);
        return dacl;
    }

  private:
    PSECURITY_DESCRIPTOR sd_ = nullptr;
};

class Handle {
  public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    ~Handle() {
        if (valid()) {
            CloseHandle(handle_);
        }
    }
    Handle(Handle&& other) noexcept : handle_(other.handle_) {
        other.handle_ = INVALID_HANDLE_VALUE;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

  private:
    HANDLE handle_;
};

// Who may be trusted with a folder: the Administrators group, SYSTEM, TrustedInstaller, and
// the account that runs the install when it runs with the Administrators group's rights (a
// folder it made earlier belongs to it; an elevated administrator's new files belong to the
// group).
class Trust {
  public:
    Trust() {
        Add(WinBuiltinAdministratorsSid);
        Add(WinLocalSystemSid);
        PSID sid = nullptr;
        if (ConvertStringSidToSidW(kTrustedInstaller, &sid)) {
            sids_.emplace_back(static_cast<BYTE*>(sid),
                               static_cast<BYTE*>(sid) + GetLengthSid(sid));
            LocalFree(sid);
        }
        BOOL administrator = FALSE;
        if (CheckTokenMembership(nullptr, Sid(0), &administrator) && administrator) {
            AddProcessUser();
        }
    }
    bool Trusted(PSID sid) const {
        for (size_t i = 0; i < sids_.size(); ++i) {
            if (sid != nullptr && IsValidSid(sid) && EqualSid(sid, Sid(i))) {
                return true;
            }
        }
        return false;
    }

  private:
    PSID Sid(size_t i) const { return const_cast<BYTE*>(sids_[i].data()); }
    void Add(WELL_KNOWN_SID_TYPE type) {
        std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
        DWORD size = static_cast<DWORD>(sid.size());
        if (CreateWellKnownSid(type, nullptr, sid.data(), &size)) {
            sid.resize(size);
            sids_.push_back(sid);
        }
    }
    void AddProcessUser() {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
            return;
        }
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        std::vector<BYTE> user(size);
        if (size != 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size)) {
            const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
            const BYTE* bytes = static_cast<const BYTE*>(sid);
            sids_.emplace_back(bytes, bytes + GetLengthSid(sid));
        }
        CloseHandle(token);
    }
    std::vector<std::vector<BYTE>> sids_;
};

// Opened without following a junction, and shared with nobody who would rename or delete it:
// while the handle is held, the name keeps leading to this folder.
Handle OpenHeld(const std::wstring& path, DWORD access) {
    return Handle(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// The folder's kind, owner and list as the judgement needs them; original, when given,
// receives the descriptor itself (LocalFree it).
bool ReadState(HANDLE handle, const Trust& trust, FolderState* state,
               PSECURITY_DESCRIPTOR* original = nullptr) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) {
        return false;
    }
    state->isDirectory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    state->isReparsePoint = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    const DWORD status = GetSecurityInfo(handle, SE_FILE_OBJECT,
                                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                         &owner, nullptr, &dacl, nullptr, &sd);
    if (status != ERROR_SUCCESS) {
        SetLastError(status);
        return false;
    }
    state->ownerTrusted = trust.Trusted(owner);
    state->nullAccessList = dacl == nullptr;
    state->access.clear();
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) {
            continue;
        }
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        const bool allows = header->AceType == ACCESS_ALLOWED_ACE_TYPE ||
                            header->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
        const bool denies = header->AceType == ACCESS_DENIED_ACE_TYPE ||
                            header->AceType == ACCESS_DENIED_CALLBACK_ACE_TYPE;
        if (!allows && !denies) {
            continue;  // audit and object entries give no right on a folder
        }
        // Allowed and denied entries share one layout: header, mask, then the SID.
        const auto* entry = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        AccessEntry judged;
        judged.trusted = trust.Trusted(const_cast<DWORD*>(&entry->SidStart));
        judged.allows = allows;
        judged.inheritOnly = (header->AceFlags & INHERIT_ONLY_ACE) != 0;
        judged.mask = entry->Mask;
        state->access.push_back(judged);
    }
    if (original != nullptr) {
        *original = sd;
    } else {
        LocalFree(sd);
    }
    return true;
}

std::vector<FolderEntry> ListEntries(const std::wstring& folder) {
    std::vector<FolderEntry> entries;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return entries;
    }
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        FolderEntry entry{name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                          (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0};
        const Handle file = OpenHeld(folder + L"\\" + name, FILE_READ_ATTRIBUTES);
        BY_HANDLE_FILE_INFORMATION info;
        // What cannot be looked at is not taken for ours.
        entry.hasOtherNames = !file.valid() || !GetFileInformationByHandle(file.get(), &info) ||
                              info.nNumberOfLinks != 1;
        entries.push_back(entry);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return entries;
}

DWORD Apply(HANDLE handle, const Descriptor& security) {
    return SetSecurityInfo(handle, SE_FILE_OBJECT,
                           OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                               PROTECTED_DACL_SECURITY_INFORMATION,
                           security.Owner(), nullptr, security.Dacl(), nullptr);
}

// Puts a folder's own owner and list back, as they were read.
void Restore(HANDLE handle, PSECURITY_DESCRIPTOR original) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorOwner(original, &owner, &defaulted);
    GetSecurityDescriptorDacl(original, &present, &dacl, &defaulted);
    GetSecurityDescriptorControl(original, &control, &revision);
    const SECURITY_INFORMATION protection = (control & SE_DACL_PROTECTED) != 0
                                                ? PROTECTED_DACL_SECURITY_INFORMATION
                                                : UNPROTECTED_DACL_SECURITY_INFORMATION;
    SetSecurityInfo(handle, SE_FILE_OBJECT,
                    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | protection, owner,
                    nullptr, dacl, nullptr);
}

struct Outcome {
    HRESULT result = S_OK;
    std::wstring message;
};

Outcome Refused(FolderVerdict verdict, const std::wstring& folder, const std::wstring& detail) {
    return {E_ACCESSDENIED, kx7::installer::FolderRefusalText(verdict, folder, detail)};
}

Outcome Failed(const std::wstring& folder, DWORD error) {
    return {HRESULT_FROM_WIN32(error), L"The folder \"" + folder +
                                           L"\" could not be prepared for the KX7 HostPair Auto "
                                           L"Connector (error " +
                                           std::to_wstring(error) + L")."};
}

// The install folder as it exists already: judged, closed, judged again (a user who could
// write there may have added something meanwhile), and its files of ours given the folder's
// protection, since a replaced file keeps its own list.
Outcome SecureExisting(const std::wstring& folder, const Trust& trust,
                       const Descriptor& folderSecurity) {
    const Handle handle = OpenHeld(folder, READ_CONTROL | WRITE_DAC | WRITE_OWNER |
                                               FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY);
    FolderState state;
    PSECURITY_DESCRIPTOR original = nullptr;
    if (!handle.valid() || !ReadState(handle.get(), trust, &state, &original)) {
        return Failed(folder, GetLastError());
    }
    std::wstring offending;
    FolderVerdict verdict =
        kx7::installer::JudgeExistingFolder(state, ListEntries(folder), &offending);
    if (verdict != FolderVerdict::kAccepted) {
        LocalFree(original);
        return Refused(verdict, folder, offending.empty() ? folder : offending);
    }
    const DWORD status = Apply(handle.get(), folderSecurity);
    const std::vector<FolderEntry> entries = ListEntries(folder);
    verdict = kx7::installer::JudgeExistingFolder(state, entries, &offending);
    if (status != ERROR_SUCCESS || verdict != FolderVerdict::kAccepted) {
        Restore(handle.get(), original);
        LocalFree(original);
        return status != ERROR_SUCCESS ? Failed(folder, status)
                                       : Refused(verdict, folder, offending);
    }
    LocalFree(original);
    const Descriptor fileSecurity(kFileSecurity);
    for (const FolderEntry& entry : entries) {
        const Handle file =
            OpenHeld(folder + L"\\" + entry.name, READ_CONTROL | WRITE_DAC | WRITE_OWNER);
        const DWORD fileStatus = file.valid() ? Apply(file.get(), fileSecurity) : GetLastError();
        if (fileStatus != ERROR_SUCCESS) {
            return Failed(folder + L"\\" + entry.name, fileStatus);
        }
    }
    return {};
}

Outcome Prepare(const std::wstring& folder) {
    if (kx7::installer::JudgePath(folder) != FolderVerdict::kAccepted) {
        return Refused(FolderVerdict::kBadPath, folder, folder);
    }
    const Trust trust;
    const Descriptor folderSecurity(kFolderSecurity);
    if (folderSecurity.get() == nullptr) {
        return Failed(folder, GetLastError());
    }
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), folderSecurity.get(), FALSE};
    // Each folder above, from the drive's root down, is held until the install folder is safe.
    std::vector<Handle> held;
    for (size_t end = 2; end != std::wstring::npos; end = folder.find(L'\\', end + 1)) {
        const std::wstring above = end == 2 ? folder.substr(0, 3) : folder.substr(0, end);
        // A folder we create here is ours and closed like the install folder; one that
        // someone else created first is judged like any other.
        if (end != 2 && !CreateDirectoryW(above.c_str(), &attributes) &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            return Failed(above, GetLastError());
        }
        // Listing rights make the handle count against a rename's sharing; reading the list and
        // attributes alone would not.
        Handle handle = OpenHeld(above, READ_CONTROL | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY);
        FolderState state;
        if (!handle.valid() || !ReadState(handle.get(), trust, &state)) {
            return Failed(above, GetLastError());
        }
        const FolderVerdict verdict = kx7::installer::JudgeFolderAbove(state, end == 2);
        if (verdict != FolderVerdict::kAccepted) {
            return Refused(verdict, folder, above);
        }
        held.push_back(std::move(handle));
    }
    if (CreateDirectoryW(folder.c_str(), &attributes)) {
        return {};
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
        return Failed(folder, GetLastError());
    }
    return SecureExisting(folder, trust, folderSecurity);
}

}  // namespace

// For the NSIS installer: prepares FOLDER (no trailing backslash); on failure, message (of
// messageChars characters) receives what to tell the administrator.
extern "C" __declspec(dllexport) HRESULT
    __stdcall PrepareInstallFolder(const wchar_t* folder, wchar_t* message, int messageChars) {
    const Outcome outcome = Prepare(folder);
    if (message != nullptr && messageChars > 0) {
        lstrcpynW(message, outcome.message.c_str(), messageChars);
    }
    return outcome.result;
}

// The MSI's deferred action; its data is the install folder. A refusal is shown (or, with no
// user interface, logged) and fails the install.
extern "C" __declspec(dllexport) UINT __stdcall PrepareInstallFolderAction(MSIHANDLE install) {
    const Outcome outcome = Prepare(kx7::installer::CustomActionFolder(install));
    if (SUCCEEDED(outcome.result)) {
        return ERROR_SUCCESS;
    }
    const MSIHANDLE record = MsiCreateRecord(0);
    MsiRecordSetStringW(record, 0, outcome.message.c_str());
    MsiProcessMessage(install, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_OK), record);
    MsiCloseHandle(record);
    return ERROR_INSTALL_FAILURE;
}
