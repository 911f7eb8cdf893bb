#include "service/console_sessions_win.h"

#include <sddl.h>
#include <userenv.h>
#include <wtsapi32.h>

#include <string>
#include <vector>

#include "connector/engine/cleanup_launcher_win.h"
#include "connector/platform/dll_search_win.h"

namespace kx7 {
namespace {

struct SessionApi {
    BOOL(WINAPI* QueryUserToken)(ULONG, PHANDLE);
    BOOL(WINAPI* SendMessageW)
    (HANDLE, DWORD, LPWSTR, DWORD, LPWSTR, DWORD, DWORD, DWORD, DWORD*, BOOL);
    BOOL(WINAPI* CreateEnvironmentBlock)(LPVOID*, HANDLE, BOOL);
    BOOL(WINAPI* DestroyEnvironmentBlock)(LPVOID);
};

// Resolved once, all or nothing; null when a DLL or a call cannot be had, and then the service
// sees nobody at the console.
const SessionApi* SystemSessionApi() {
    static const SessionApi* const api = []() -> const SessionApi* {
        static SessionApi table{};
        HMODULE wts = LoadSystemLibrary(L"wtsapi32.dll");
        HMODULE userenv = LoadSystemLibrary(L"userenv.dll");
        const bool all = wts != nullptr && userenv != nullptr &&
                         ResolveSystemCall<decltype(&::WTSQueryUserToken)>(wts, "WTSQueryUserToken",
                                                                           &table.QueryUserToken) &&
                         ResolveSystemCall<decltype(&::WTSSendMessageW)>(wts, "WTSSendMessageW",
                                                                         &table.SendMessageW) &&
                         ResolveSystemCall<decltype(&::CreateEnvironmentBlock)>(
                             userenv, "CreateEnvironmentBlock", &table.CreateEnvironmentBlock) &&
                         ResolveSystemCall<decltype(&::DestroyEnvironmentBlock)>(
                             userenv, "DestroyEnvironmentBlock", &table.DestroyEnvironmentBlock);
        return all ? &table : nullptr;
    }();
    return api;
}

// The primary token of the user logged on in the console's session, or null.
HANDLE ConsoleUserToken(DWORD* session) {
    const SessionApi* api = SystemSessionApi();
    *session = WTSGetActiveConsoleSessionId();
    HANDLE token = nullptr;
    if (api == nullptr || *session == 0xFFFFFFFF || !api->QueryUserToken(*session, &token)) {
        return nullptr;
    }
    return token;
}

std::wstring UserSidText(HANDLE token) {
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    wchar_t* text = nullptr;
    std::wstring sid;
    if (size != 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size) != FALSE &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
        sid = text;
        LocalFree(text);
    }
    return sid;
}

class Win32ConsoleSessions final : public ConsoleSessions {
  public:
    bool ConsoleUser(uint32_t* session, std::wstring* userSid) override {
        DWORD id = 0;
        HANDLE token = ConsoleUserToken(&id);
        if (token == nullptr) {
            return false;
        }
        *session = id;
        *userSid = UserSidText(token);
        CloseHandle(token);
        return !userSid->empty();
    }

    void ShowBox(uint32_t session, const std::wstring& caption, const std::wstring& text,
                 uint32_t style, uint32_t timeoutSeconds) override {
        const SessionApi* api = SystemSessionApi();
        if (api == nullptr) {
            return;
        }
        std::wstring title = caption;
        std::wstring message = text;
        DWORD response = 0;
        // Sizes in bytes, without the terminator.
        api->SendMessageW(WTS_CURRENT_SERVER_HANDLE, session, &title[0],
                          static_cast<DWORD>(title.size() * sizeof(wchar_t)), &message[0],
                          static_cast<DWORD>(message.size() * sizeof(wchar_t)), style,
                          timeoutSeconds, &response, TRUE);
    }
};

class ConsoleUserLauncher final : public ShellLauncher {
  public:
    bool GetModulePath(std::wstring* path) override {
        return SystemShellLauncher().GetModulePath(path);
    }
    bool ShellOpenHidden(const std::wstring& file) override { return StartAsConsoleUser(file); }
    bool ShellRunAsHidden(WindowHandle, const std::wstring& file) override {
        return StartAsConsoleUser(file);
    }

  private:
    static bool StartAsConsoleUser(const std::wstring& file) {
        const SessionApi* api = SystemSessionApi();
        DWORD session = 0;
        HANDLE token = ConsoleUserToken(&session);
        if (token == nullptr) {
            return false;
        }
        void* environment = nullptr;
        if (!api->CreateEnvironmentBlock(&environment, token, FALSE)) {
            environment = nullptr;
        }
        // The path quoted as the system quotes a program's own name; a path has no quotes.
        std::wstring commandLine = L"\"" + file + L"\"";
        wchar_t desktop[] = L"winsta0\\default";
        STARTUPINFOW startup;
        ZeroMemory(&startup, sizeof(startup));
        startup.cb = sizeof(startup);
        startup.lpDesktop = desktop;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
        PROCESS_INFORMATION process;
        ZeroMemory(&process, sizeof(process));
        const BOOL started = CreateProcessAsUserW(token, file.c_str(), &commandLine[0], nullptr,
                                                  nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                                                  environment, nullptr, &startup, &process);
        if (environment != nullptr) {
            api->DestroyEnvironmentBlock(environment);
        }
        CloseHandle(token);
        if (!started) {
            return false;
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return true;
    }
};

}  // namespace

ConsoleSessions& SystemConsoleSessions() {
    static Win32ConsoleSessions sessions;
    return sessions;
}

ShellLauncher& ConsoleUserShellLauncher() {
    static ConsoleUserLauncher launcher;
    return launcher;
}

}  // namespace kx7
