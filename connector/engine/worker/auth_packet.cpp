#include "connector/engine/worker/auth_packet.h"

#include <cstring>

#include "connector/device/vendor_commands.h"

namespace kx7 {

const wchar_t kNotRegisteredText[] =
    L"Error ! This computer is not registered on the HostPair.\r\n\r\nPlease register to use the "
    L"KX7.";

namespace {

constexpr size_t kNameFormatChars = 256;  // the name is cut to 255 units before conversion
constexpr size_t kNameAnsiBytes = 255;

std::wstring Decimal(long long value) {
    return std::to_wstring(value);
}

std::wstring Hex(uint32_t value) {
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring text;
    do {
        text.insert(text.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return text;
}

wchar_t AsciiUpper(wchar_t c) {
    return (c >= L'a' && c <= L'z') ? c - (L'a' - L'A') : c;
}

void PutLe16(uint8_t* out, uint16_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}

struct BoundItem {
    uint32_t bit;
    const std::wstring HostFingerprint::*current;
};

constexpr BoundItem kItems[] = {
    {kBindMacAddress, &HostFingerprint::m_strMacId},
    {kBindDiskSerial, &HostFingerprint::m_strDiskSerial},
    {kBindComputerName, &HostFingerprint::m_strComputerName},
    {kBindOsKey, &HostFingerprint::m_strOsKey},
    {kBindCpuId, &HostFingerprint::m_strCpuId},
};

std::wstring EntryCurrent(const wchar_t* label, const std::wstring& entry,
                          const std::wstring& current) {
    return std::wstring(label) + L" : Entry( " + entry + L" ), Current( " + current + L" )";
}

}  // namespace

uint16_t ItemChecksum(const std::wstring& text) {
    uint16_t sum = 0;
    for (wchar_t unit : text) {
        const auto low = static_cast<int8_t>(static_cast<uint8_t>(unit & 0xFF));
        sum = static_cast<uint16_t>(sum + low);
    }
    return sum;
}

size_t HostNameToAnsi(AnsiCodePage& codePage, const std::wstring& name, uint8_t* dest,
                      size_t size) {
    if (size == 0) {
        return 0;
    }
    std::string ansi = codePage.ToAnsi(name.substr(0, kNameFormatChars - 1));
    if (ansi.size() > kNameAnsiBytes) {
        ansi.resize(kNameAnsiBytes);
    }
    const size_t copied = ansi.size() < size - 1 ? ansi.size() : size - 1;
    std::memset(dest, 0, size);
    std::memcpy(dest, ansi.data(), copied);
    return std::strlen(reinterpret_cast<const char*>(dest));
}

uint32_t PackDate(const SystemTime& time) {
    return (static_cast<uint32_t>(time.wYear) << 16) + (static_cast<uint32_t>(time.wMonth) << 8) +
           time.wDay;
}

AuthPacket BuildAuthenticationPacket(AnsiCodePage& codePage, const HostFingerprint& fingerprint,
                                     uint32_t bindingMask) {
    AuthPacket packet{};
    HostNameToAnsi(codePage, fingerprint.m_strComputerName, &packet[kPacketNameOffset],
                   kPacketNameSize);
    uint16_t sum = 0;
    size_t slot = kPacketChecksOffset;
    for (const BoundItem& item : kItems) {
        if ((bindingMask & item.bit) == 0) {
            continue;
        }
        const uint16_t check = ItemChecksum(fingerprint.*item.current);
        sum = static_cast<uint16_t>(sum + check);
        PutLe16(&packet[slot], check);
        slot += 2;
    }
    PutLe16(&packet[kPacketCheckSumOffset], static_cast<uint16_t>(~sum));
    const uint32_t date = PackDate(fingerprint.m_stCollected);
    for (size_t i = 0; i < 4; ++i) {
        packet[kPacketDateOffset + i] = static_cast<uint8_t>(date >> (8 * i));
    }
    return packet;
}

std::wstring DeviceSerialFromPath(const std::wstring& devicePath) {
    // "\\?\usbstor#cdrom&ven_..&prod_..&rev_..#<serial>&0#{class}": the instance segment sits
    // between the last two "#". A path without both has no segment to show.
    if (devicePath.size() <= 4) {
        return std::wstring();
    }
    std::wstring text = devicePath.substr(4);
    const size_t classMark = text.rfind(L'#');
    if (classMark == std::wstring::npos) {
        return std::wstring();
    }
    text.resize(classMark);
    const size_t instanceMark = text.rfind(L'#');
    if (instanceMark == std::wstring::npos) {
        return std::wstring();
    }
    text = text.substr(instanceMark + 1);
    for (wchar_t& c : text) {
        c = AsciiUpper(c);
    }
    const size_t amp = text.rfind(L'&');
    if (amp != std::wstring::npos && amp > 0) {
        text.resize(amp);
    }
    return text;
}

IdentityMismatch FindIdentityMismatch(const RegisteredPcRecord& record,
                                      const HostFingerprint& fingerprint, uint32_t bindingMask) {
    IdentityMismatch found;
    std::wstring detail;
    if ((bindingMask & kBindMacAddress) && record.m_strMacId != fingerprint.m_strMacId) {
        found = {L"MAC ID", record.m_strMacId, fingerprint.m_strMacId, std::wstring()};
        detail = L"Nic #" + Decimal(record.m_nNicIndex) + L" Name : " + record.m_strNicDescription +
                 L"\r\n" + L"Entry   MAC ID : " + record.m_strMacId + L"\r\n" +
                 L"Current MAC ID : " + fingerprint.m_strMacId + L"\r\n";
    } else if ((bindingMask & kBindDiskSerial) &&
               record.m_strDiskSerial != fingerprint.m_strDiskSerial) {
        found = {L"Disk Serial", record.m_strDiskSerial, fingerprint.m_strDiskSerial, {}};
    } else if ((bindingMask & kBindComputerName) &&
               record.m_strComputerName != fingerprint.m_strComputerName) {
        found = {L"Computer Name", record.m_strComputerName, fingerprint.m_strComputerName, {}};
    } else if ((bindingMask & kBindOsKey) && record.m_strOsKey != fingerprint.m_strOsKey) {
        found = {L"OS Key", record.m_strOsKey, fingerprint.m_strOsKey, {}};
    } else if ((bindingMask & kBindCpuId) && record.m_strCpuId != fingerprint.m_strCpuId) {
        found = {L"CPU ID", record.m_strCpuId, fingerprint.m_strCpuId, {}};
    } else {
        return found;
    }
    if (detail.empty()) {
        detail = EntryCurrent(found.item.c_str(), found.entry, found.current);
    }
    found.text = L"Error ! System environment has changed.\r\n\r\n" + detail;
    return found;
}

std::wstring IdentityMismatchText(const RegisteredPcRecord& record,
                                  const HostFingerprint& fingerprint, uint32_t bindingMask) {
    return FindIdentityMismatch(record, fingerprint, bindingMask).text;
}

std::wstring RefusalText(bool statusRead, const std::array<uint8_t, 4>& status) {
    const uint8_t code = status[0];
    const uint8_t command = status[1];
    if (statusRead && command == kSubWriteAuthPacket) {
        switch (code) {
            case 27:
                return L"The HostPair mode is disable. After changing the KX7 setup, use.";
            case 28:
                return L"Empty Host PC ID !";
            case 29:
                return L"Can't find PC ID !";
            case 30:
                return L"The system authentication has expired !";
            default:
                return L"KX7 Invalid Error code !, Cmd = " + Hex(command) + L", Err Code = " +
                       Decimal(code);
        }
    }
    return L"KX7 System Error !, Cmd = " + Hex(command) + L", Err Code = " + Decimal(code);
}

}  // namespace kx7
