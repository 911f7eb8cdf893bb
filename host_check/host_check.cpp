#include "host_check/host_check.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "connector/engine/record.h"
#include "connector/engine/worker/auth_packet.h"
#include "connector/hostid/mac_address.h"
#include "connector/platform/reg_values.h"
#include "connector/platform/registration.h"
#include "host_check/read_only_registry.h"

namespace kx7 {
namespace {

const wchar_t kEol[] = L"\r\n";
const wchar_t kUserRoot[] = L"HKEY_CURRENT_USER\\";
// KEY_READ: enough to list the agent key's subkeys, which the connector itself never does.
constexpr uint32_t kKeyRead = 0x20019;
constexpr size_t kLabelWidth = 16;
constexpr size_t kVerdictWidth = 9;

struct Item {
    uint32_t bit;
    const wchar_t* label;
    const std::wstring RegisteredPcRecord::*registered;
    const std::wstring HostFingerprint::*current;
};

// The identity items in the order the connector compares them.
constexpr Item kItems[] = {
    {kBindMacAddress, L"MAC address", &RegisteredPcRecord::m_strMacId,
     &HostFingerprint::m_strMacId},
    {kBindDiskSerial, L"disk serial", &RegisteredPcRecord::m_strDiskSerial,
     &HostFingerprint::m_strDiskSerial},
    {kBindComputerName, L"computer name", &RegisteredPcRecord::m_strComputerName,
     &HostFingerprint::m_strComputerName},
    {kBindOsKey, L"OS product key", &RegisteredPcRecord::m_strOsKey, &HostFingerprint::m_strOsKey},
    {kBindCpuId, L"processor id", &RegisteredPcRecord::m_strCpuId, &HostFingerprint::m_strCpuId},
};

std::wstring Hex8(uint32_t value) {
    wchar_t text[16] = {};
    std::swprintf(text, sizeof(text) / sizeof(text[0]), L"0x%08X", static_cast<unsigned>(value));
    return text;
}

std::wstring Padded(const std::wstring& text, size_t width) {
    return text.size() >= width ? text + L' ' : text + std::wstring(width - text.size(), L' ');
}

// A text in double quotes with line breaks and other control characters written as C escapes,
// so that every message fits one line and can be read back byte for byte.
std::wstring Quoted(const std::wstring& text) {
    static const std::pair<wchar_t, const wchar_t*> kEscapes[] = {
        {L'\r', L"\\r"}, {L'\n', L"\\n"}, {L'\t', L"\\t"}, {L'"', L"\\\""}, {L'\\', L"\\\\"}};
    std::wstring out = L"\"";
    for (wchar_t c : text) {
        const auto* escape = std::find_if(std::begin(kEscapes), std::end(kEscapes),
                                          [c](const auto& e) { return e.first == c; });
        if (escape != std::end(kEscapes)) {
            out += escape->second;
        } else if (static_cast<uint32_t>(c) < 0x20) {
            wchar_t hex[8] = {};
            std::swprintf(hex, sizeof(hex) / sizeof(hex[0]), L"\\x%02X", static_cast<unsigned>(c));
            out += hex;
        } else {
            out += c;
        }
    }
    return out + L"\"";
}

std::wstring TypeName(uint32_t type) {
    switch (type) {
        case kRegNone:
            return L"REG_NONE";
        case kRegSz:
            return L"REG_SZ";
        case kRegExpandSz:
            return L"REG_EXPAND_SZ";
        case kRegBinary:
            return L"REG_BINARY";
        case kRegDword:
            return L"REG_DWORD";
        case 5:
            return L"REG_DWORD_BIG_ENDIAN";
        case 6:
            return L"REG_LINK";
        case 7:
            return L"REG_MULTI_SZ";
        case kRegQword:
            return L"REG_QWORD";
        default:
            return L"type " + std::to_wstring(type);
    }
}

// What a value is, as far as the registry says without reading its data: a Win32 error code,
// and the type and size when it exists.
struct ValueShape {
    long rc = kErrorFileNotFound;
    uint32_t type = kRegNone;
    uint32_t size = 0;
};

ValueShape ShapeOf(Registry& registry, const std::wstring& keyPath, const std::wstring& name,
                   uint8_t* data = nullptr, uint32_t capacity = 0) {
    ValueShape shape;
    ScopedRegKey key(registry);
    shape.rc = registry.OpenKey(RegRoot::kCurrentUser, keyPath, kKeyReadWrite, key.out());
    if (shape.rc != kErrorSuccess) {
        return shape;
    }
    shape.size = capacity;
    shape.rc = registry.QueryValue(key.get(), name, &shape.type, data, &shape.size);
    return shape;
}

// Why the loader gave up, in the user's terms. The loader only says which value and whether
// the key or the value was the problem; the registry says the rest.
std::wstring FailureReason(Registry& registry, const RecordLoadFailure& failure) {
    const std::wstring keyPath = RecordKeyPath();
    const std::wstring name = failure.valueName != nullptr ? failure.valueName : L"";
    if (failure.code == kRegKeyUnavailable) {
        ScopedRegKey key(registry);
        const long rc = registry.OpenKey(RegRoot::kCurrentUser, keyPath, kKeyReadWrite, key.out());
        if (rc == kErrorFileNotFound) {
            return L"the key does not exist: this PC has not been registered";
        }
        return L"the key cannot be opened (error " + std::to_wstring(rc) + L")";
    }
    const ValueShape shape = ShapeOf(registry, keyPath, name);
    if (shape.rc == kErrorFileNotFound) {
        return L"the value \"" + name + L"\" is missing";
    }
    if (shape.rc != kErrorSuccess && shape.rc != kErrorMoreData) {
        return L"the value \"" + name + L"\" cannot be read (error " + std::to_wstring(shape.rc) +
               L")";
    }
    return L"the value \"" + name + L"\" is unreadable: " + TypeName(shape.type) + L" of " +
           std::to_wstring(shape.size) +
           L" bytes, where text is needed (REG_SZ or REG_EXPAND_SZ, ending with a NUL, at most " +
           std::to_wstring(kRegStringChars - 1) + L" characters)";
}

// The agent key's subkeys that hold a "Mode" value, whatever its type, in the registry's order.
std::vector<std::wstring> RegisteredDrives(Registry& registry) {
    std::vector<std::wstring> drives;
    ScopedRegKey agent(registry);
    if (registry.OpenKey(RegRoot::kCurrentUser, kAgentKeyPath, kKeyRead, agent.out()) !=
        kErrorSuccess) {
        return drives;
    }
    std::wstring name;
    for (uint32_t index = 0; registry.EnumSubKey(agent.get(), index, &name) == kErrorSuccess;
         ++index) {
        const ValueShape mode = ShapeOf(registry, DriveBindingKeyPath(name), L"Mode");
        if (mode.rc == kErrorSuccess || mode.rc == kErrorMoreData) {
            drives.push_back(name);
        }
    }
    return drives;
}

// "Mode" as stored: its number when it is a 4-byte REG_DWORD, otherwise what it is instead.
std::wstring StoredMode(Registry& registry, const std::wstring& drive) {
    uint8_t data[4] = {};
    const ValueShape mode = ShapeOf(registry, DriveBindingKeyPath(drive), L"Mode", data, 4);
    if (mode.rc == kErrorSuccess && mode.type == kRegDword && mode.size == 4) {
        return Hex8(static_cast<uint32_t>(data[0] | data[1] << 8 | data[2] << 16) |
                    static_cast<uint32_t>(data[3]) << 24);
    }
    return L"unusable (" + TypeName(mode.type) + L" of " + std::to_wstring(mode.size) + L" bytes)";
}

class Lines {
  public:
    void Add(const std::wstring& line) { text_ += line + kEol; }
    std::wstring Take() { return std::move(text_); }

  private:
    std::wstring text_;
};

}  // namespace

HostCheckReport RunHostCheck(const HostSources& system, bool elevated) {
    ReadOnlyRegistry registry(system.registry);
    const HostSources sources{system.adapters, system.disk,     registry,    system.cpu,
                              system.clock,    system.codePage, system.debug};
    Lines out;
    HostCheckReport report;

    out.Add(L"KX7 HostPair host check");
    if (!elevated) {
        out.Add(L"Note: not running as administrator. Only an administrator can read the disk");
        out.Add(L"serial number, so it shows as empty here; the connector runs as administrator.");
        out.Add(L"Run this check from an administrator command prompt to see what it sees.");
    }
    out.Add(L"");

    // The same order as the connector's start-up: the record first, since the adapter is
    // chosen by the registered MAC address.
    RegisteredPcRecord record;
    RecordLoadFailure failure;
    const bool loaded = LoadRegisteredRecord(registry, &record, &failure);
    HostFingerprint fingerprint;
    GetSystemInfo(sources, record, &fingerprint);

    out.Add(L"Registered PC record: " + std::wstring(kUserRoot) + RecordKeyPath());
    out.Add(loaded ? std::wstring(L"  loaded")
                   : L"  cannot be loaded: " + FailureReason(registry, failure));
    out.Add(L"");

    out.Add(L"Wired network adapters of this PC:");
    NicAdapterTable adapters;
    const int adapterCount = GetSystemNICInfo(sources.adapters, &adapters);
    for (int i = 0; i < adapterCount; ++i) {
        const NicAdapterEntry& entry = adapters[static_cast<size_t>(i)];
        out.Add(L"  NIC # " + std::to_wstring(i) + L"  " + FormatMacAddress(entry.address) + L"  " +
                Quoted(sources.codePage.ToWide(entry.description, kNicDescriptionSize)));
    }
    if (adapterCount == 0) {
        out.Add(L"  none");
    }

    struct Verdict {
        std::wstring drive;
        std::wstring message;  // empty: would pass
    };
    std::vector<Verdict> verdicts;
    for (const std::wstring& drive : RegisteredDrives(registry)) {
        out.Add(L"");
        out.Add(L"Drive " + drive + L", \"Mode\" " + StoredMode(registry, drive));
        const uint32_t mask = ReadDriveBindingMask(registry, DriveBindingKeyPath(drive));
        if (!loaded) {
            out.Add(L"  not compared: the record cannot be loaded");
            verdicts.push_back({drive, kNotRegisteredText});
            continue;
        }
        if (mask == 0) {
            out.Add(L"  bound to no item: this PC is not registered for the drive");
            verdicts.push_back({drive, kNotRegisteredText});
            continue;
        }
        bool anyItem = false;
        for (const Item& item : kItems) {
            if ((mask & item.bit) == 0) {
                continue;
            }
            anyItem = true;
            // One item at a time through the connector's own comparison.
            const bool equal = IdentityMismatchText(record, fingerprint, item.bit).empty();
            out.Add(L"  " + Padded(item.label, kLabelWidth) +
                    Padded(equal ? L"equal" : L"DIFFERS", kVerdictWidth) + L" registered " +
                    Quoted(record.*item.registered) + L", this PC " +
                    Quoted(fingerprint.*item.current));
        }
        if (!anyItem) {
            out.Add(L"  bound to no identity item: nothing to compare");
        }
        verdicts.push_back({drive, IdentityMismatchText(record, fingerprint, mask)});
    }

    out.Add(L"");
    out.Add(L"Result:");
    if (verdicts.empty()) {
        out.Add(L"  no drive is registered for this PC (no subkey of " + std::wstring(kUserRoot) +
                kAgentKeyPath + L" holds \"Mode\")");
    }
    for (const Verdict& v : verdicts) {
        if (v.message.empty()) {
            out.Add(L"  " + v.drive + L": would pass");
        } else {
            out.Add(L"  " + v.drive + L": would fail: " + Quoted(v.message));
            report.exitCode = kHostCheckSomeFail;
        }
    }
    // Without a registered drive there is nothing to judge, whatever the record says; with
    // one, a record that cannot be loaded fails it before any item is compared.
    if (verdicts.empty()) {
        report.exitCode = kHostCheckNothingRegistered;
    } else if (!loaded) {
        report.exitCode = kHostCheckNoRecord;
    }
    report.text = out.Take();
    return report;
}

const wchar_t kHostCheckUsage[] =
    L"Usage: KX7HostCheck [/?]\r\n"
    L"\r\n"
    L"Says, before a KX7 is plugged in, whether the connector would accept this PC for each\r\n"
    L"drive registered for it, and if not, which identity item differs. It only reads and\r\n"
    L"takes no arguments. Run it as administrator, as the connector runs: only then can the\r\n"
    L"disk serial number be read.\r\n"
    L"\r\n"
    L"Exit codes:\r\n"
    L"  0  every registered drive would pass\r\n"
    L"  1  at least one registered drive would fail\r\n"
    L"  2  a drive is registered, but the registered PC record cannot be loaded\r\n"
    L"  3  no drive is registered for this PC: nothing to check\r\n"
    L"  4  the command line was not understood\r\n";

HostCheckAction ParseHostCheckArguments(const std::vector<std::wstring>& arguments,
                                        std::wstring* badArgument) {
    static const wchar_t* const kUsageSwitches[] = {L"/?",    L"-?",    L"/h",    L"-h",
                                                    L"/help", L"-help", L"--help"};
    for (const std::wstring& argument : arguments) {
        std::wstring lower = argument;
        for (wchar_t& c : lower) {
            if (c >= L'A' && c <= L'Z') {
                c = static_cast<wchar_t>(c - L'A' + L'a');
            }
        }
        bool usage = false;
        for (const wchar_t* name : kUsageSwitches) {
            usage = usage || lower == name;
        }
        if (!usage) {
            *badArgument = argument;
            return HostCheckAction::kBadArgument;
        }
    }
    return arguments.empty() ? HostCheckAction::kRun : HostCheckAction::kUsage;
}

}  // namespace kx7
