#include "connector/hostid/system_info.h"

#include <cstring>
#include <string>

#include "connector/hostid/computer_name.h"
#include "connector/hostid/mac_address.h"
#include "connector/hostid/product_key.h"

namespace kx7 {
namespace {

constexpr int kFingerprintDrive = 0;
constexpr size_t kDiskSerialBufferSize = 32;
// An adapter description this short is not a usable one; the trace says so.
constexpr size_t kMinDescriptionBytes = 3;

std::wstring Number(int value) {
    return std::to_wstring(value);
}

// Picks the adapter whose MAC text is the registered one and writes its MAC and description
// into the fingerprint, tracing every candidate on the way.
void ChooseAdapter(const HostSources& sources, const RegisteredPcRecord& record,
                   HostFingerprint* fingerprint) {
    fingerprint->m_strNicDescription.clear();
    fingerprint->m_strMacId.clear();

    NicAdapterTable table;
    const int count = GetSystemNICInfo(sources.adapters, &table);

    DebugSink& debug = sources.debug;
    DebugOut(debug, L"Registered NIC Description : " + record.m_strNicDescription + L"\n");
    DebugOut(debug, L"Registered MAC ID : " + record.m_strMacId + L"\n");

    int match = -1;
    for (int i = 0; i < count; ++i) {
        const NicAdapterEntry& entry = table[static_cast<size_t>(i)];
        const std::wstring mac = FormatMacAddress(entry.address);
        const std::wstring desc = sources.codePage.ToWide(entry.description, kNicDescriptionSize);
        DebugOut(debug, L"NIC # " + Number(i) + L", NIC Desc : " + desc + L"\n");
        DebugOut(debug, L"NIC # " + Number(i) + L", MAC ID   : " + mac + L"\n");
        if (record.m_strMacId == mac) {
            fingerprint->m_strMacId = mac;
            fingerprint->m_strNicDescription = desc;
            match = i;
            break;
        }
        if (strnlen(entry.description, kNicDescriptionSize) < kMinDescriptionBytes) {
            DebugOut(debug, L"Fail !, GetSystemInfo()->GetSystemNICInfo( NIC No = " + Number(i) +
                                L" ) :\n");
        }
    }
    if (match >= 0) {
        DebugOut(debug, L"Matching NIC Info found. (NIC # " + Number(match) + L")\n");
    } else {
        DebugOut(debug, L"Can't find Registered NIC Info !!! :\n");
    }
}

}  // namespace

uint16_t AddressCheckValue(const uint8_t (&address)[kNicAddressSize]) {
    uint16_t sum = 0;
    for (uint8_t byte : address) {
        sum = static_cast<uint16_t>(sum + byte);
    }
    return static_cast<uint16_t>(sum ^ 0xFFFF);
}

int GetSystemNICInfo(NetworkAdapterList& adapters, NicAdapterTable* table) {
    std::memset(table->data(), 0, sizeof(*table));
    int count = EnumNetworkAdapters(adapters, table);
    if (count < 0) {
        count = 0;
    } else if (static_cast<size_t>(count) > table->size()) {
        count = static_cast<int>(table->size());
    }
    for (int i = 0; i < count; ++i) {
        NicAdapterEntry& entry = (*table)[static_cast<size_t>(i)];
        entry.addressCheck = AddressCheckValue(entry.address);
    }
    return count;
}

bool GetSystemInfo(const HostSources& sources, const RegisteredPcRecord& record,
                   HostFingerprint* fingerprint) {
    // Nothing of an earlier collection may survive: an adapter or a disk that has gone since
    // must show up as a changed item.
    *fingerprint = HostFingerprint();

    SystemTime collected;
    GetCurrentDateTime(sources.clock, &collected);
    fingerprint->m_stCollected = collected;

    // Only the signature; the feature flags of the same instruction vary with the hypervisor
    // and the microcode and say nothing about which machine this is.
    fingerprint->m_strCpuId = CpuIdText(sources.cpu.GetCpuId());

    char serial[kDiskSerialBufferSize] = {};
    if (GetDiskSerial(sources.disk, kFingerprintDrive, serial)) {
        fingerprint->m_strDiskSerial = sources.codePage.ToWide(serial, sizeof(serial));
    }

    std::wstring osKey;
    if (GetWindowsKey(sources.registry, &osKey)) {
        fingerprint->m_strOsKey = osKey;
    }

    ChooseAdapter(sources, record, fingerprint);

    std::wstring computerName;
    GetComputerNameText(sources.registry, &computerName);
    fingerprint->m_strComputerName = computerName;
    return true;
}

}  // namespace kx7
