#include "connector/hostid/network_adapters.h"

#include <cstring>

namespace kx7 {
namespace {

// Up to the first NUL of source and never more than size - 1 bytes, so that the field stays
// NUL-terminated even for a source longer than the platform's own field; the rest is zeroed.
void CopyField(char* dest, size_t size, const std::string& source) {
    const size_t length = strnlen(source.c_str(), size - 1);
    memset(dest, 0, size);
    memcpy(dest, source.data(), length);
}

void CopyAdapter(const NetworkAdapterRecord& record, NicAdapterEntry* entry) {
    entry->addressLength = record.addressLength;
    memcpy(entry->address, record.address.data(), kNicAddressSize);
    CopyField(entry->adapterName, sizeof(entry->adapterName), record.name);
    CopyField(entry->description, sizeof(entry->description), record.description);
    CopyField(entry->ipAddress, sizeof(entry->ipAddress), record.ipAddress);
}

}  // namespace

AdapterKind ClassifyAdapterType(uint32_t type) {
    switch (type) {
        case kIfTypeEthernet:
            return AdapterKind::kEthernet;
        case kIfTypeIeee80211:
            return AdapterKind::kWireless;
        case kIfTypePpp:
            return AdapterKind::kPpp;
        case kIfTypeOther:
        case kIfTypeTokenRing:
        case kIfTypeFddi:
        case kIfTypeSoftwareLoopback:
        case kIfTypeSlip:
            return AdapterKind::kOtherIp;
        default:
            return AdapterKind::kUnlisted;
    }
}

// The per-adapter detail lines of the original trace went to a sink that prints nothing, so
// they are not produced here at all; only the table and the count leave this function.
int EnumNetworkAdapters(NetworkAdapterList& adapters, NicAdapterTable* table) {
    std::vector<NetworkAdapterRecord> records;
    if (!adapters.GetAdapters(&records)) {
        return 0;
    }
    size_t count = 0;
    for (const NetworkAdapterRecord& record : records) {
        if (ClassifyAdapterType(record.type) != AdapterKind::kEthernet) {
            continue;
        }
        if (count == table->size()) {
            break;  // the table is full; later wired adapters can never be chosen
        }
        CopyAdapter(record, &(*table)[count]);
        ++count;
    }
    return static_cast<int>(count);
}

}  // namespace kx7
