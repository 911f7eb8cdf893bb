#include "connector/platform/program_version_win.h"

#include <windows.h>

#include <cstring>

namespace kx7 {

// Read from the resource itself: the version DLL that would parse it is not one of the system's
// known DLLs.
std::wstring ProgramVersion() {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
    HGLOBAL loaded = info != nullptr ? LoadResource(module, info) : nullptr;
    const auto* data = loaded != nullptr ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    const DWORD size = info != nullptr ? SizeofResource(module, info) : 0;
    // The fixed part follows the block's header and key at a 32-bit boundary; its signature
    // marks it.
    for (DWORD at = 0; data != nullptr && at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
        VS_FIXEDFILEINFO fixed;
        std::memcpy(&fixed, data + at, sizeof(fixed));
        if (fixed.dwSignature == VS_FFI_SIGNATURE) {
            return std::to_wstring(HIWORD(fixed.dwFileVersionMS)) + L"." +
                   std::to_wstring(LOWORD(fixed.dwFileVersionMS)) + L"." +
                   std::to_wstring(HIWORD(fixed.dwFileVersionLS)) + L"." +
                   std::to_wstring(LOWORD(fixed.dwFileVersionLS));
        }
    }
    return std::wstring();
}

}  // namespace kx7
