#include "tests/e2e/process_driver_win.h"

#include <dbt.h>

#include <cstddef>
#include <cstring>
#include <vector>

namespace kx7::e2e {

std::wstring ProgramPath(const wchar_t* exeName) {
    std::vector<wchar_t> buffer(32768);
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    std::wstring path(buffer.data(), length);
    path.erase(path.find_last_of(L"\\/") + 1);
    return path + exeName;
}

namespace {

// The quoted program and its arguments, in the writable buffer CreateProcessW wants.
std::vector<wchar_t> CommandLine(const std::wstring& exePath, const std::wstring& arguments) {
    std::wstring line = L"\"" + exePath + L"\"";
    if (!arguments.empty()) {
        line += L" " + arguments;
    }
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    return buffer;
}

}  // namespace

ChildProcess::~ChildProcess() {
    Kill();
    if (info_.hProcess != nullptr) {
        CloseHandle(info_.hProcess);
        CloseHandle(info_.hThread);
    }
}

bool ChildProcess::Start(const std::wstring& exePath, const std::wstring& arguments) {
    std::vector<wchar_t> mutableLine = CommandLine(exePath, arguments);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    return CreateProcessW(exePath.c_str(), mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &info_) != FALSE;
}

LRESULT EndSession(HWND window) {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG,
                             5000, &answer) ||
        answer == FALSE) {
        return FALSE;
    }
    // The window may end its process before it answers.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000,
                        &ignored);
    return static_cast<LRESULT>(answer);
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

std::string LastLine(const std::string& output) {
    size_t end = output.find_last_not_of("\r\n");
    if (end == std::string::npos) {
        return std::string();
    }
    const size_t start = output.find_last_of("\r\n", end);
    return output.substr(start == std::string::npos ? 0 : start + 1,
                         end + 1 - (start == std::string::npos ? 0 : start + 1));
}

bool RunCapturingOutput(const std::wstring& exePath, const std::wstring& arguments, DWORD timeoutMs,
                        std::string* output, DWORD* exitCode) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        return false;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    std::vector<wchar_t> mutableLine = CommandLine(exePath, arguments);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION info = {};
    const bool started = CreateProcessW(exePath.c_str(), mutableLine.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info) != 0;
    // Only the child may hold the write end, or the read below never sees the end.
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return false;
    }
    output->clear();
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, chunk, sizeof(chunk), &got, nullptr) && got != 0) {
        output->append(chunk, got);
    }
    CloseHandle(readEnd);
    const bool ended = WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_OBJECT_0;
    if (ended) {
        GetExitCodeProcess(info.hProcess, exitCode);
    } else {
        TerminateProcess(info.hProcess, 99);
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return ended;
}

namespace {

struct WindowQuery {
    const wchar_t* className;
    const wchar_t* title;
    DWORD pid;
    HWND found;
    const std::wstring* boxText = nullptr;
    bool visibleOnly = false;
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
    if ((query->boxText != nullptr && MessageBoxText(window) != *query->boxText) ||
        (query->visibleOnly && !IsWindowVisible(window))) {
        return TRUE;
    }
    query->found = window;
    return FALSE;
}

// A static control that shows text, not an icon (whose "text" is the icon's resource name).
bool IsTextStatic(HWND child) {
    wchar_t name[64] = {};
    GetClassNameW(child, name, 64);
    const LONG type = GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK;
    return _wcsicmp(name, L"Static") == 0 && type != SS_ICON && type != SS_BITMAP;
}

BOOL CALLBACK FindStaticText(HWND child, LPARAM param) {
    if (IsTextStatic(child)) {
        std::wstring text = WindowText(child);
        if (!text.empty()) {
            *reinterpret_cast<std::wstring*>(param) = text;
            return FALSE;
        }
    }
    return TRUE;
}

BOOL CALLBACK CollectStaticTexts(HWND child, LPARAM param) {
    if (IsTextStatic(child)) {
        reinterpret_cast<std::vector<std::wstring>*>(param)->push_back(WindowText(child));
    }
    return TRUE;
}

}  // namespace

namespace {

HWND WaitForQuery(WindowQuery query, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    do {
        query.found = nullptr;
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&query));
        if (query.found != nullptr) {
            return query.found;
        }
        Sleep(50);
    } while (GetTickCount64() < deadline);
    return nullptr;
}

}  // namespace

HWND WaitForBox(const wchar_t* caption, const std::wstring& text, DWORD pid, DWORD timeoutMs) {
    WindowQuery query = {L"#32770", caption, pid, nullptr};
    query.boxText = &text;
    return WaitForQuery(query, timeoutMs);
}

HWND WaitForPopupMenu(DWORD pid, DWORD timeoutMs) {
    WindowQuery query = {L"#32768", nullptr, pid, nullptr};
    query.visibleOnly = true;
    return WaitForQuery(query, timeoutMs);
}

HWND WaitForWindow(const wchar_t* className, const wchar_t* title, DWORD pid, DWORD timeoutMs) {
    return WaitForQuery({className, title, pid, nullptr}, timeoutMs);
}

std::wstring WindowText(HWND window) {
    std::vector<wchar_t> text(32768, L'\0');
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_BLOCK, 5000, nullptr);
    text.back() = L'\0';
    return text.data();
}

std::wstring MessageBoxText(HWND box) {
    std::wstring text;
    EnumChildWindows(box, FindStaticText, reinterpret_cast<LPARAM>(&text));
    return text;
}

bool SendInterfaceEvent(HWND window, bool arrival, const std::wstring& interfaceName) {
    const size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    std::vector<BYTE> record(nameOffset + (interfaceName.size() + 1) * sizeof(wchar_t));
    auto* broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(record.data());
    broadcast->dbcc_size = static_cast<DWORD>(record.size());
    broadcast->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    std::memcpy(record.data() + nameOffset, interfaceName.c_str(),
                (interfaceName.size() + 1) * sizeof(wchar_t));
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(
               window, WM_DEVICECHANGE, arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
               reinterpret_cast<LPARAM>(record.data()), SMTO_BLOCK, 10000, &result) != 0;
}

std::wstring ControlText(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control != nullptr ? WindowText(control) : std::wstring();
}

void ClickButton(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

std::vector<std::wstring> StaticTexts(HWND dialog) {
    std::vector<std::wstring> texts;
    EnumChildWindows(dialog, CollectStaticTexts, reinterpret_cast<LPARAM>(&texts));
    return texts;
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

namespace kx7::e2e {

bool WriteUserDword(const wchar_t* path, const wchar_t* name, DWORD value) {
    return RegSetKeyValueW(HKEY_CURRENT_USER, path, name, REG_DWORD, &value, sizeof(value)) ==
           ERROR_SUCCESS;
}

}  // namespace kx7::e2e
