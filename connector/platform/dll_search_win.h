// Where the elevated programs take their DLLs from: the system folder only. A program started
// from a folder that others can write to (a download folder, a share) must not run a DLL that
// was left there under a system DLL's name.
#pragma once

#include <windows.h>

#include <type_traits>

namespace kx7 {

// Narrows the process's DLL search to the system folder where the loader can do so (Windows 7
// with its loader update, Windows 8 and later), takes the current directory out of the search
// everywhere else. Each program's first call, before anything loads a DLL. The calls it needs are
// looked up at run time, so that systems without them still start the program.
void RestrictDllSearchToSystem();

// A system DLL by file name ("iphlpapi.dll"), loaded from the system folder and nowhere else:
// with the loader's search flag where it knows it, else by its full path. Null on failure.
HMODULE LoadSystemLibrary(const wchar_t* fileName);

// The same through the full path from GetSystemDirectoryW only, as on a loader without search
// flags. Null on failure, or when the path would not fit.
HMODULE LoadSystemLibraryByPath(const wchar_t* fileName);

// Sets *entry to the call name of a DLL loaded as above. Declared is the type of the header's
// own declaration, taken with decltype without referring to the function (which would import
// it): an entry written with another calling convention or other parameters does not compile.
template <typename Declared, typename Fn>
bool ResolveSystemCall(HMODULE module, const char* name, Fn* entry) {
    static_assert(std::is_same<Declared, Fn>::value, "the entry's type is the header's");
    *entry = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return *entry != nullptr;
}

}  // namespace kx7
