// What the separate registration program leaves in the user's registry: its key layout and the
// shape of the PC record. Discovery reads a drive's binding value here, the host identity picks
// the registered adapter from the record, and the worker compares the record with this PC.
#pragma once

#include <cstdint>
#include <string>

#include "connector/platform/code_page.h"
#include "connector/platform/registry.h"

namespace kx7 {

extern const wchar_t kAgentKeyPath[];   // "SOFTWARE\Stonevault\KX7EntryPCAgent"
extern const wchar_t kRecordKeyName[];  // "PCInfo", below the agent key

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

// The key holding a drive's binding value "Mode": the agent key, the identifier and a trailing
// backslash. The identifier is ANSI text ending at its first zero byte, or all 16 bytes,
// widened through the code page.
std::wstring DriveBindingKeyPath(AnsiCodePage& codePage, const uint8_t identifier[16]);
// The same for an identifier that is already wide text, such as a subkey name of the agent key.
std::wstring DriveBindingKeyPath(const std::wstring& identifier);

// A drive's binding mask from its "Mode" value under bindingKeyPath. A missing key or value,
// one of another type and a value of 0x80000000 or more all give 0: this computer is not
// registered for the drive.
uint32_t ReadDriveBindingMask(Registry& registry, const std::wstring& bindingKeyPath);

}  // namespace kx7
