// The programs' own texts, window names, control and command IDs, and registry keys, as the
// end-to-end tests look for them from outside. Written out here rather than taken from the
// programs' headers, so that a changed text in a program fails its tests.
#pragma once

namespace kx7::test {

// The main window.
constexpr wchar_t kTitle[] = L"KX7 HostPair Auto Connector";
constexpr wchar_t kClass[] = L"KX7AutoConnector_Class";
// The caption of the framework's boxes (the Exit question, the not-registered error).
constexpr wchar_t kAppName[] = L"KX7AutoConnector";
constexpr wchar_t kAboutTitle[] = L"About KX7AutoConnector";

constexpr wchar_t kExitText[] =
    L"The Stonevault(KX7) can't be used, if you exit this program,\r\nAre you sure you want to "
    L"terminate this program ?";
constexpr wchar_t kNotRegistered[] =
    L"Error ! This computer is not registered on the HostPair.\r\n\r\nPlease register to use the "
    L"KX7.";

// The main window's controls.
constexpr int kTree = 1000;
constexpr int kLog = 1001;
constexpr int kSerial = 1004;
constexpr int kCloseButton = 1005;

// The tray menu's commands.
constexpr unsigned kOpen = 32773;
constexpr unsigned kProgramInfo = 32774;
constexpr unsigned kExit = 32775;
constexpr unsigned kReconnect = 32780;

// Under HKEY_CURRENT_USER: the connector's settings, and the pairing program's records.
constexpr wchar_t kSettingsKey[] = L"SOFTWARE\\Stonevault\\AutoConn";
constexpr wchar_t kAgentKey[] = L"SOFTWARE\\Stonevault\\KX7EntryPCAgent";
constexpr wchar_t kRecordKey[] = L"SOFTWARE\\Stonevault\\KX7EntryPCAgent\\PCInfo";

}  // namespace kx7::test
