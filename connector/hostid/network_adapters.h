// The machine's wired network adapters as candidates for the fingerprint's MAC address. The
// platform's adapter list is read through a seam so that the selection and copy rules can be
// checked without a real network stack.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kx7 {

constexpr size_t kNicAddressSize = 8;
constexpr size_t kNicNameSize = 260;
constexpr size_t kNicDescriptionSize = 132;
constexpr size_t kNicIpAddressSize = 128;
constexpr size_t kNicAdapterTableSize = 10;

// One wired adapter as the fingerprint collection keeps it; field order is binding.
struct NicAdapterEntry {
    uint32_t addressLength;
    uint8_t address[kNicAddressSize];
    char adapterName[kNicNameSize];
    char description[kNicDescriptionSize];
    char ipAddress[kNicIpAddressSize];
    uint16_t addressCheck;  // filled by the caller, never by the enumeration
};

using NicAdapterTable = std::array<NicAdapterEntry, kNicAdapterTableSize>;

// Interface type numbers as the platform reports them in an adapter's type field.
constexpr uint32_t kIfTypeOther = 1;
constexpr uint32_t kIfTypeEthernet = 6;
constexpr uint32_t kIfTypeTokenRing = 9;
constexpr uint32_t kIfTypeFddi = 15;
constexpr uint32_t kIfTypePpp = 23;
constexpr uint32_t kIfTypeSoftwareLoopback = 24;
constexpr uint32_t kIfTypeSlip = 28;
constexpr uint32_t kIfTypeIeee80211 = 71;

enum class AdapterKind {
    kEthernet,
    kWireless,
    kPpp,
    kOtherIp,   // other, token ring, FDDI, loopback, serial line IP
    kUnlisted,  // tunnels and everything else the table does not name
};

AdapterKind ClassifyAdapterType(uint32_t type);

// What the enumeration reads of one platform adapter record.
struct NetworkAdapterRecord {
    uint32_t type = 0;
    std::string name;
    std::string description;
    uint32_t addressLength = 0;
    std::array<uint8_t, kNicAddressSize> address{};
    std::string ipAddress;  // first IPv4 address in dotted form, "0.0.0.0" when there is none
};

// The platform's adapter list. The Windows side does its one size query, the allocation and
// the one fill inside GetAdapters and reports any of those failing as false; a plain list
// getter keeps the buffer handling out of the portable code.
class NetworkAdapterList {
  public:
    virtual ~NetworkAdapterList() = default;
    // Adapters in the platform's order. False when the list cannot be obtained.
    virtual bool GetAdapters(std::vector<NetworkAdapterRecord>* adapters) = 0;
};

// Copies every Ethernet adapter, in list order, into the table and returns how many it wrote.
// Adapters without an address are kept. Ethernet adapters beyond the tenth are passed over,
// so the count never exceeds the table. When the list cannot be obtained the table is left
// untouched and the count is 0.
int EnumNetworkAdapters(NetworkAdapterList& adapters, NicAdapterTable* table);

// The adapters of the running system; only the Win32 build provides it.
NetworkAdapterList& SystemNetworkAdapterList();

}  // namespace kx7
