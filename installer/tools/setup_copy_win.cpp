// Removes a copy installed earlier in another folder before an install puts its own in place,
// so that one copy remains and its log-on start and Add/Remove Programs entry are the new one's.
// The copy's own uninstaller is not run: it lies in a folder that a user may have been able to
// write to (a copy made before folders were protected, or in a folder a user made first), and
// the installers run as an administrator or as SYSTEM. What the copy registered goes only where
// it names that copy's folder, as its uninstaller would check, and its files only by their
// known names, and not at all when the folder's name leads somewhere else.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>

#include "installer/tools/custom_action_data_win.h"
#include "installer/tools/install_folder.h"

extern "C" HRESULT __stdcall RemoveLogonStartIn(const wchar_t* folder);
extern "C" HRESULT __stdcall RemoveHostPairServiceIn(const wchar_t* folder, wchar_t* other,
                                                     int otherSize);

namespace {

const wchar_t kUninstallKeys[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const wchar_t kUninstallName[] = L"KX7HostPair";
const wchar_t kEventSourceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\KX7 HostPair";

// A string value of the key named under parent, or empty; the stored text need not end with a
// terminator.
std::wstring ReadText(HKEY parent, const wchar_t* keyName, const wchar_t* valueName) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, keyName, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return std::wstring();
    }
    wchar_t text[1024] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    DWORD type = 0;
    const LONG status =
        RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    const bool textType = type == REG_SZ || type == REG_EXPAND_SZ;
    return status == ERROR_SUCCESS && textType ? std::wstring(text) : std::wstring();
}

bool SameText(const std::wstring& a, const std::wstring& b) {
    return lstrcmpiW(a.c_str(), b.c_str()) == 0;
}

// Everything the copy in FOLDER registered and put there, each only if it is that copy's.
HRESULT RemoveCopyIn(const std::wstring& folder) {
    if (folder.empty()) {
        return S_OK;
    }
    const HRESULT logonStart = RemoveLogonStartIn(folder.c_str());
    // Its service too, which holds its program open while it runs; another program's service of
    // that name stays.
    RemoveHostPairServiceIn(folder.c_str(), nullptr, 0);
    if (SameText(ReadText(HKEY_LOCAL_MACHINE, kEventSourceKey, L"EventMessageFile"),
                 folder + L"\\KX7AutoConnector.exe")) {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kEventSourceKey);
    }
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        for (const wchar_t* name : kx7::installer::kInstalledFiles) {
            DeleteFileW((folder + L"\\" + name).c_str());
        }
        RemoveDirectoryW(folder.c_str());  // only when nothing else is left
        // And the publisher's folder above it, when empty, as the copy's uninstaller would.
        const std::wstring parent = folder.substr(0, folder.rfind(L'\\'));
        const std::wstring publisher = L"\\Stonevault";
        if (parent.size() > publisher.size() &&
            SameText(parent.substr(parent.size() - publisher.size()), publisher)) {
            RemoveDirectoryW(parent.c_str());
        }
    }
    // Last, as its uninstaller would: the entry goes once everything else has.
    HKEY entries = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKeys, 0,
                      KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | DELETE | KEY_WOW64_32KEY,
                      &entries) == ERROR_SUCCESS) {
        // Through the 32-bit view's own key, which the entry lies under (the installers are
        // 32-bit), on every system: the call that names a view is missing on XP.
        if (SameText(ReadText(entries, kUninstallName, L"InstallLocation"), folder)) {
            RegDeleteKeyW(entries, kUninstallName);
        }
        RegCloseKey(entries);
    }
    return logonStart;
}

}  // namespace

// For the NSIS installer: removes the copy in FOLDER (no trailing backslash).
extern "C" __declspec(dllexport) HRESULT __stdcall RemoveEarlierCopy(const wchar_t* folder) {
    return RemoveCopyIn(folder);
}

// The MSI's deferred action; its data is the folder of a copy the NSIS installer put there (its
// Add/Remove Programs entry's InstallLocation). A log-on start that cannot be removed names a
// program that is gone, and this install registers its own: the install goes on.
extern "C" __declspec(dllexport) UINT __stdcall RemoveSetupCopy(MSIHANDLE install) {
    RemoveCopyIn(kx7::installer::CustomActionFolder(install));
    return ERROR_SUCCESS;
}
