// The host identity that the separate registration program stored for this PC, as the connect
// worker compares it with the current fingerprint, and the registry layout it is read from.
#pragma once

#include <cstdint>
#include <string>

#include "connector/engine/code_page.h"
#include "connector/engine/registry.h"

namespace kx7 {

extern const wchar_t kAgentKeyPath[];   // "SOFTWARE\Stonevault\KX7EntryPCAgent"
extern const wchar_t kRecordKeyName[];  // "PCInfo", below the agent key

// The registry read buffer for one string: 1023 wide characters, terminator included.
constexpr uint32_t kRegStringChars = 1023;
constexpr uint32_t kRegStringBytes = kRegStringChars * 2;

struct RegisteredPcRecord {
    int32_t m_nNicIndex = 0;  // kept as read, so -1 or -2 when it could not be had
    std::wstring m_strNicDescription;
    std::wstring m_strMacId;
    std::wstring m_strDiskSerial;
    std::wstring m_strComputerName;
    std::wstring m_strOsKey;
    std::wstring m_strCpuId;
    bool m_bCleanRegistry = false;
};

// "SOFTWARE\Stonevault\KX7EntryPCAgent\PCInfo".
std::wstring RecordKeyPath();

// Reads a REG_SZ or REG_EXPAND_SZ (left unexpanded) under HKEY_CURRENT_USER into *dest: 0 on
// success, kRegKeyUnavailable when the key does not open, kRegValueUnreadable when the value is
// missing, of another type, longer than 1022 characters or not NUL-terminated. The text ends at
// the first NUL. *dest is left as it was on failure.
int ReadRegString(Registry& registry, const std::wstring& keyPath, const std::wstring& name,
                  std::wstring* dest);

// Fills *record from the record key; true only when all six strings were read. The strings
// after the first unreadable one stay empty. "CleanRegistry" is written back as 0 when it is
// missing or unusable, which creates the record key on a PC that was never registered.
// The record is written member by member; a caller whose record is read by another thread
// should load into a copy and publish it under its own lock.
bool LoadRegisteredRecord(Registry& registry, RegisteredPcRecord* record);

// The key holding a drive's binding value "Mode": the agent key, the identifier and a trailing
// backslash. The identifier is ANSI text ending at its first zero byte, or all 16 bytes,
// widened through the code page.
std::wstring DriveBindingKeyPath(AnsiCodePage& codePage, const uint8_t identifier[16]);

}  // namespace kx7
