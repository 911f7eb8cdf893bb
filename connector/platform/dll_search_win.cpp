#include "connector/platform/dll_search_win.h"

#include <cwchar>

namespace kx7 {
namespace {

// Neither call exists on every system the programs run on, so neither is imported.
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD directoryFlags);
using SetDllDirectoryFn = BOOL(WINAPI*)(LPCWSTR pathName);

FARPROC Kernel32Function(const char* name) {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    return kernel32 == nullptr ? nullptr : GetProcAddress(kernel32, name);
}

// The loader understands the LOAD_LIBRARY_SEARCH_ flags exactly where it offers
// SetDefaultDllDirectories (documented with the update that brought both).
bool LoaderKnowsSearchFlags() {
    return Kernel32Function("SetDefaultDllDirectories") != nullptr;
}

}  // namespace

void RestrictDllSearchToSystem() {
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(Kernel32Function("SetDefaultDllDirectories")));
    if (setDefault != nullptr) {
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    // An empty string takes the current directory out of the search of LoadLibrary and of
    // any DLL that is loaded by name later.
    auto setDirectory = reinterpret_cast<SetDllDirectoryFn>(
        reinterpret_cast<void*>(Kernel32Function("SetDllDirectoryW")));
    if (setDirectory != nullptr) {
        setDirectory(L"");
    }
}

HMODULE LoadSystemLibrary(const wchar_t* fileName) {
    if (LoaderKnowsSearchFlags()) {
        return LoadLibraryExW(fileName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    return LoadSystemLibraryByPath(fileName);
}

HMODULE LoadSystemLibraryByPath(const wchar_t* fileName) {
    wchar_t path[MAX_PATH];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    const size_t nameLength = std::wcslen(fileName);
    if (length == 0 || length + 1 + nameLength >= MAX_PATH) {
        return nullptr;
    }
    path[length] = L'\\';
    std::wmemcpy(path + length + 1, fileName, nameLength + 1);
    // The DLL's own imports are then looked for in its folder first, not in the program's.
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace kx7
