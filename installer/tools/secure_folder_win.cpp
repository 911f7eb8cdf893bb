// Makes the install folder writable by administrators and the system only. The connector runs
// elevated and starts the cleanup tools from its own folder, so whoever may put a file there
// may run it with administrator rights. Program Files is already closed to users, but a folder
// chosen elsewhere (C:\KX7) inherits a permission that lets every user create files in it.
#include <windows.h>
#include <aclapi.h>
#include <msi.h>
#include <msiquery.h>
#include <sddl.h>

#include <string>

#include "installer/tools/custom_action_data_win.h"

// A protected list, inherited by everything in the folder: full control for Administrators and
// SYSTEM, read and execute for Users. The same for any folder, Program Files included, where it
// replaces what it would have inherited with no more than that.
extern "C" __declspec(dllexport) HRESULT __stdcall SecureFolder(const wchar_t* folder) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)", SDDL_REVISION_1,
            &descriptor, nullptr)) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    std::wstring path = folder;
    const DWORD status = SetNamedSecurityInfoW(
        &path[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
        nullptr, nullptr, dacl, nullptr);
    LocalFree(descriptor);
    return HRESULT_FROM_WIN32(status);
}

// The MSI's deferred action; its data is the install folder.
extern "C" __declspec(dllexport) UINT __stdcall SecureInstallFolder(MSIHANDLE install) {
    return SUCCEEDED(SecureFolder(kx7::installer::CustomActionFolder(install).c_str()))
               ? ERROR_SUCCESS
               : ERROR_INSTALL_FAILURE;
}
