#include "connector/engine/record.h"

#include <array>
#include <utility>

#include "connector/engine/settings.h"

namespace kx7 {

const wchar_t kAgentKeyPath[] = L"SOFTWARE\\Stonevault\\KX7EntryPCAgent";
const wchar_t kRecordKeyName[] = L"PCInfo";

namespace {

constexpr size_t kDriveIdentifierSize = 16;

// One UTF-16LE code unit of the read buffer. Kept local rather than borrowed from the host-id
// code, which the engine must not depend on.
wchar_t UnitAt(const uint8_t* data, size_t index) {
    return static_cast<wchar_t>(static_cast<uint16_t>(data[2 * index] | data[2 * index + 1] << 8));
}

}  // namespace

std::wstring RecordKeyPath() {
    std::wstring path = kAgentKeyPath;
    path += L'\\';
    path += kRecordKeyName;
    return path;
}

int ReadRegString(Registry& registry, const std::wstring& keyPath, const std::wstring& name,
                  std::wstring* dest) {
    ScopedRegKey key(registry);
    if (registry.OpenKey(RegRoot::kCurrentUser, keyPath, kKeyReadWrite, key.out()) !=
        kErrorSuccess) {
        return kRegKeyUnavailable;
    }
    // A byte buffer rather than wchar_t, since the stored text is UTF-16LE whatever the width
    // of wchar_t on the build host.
    std::array<uint8_t, kRegStringBytes> buffer{};
    uint32_t type = kRegNone;
    uint32_t size = kRegStringBytes;
    if (registry.QueryValue(key.get(), name, &type, buffer.data(), &size) != kErrorSuccess ||
        (type != kRegSz && type != kRegExpandSz) || size > kRegStringBytes) {
        return kRegValueUnreadable;
    }
    // Only whole characters count; a stray odd byte at the end is ignored, so the last whole
    // character has to be the terminator. An empty value holds no character at all and reads
    // as the empty string.
    const size_t units = size / 2;
    if (units != 0 && UnitAt(buffer.data(), units - 1) != 0) {
        return kRegValueUnreadable;
    }
    std::wstring text;
    for (size_t i = 0; i < units; ++i) {
        const wchar_t unit = UnitAt(buffer.data(), i);
        if (unit == 0) {
            break;  // as a C string copy would, the text stops at the first NUL
        }
        text.push_back(unit);
    }
    *dest = std::move(text);
    return 0;
}

bool LoadRegisteredRecord(Registry& registry, RegisteredPcRecord* record) {
    const std::wstring keyPath = RecordKeyPath();
    bool ok = true;

    // A missing adapter number is no reason to refuse the record; the code shows up as the
    // number in the mismatch message instead.
    record->m_nNicIndex = ReadRegDword(registry, keyPath, L"NICIndex");

    struct StringValue {
        const wchar_t* name;
        std::wstring RegisteredPcRecord::*member;
    };
    // The agent spells the disk value with a capital I; the order is the reading order.
    static const StringValue kStrings[] = {
        {L"NICDescription", &RegisteredPcRecord::m_strNicDescription},
        {L"MACID", &RegisteredPcRecord::m_strMacId},
        {L"DIskSerial", &RegisteredPcRecord::m_strDiskSerial},
        {L"ComputerName", &RegisteredPcRecord::m_strComputerName},
        {L"OSKey", &RegisteredPcRecord::m_strOsKey},
        {L"CPUID", &RegisteredPcRecord::m_strCpuId},
    };
    for (const StringValue& value : kStrings) {
        std::wstring& member = record->*value.member;
        member.clear();
        if (ok && ReadRegString(registry, keyPath, value.name, &member) < 0) {
            ok = false;
        }
    }

    record->m_bCleanRegistry = false;
    const int32_t clean = ReadRegDword(registry, keyPath, L"CleanRegistry");
    if (clean < 0) {
        // A failed repair only means the next load tries again.
        WriteRegDword(registry, keyPath, L"CleanRegistry", 0);
    } else if (clean > 0) {
        record->m_bCleanRegistry = true;
    }
    return ok;
}

std::wstring DriveBindingKeyPath(AnsiCodePage& codePage, const uint8_t identifier[16]) {
    std::wstring path = kAgentKeyPath;
    path += L'\\';
    // Bounded to the identifier's 16 bytes even when it holds no zero byte.
    path += codePage.ToWide(reinterpret_cast<const char*>(identifier), kDriveIdentifierSize);
    path += L'\\';
    return path;
}

}  // namespace kx7
