#include "tests/e2e/process_driver_win.h"

#include <vector>

namespace kx7::e2e {

std::wstring ProgramPath(const wchar_t* exeName) {
    std::vector<wchar_t> buffer(32768);
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    std::wstring path(buffer.data(), length);
    path.erase(path.find_last_of(L"\\/") + 1);
    return path + exeName;
}

ChildProcess::~ChildProcess() {
    Kill();
    if (info_.hProcess != nullptr) {
        CloseHandle(info_.hProcess);
        CloseHandle(info_.hThread);
    }
}

bool ChildProcess::Start(const std::wstring& exePath, const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + exePath + L"\"";
    if (!arguments.empty()) {
        commandLine += L" " + arguments;
    }
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    return CreateProcessW(exePath.c_str(), mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &info_) != FALSE;
}

bool ChildProcess::WaitExit(DWORD timeoutMs, DWORD* exitCode) {
    if (info_.hProcess == nullptr || WaitForSingleObject(info_.hProcess, timeoutMs) != 0) {
        return false;
    }
    GetExitCodeProcess(info_.hProcess, exitCode);
    return true;
}

bool ChildProcess::Running() const {
    return info_.hProcess != nullptr && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

void ChildProcess::Kill() {
    if (Running()) {
        TerminateProcess(info_.hProcess, 99);
        WaitForSingleObject(info_.hProcess, 10000);
    }
}

namespace {

struct WindowQuery {
    const wchar_t* className;
    const wchar_t* title;
    DWORD pid;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
    auto* query = reinterpret_cast<WindowQuery*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (query->pid != 0 && owner != query->pid) {
        return TRUE;
    }
    wchar_t name[256] = {};
    if (query->className != nullptr &&
        (GetClassNameW(window, name, 256) == 0 || wcscmp(name, query->className) != 0)) {
        return TRUE;
    }
    if (query->title != nullptr && WindowText(window) != query->title) {
        return TRUE;
    }
    query->found = window;
    return FALSE;
}

BOOL CALLBACK FindStaticText(HWND child, LPARAM param) {
    wchar_t name[64] = {};
    GetClassNameW(child, name, 64);
    if (_wcsicmp(name, L"Static") == 0) {
        std::wstring text = WindowText(child);
        if (!text.empty()) {
            *reinterpret_cast<std::wstring*>(param) = text;
            return FALSE;
        }
    }
    return TRUE;
}

}  // namespace

HWND WaitForWindow(const wchar_t* className, const wchar_t* title, DWORD pid, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    do {
        WindowQuery query = {className, title, pid, nullptr};
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&query));
        if (query.found != nullptr) {
            return query.found;
        }
        Sleep(50);
    } while (GetTickCount64() < deadline);
    return nullptr;
}

std::wstring WindowText(HWND window) {
    wchar_t text[1024] = {};
    SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 5000,
                        nullptr);
    text[1023] = L'\0';
    return text;
}

std::wstring MessageBoxText(HWND box) {
    std::wstring text;
    EnumChildWindows(box, FindStaticText, reinterpret_cast<LPARAM>(&text));
    return text;
}

void DeleteUserKey(const wchar_t* path) {
    RegDeleteTreeW(HKEY_CURRENT_USER, path);
}

bool ReadUserDword(const wchar_t* path, const wchar_t* name, DWORD* type, DWORD* value) {
    DWORD size = sizeof(*value);
    return RegGetValueW(HKEY_CURRENT_USER, path, name, RRF_RT_ANY, type, value, &size) ==
               ERROR_SUCCESS &&
           size == 4;
}

}  // namespace kx7::e2e
