// The device-setup calls the programs make. SETUPAPI.DLL is not a known DLL on Windows XP, so
// it is never imported, where a copy planted beside the program would be loaded in its place:
// it is loaded from the system folder on first use and its calls are reached through this one
// table, the same code on every architecture. Only the Win32 build sees this header.
#pragma once

#include <windows.h>

#include <setupapi.h>

namespace kx7 {

// Each entry has the exact type the system header declares (checked where it is resolved),
// calling convention included, so a call through it cleans the stack as the callee does.
struct SetupApi {
    HDEVINFO(WINAPI* GetClassDevsW)(const GUID*, PCWSTR, HWND, DWORD);
    BOOL(WINAPI* EnumDeviceInterfaces)
    (HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD, PSP_DEVICE_INTERFACE_DATA);
    BOOL(WINAPI* GetDeviceInterfaceDetailW)
    (HDEVINFO, PSP_DEVICE_INTERFACE_DATA, PSP_DEVICE_INTERFACE_DETAIL_DATA_W, DWORD, PDWORD,
     PSP_DEVINFO_DATA);
    BOOL(WINAPI* EnumDeviceInfo)(HDEVINFO, DWORD, PSP_DEVINFO_DATA);
    BOOL(WINAPI* GetDeviceInstanceIdW)(HDEVINFO, PSP_DEVINFO_DATA, PWSTR, DWORD, PDWORD);
    BOOL(WINAPI* GetDeviceRegistryPropertyW)
    (HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD);
    BOOL(WINAPI* DestroyDeviceInfoList)(HDEVINFO);
    BOOL(WINAPI* GetClassDescriptionW)(const GUID*, PWSTR, DWORD, PDWORD);
    BOOL(WINAPI* GetClassImageList)(PSP_CLASSIMAGELIST_DATA);
    BOOL(WINAPI* GetClassImageIndex)(PSP_CLASSIMAGELIST_DATA, const GUID*, PINT);
    BOOL(WINAPI* DestroyClassImageList)(PSP_CLASSIMAGELIST_DATA);
};

// Fills every entry from module. False, with the table emptied and the error of the first
// call that is missing as the thread's last error, unless module has them all: a table that is
// half there would fail at some call deep in a device event instead of at the first.
bool ResolveSetupApi(HMODULE module, SetupApi* table);

// The system's table, resolved on the first call of any thread and kept for the life of the
// process, as an import would be. Null when the DLL or one of its calls cannot be had; the
// thread's last error then says why (the DLL's load error, or ERROR_PROC_NOT_FOUND), so the
// caller fails as it fails when the system refuses the call itself.
const SetupApi* SystemSetupApi();

}  // namespace kx7
