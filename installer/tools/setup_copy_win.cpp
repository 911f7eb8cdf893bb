// The MSI's action that removes a copy installed by the NSIS installer before the package puts
// its own in place: the package's upgrade rules see only other packages, and two copies would
// each register a log-on start. The copy's own uninstaller does it, silently and in place.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>

#include "installer/tools/custom_action_data_win.h"

namespace {

// A connector of the copy's that is still finishing its pass is waited for by the uninstaller.
constexpr DWORD kUninstallWaitMs = 120000;

}  // namespace

// Deferred; its data is the folder of the copy (the NSIS installer's InstallLocation).
extern "C" __declspec(dllexport) UINT __stdcall RemoveSetupCopy(MSIHANDLE install) {
    const std::wstring folder = kx7::installer::CustomActionFolder(install);
    const std::wstring uninstaller = folder + L"\\Uninstall.exe";
    if (folder.empty() || GetFileAttributesW(uninstaller.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return ERROR_SUCCESS;  // the entry of a copy whose files are gone already
    }
    // _?= makes it work in place and wait, instead of handing over to a copy of itself.
    std::wstring line = L"\"" + uninstaller + L"\" /S _?=" + folder;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(uninstaller.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return ERROR_INSTALL_FAILURE;
    }
    CloseHandle(process.hThread);
    DWORD code = 1;
    if (WaitForSingleObject(process.hProcess, kUninstallWaitMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    }
    CloseHandle(process.hProcess);
    if (code != 0) {
        return ERROR_INSTALL_FAILURE;
    }
    // Run in place, it cannot remove itself.
    DeleteFileW(uninstaller.c_str());
    RemoveDirectoryW(folder.c_str());
    return ERROR_SUCCESS;
}
