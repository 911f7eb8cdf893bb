// What the MSI's deferred actions are given: the install folder.
#pragma once

#include <windows.h>
#include <msiquery.h>

#include <string>

namespace kx7::installer {

// The custom action's data, without the trailing backslash the installer gives folder
// properties.
inline std::wstring CustomActionFolder(MSIHANDLE install) {
    DWORD length = 0;
    wchar_t empty[1] = L"";
    MsiGetPropertyW(install, L"CustomActionData", empty, &length);
    std::wstring folder(length + 1, L'\0');
    length += 1;
    MsiGetPropertyW(install, L"CustomActionData", &folder[0], &length);
    folder.resize(length);
    while (!folder.empty() && folder.back() == L'\\') {
        folder.pop_back();
    }
    return folder;
}

}  // namespace kx7::installer
