// The cleanup launcher's Win32 shell, with the system calls it makes replaceable so that a test
// sees the start requests exactly as the shell gets them, without starting anything and without
// a box that nobody would answer.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>

#include "connector/engine/cleanup_launcher.h"
#include "connector/platform/direct_start_win.h"

namespace kx7 {

struct CleanupShellCalls {
    HINSTANCE(WINAPI* pfnShellExecuteW)
    (HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory, INT show);
    BOOL(WINAPI* pfnShellExecuteExW)(SHELLEXECUTEINFOW* info);
    HRESULT(WINAPI* pfnCoInitializeEx)(LPVOID reserved, DWORD flags);
    void(WINAPI* pfnCoUninitialize)();
    DirectStartCalls direct;
};

// The running system's calls of those names.
extern const CleanupShellCalls kSystemCleanupShellCalls;

// The elevated start asks the shell for no error box: the tool belongs to the registration
// software and is often not installed, and a box would hold the worker, and with it every
// unlock, until someone answered it (with "/HIDE" its owner window never even shows). The start
// must also be complete when the call returns, since the worker pumps no messages that an
// asynchronous start could wait for.
constexpr ULONG kCleanupRunAsMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;

// The apartment the shell calls run in: single-threaded, as the shell's extensions expect, and
// without the OLE1 DDE window that a thread pumping no messages could not serve.
constexpr DWORD kCleanupComFlags = COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE;

class Win32ShellLauncher final : public ShellLauncher {
  public:
    explicit Win32ShellLauncher(const CleanupShellCalls& calls) : calls_(calls) {}

    bool GetModulePath(std::wstring* path) override;
    bool ShellOpenHidden(const std::wstring& file) override;
    bool ShellRunAsHidden(WindowHandle owner, const std::wstring& file) override;

  private:
    const CleanupShellCalls calls_;
};

}  // namespace kx7
