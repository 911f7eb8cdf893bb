// How an elevated program starts another one. Asked to start a program, the shell looks its
// verb up in the file classes, which merge the user's own, writable ones: from an elevated
// process that lookup could run a program of the user's choosing with administrator rights. A
// program that has the rights already starts the other one itself, by its full path. Shared by
// the startup agent and the connector's cleanup launcher; only the Win32 builds see it.
#pragma once

#include <windows.h>

namespace kx7 {

// The system calls of a direct start, replaceable so that a test sees what is asked for
// without starting anything.
struct DirectStartCalls {
    BOOL(WINAPI* pfnOpenProcessToken)(HANDLE process, DWORD access, HANDLE* token);
    BOOL(WINAPI* pfnGetTokenInformation)
    (HANDLE token, TOKEN_INFORMATION_CLASS kind, void* information, DWORD size, DWORD* returned);
    BOOL(WINAPI* pfnCreateProcessW)
    (const wchar_t* application, wchar_t* commandLine, SECURITY_ATTRIBUTES* processAttributes,
     SECURITY_ATTRIBUTES* threadAttributes, BOOL inheritHandles, DWORD flags, void* environment,
     const wchar_t* directory, STARTUPINFOW* startup, PROCESS_INFORMATION* process);
    BOOL(WINAPI* pfnCloseHandle)(HANDLE handle);
};

extern const DirectStartCalls kSystemDirectStartCalls;

// Whether this process's token is elevated. False where the query is unknown (before Vista)
// or fails: the caller then asks the shell, as it always did.
bool RunsElevated(const DirectStartCalls& calls);

// Starts the program at path (a full path) with parameters (or none), its window shown as
// show, without waiting for it. The command line quotes the path as the system quotes a
// program's own name, so that a path with spaces reads as one name. False when nothing was
// started, or when the line would not fit a path of 520 characters.
bool StartDirectly(const DirectStartCalls& calls, const wchar_t* path, const wchar_t* parameters,
                   WORD show);

}  // namespace kx7
