#include "connector/hostid/network_adapters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/fakes/fake_host_sources.h"

namespace kx7 {
namespace {

using test::FakeAdapterList;

NetworkAdapterRecord Adapter(uint32_t type, const std::string& name, uint8_t lastByte = 0,
                             const std::string& ip = "10.0.0.1") {
    NetworkAdapterRecord record;
    record.type = type;
    record.name = name;
    record.description = name + " description";
    record.addressLength = 6;
    record.address = {0x00, 0x1B, 0x21, 0x3A, 0x4F, lastByte, 0xEE, 0xFF};
    record.ipAddress = ip;
    return record;
}

// Filled with a non-zero pattern so that every write, and every byte not written, shows.
NicAdapterTable SentinelTable() {
    NicAdapterTable table;
    memset(table.data(), 0xA5, sizeof(table));
    return table;
}

// Bytes from..size of the block all hold the value.
bool AllBytes(const void* block, size_t from, size_t size, uint8_t value) {
    const auto* bytes = static_cast<const uint8_t*>(block);
    return std::all_of(bytes + from, bytes + size, [value](uint8_t b) { return b == value; });
}
bool Untouched(const NicAdapterEntry& entry) {
    return AllBytes(&entry, 0, sizeof(entry), 0xA5);
}
bool ZeroFrom(const char* field, size_t from, size_t size) {
    return AllBytes(field, from, size, 0);
}

TEST(EnumNetworkAdapters, CopiesOnlyEthernetInListOrderKeepingDisconnected) {
    FakeAdapterList list;
    list.records = {Adapter(kIfTypeEthernet, "eth-a", 1),
                    Adapter(kIfTypeIeee80211, "wifi"),
                    Adapter(kIfTypeEthernet, "eth-b", 2, "0.0.0.0"),
                    Adapter(kIfTypePpp, "ppp"),
                    Adapter(kIfTypeSoftwareLoopback, "loop"),
                    Adapter(131, "tunnel"),
                    Adapter(kIfTypeOther, "other"),
                    Adapter(kIfTypeEthernet, "eth-c", 3)};
    NicAdapterTable table = SentinelTable();

    ASSERT_EQ(EnumNetworkAdapters(list, &table), 3);
    const char* names[] = {"eth-a", "eth-b", "eth-c"};
    for (size_t i = 0; i < 3; ++i) {
        const NicAdapterEntry& entry = table[i];
        EXPECT_STREQ(entry.adapterName, names[i]);
        EXPECT_EQ(std::string(entry.description), std::string(names[i]) + " description");
        EXPECT_EQ(entry.addressLength, 6u);
        const uint8_t expected[8] = {0x00, 0x1B, 0x21, 0x3A, 0x4F, uint8_t(i + 1), 0xEE, 0xFF};
        EXPECT_EQ(memcmp(entry.address, expected, 8), 0) << "entry " << i;
        EXPECT_TRUE(ZeroFrom(entry.adapterName, strlen(names[i]), kNicNameSize));
        EXPECT_TRUE(ZeroFrom(entry.ipAddress, strlen(entry.ipAddress), kNicIpAddressSize));
        EXPECT_EQ(static_cast<uint8_t>(entry.addressCheck & 0xFF), 0xA5) << "not ours to fill";
    }
    EXPECT_STREQ(table[1].ipAddress, "0.0.0.0");
    for (size_t i = 3; i < table.size(); ++i) {
        EXPECT_TRUE(Untouched(table[i])) << "entry " << i;
    }
}

TEST(EnumNetworkAdapters, MoreThanTenEthernetFillsTheFirstTen) {
    FakeAdapterList list;
    for (int i = 0; i < 13; ++i) {
        list.records.push_back(Adapter(kIfTypeEthernet, "eth" + std::to_string(i)));
    }
    NicAdapterTable table = SentinelTable();
    ASSERT_EQ(EnumNetworkAdapters(list, &table), 10);
    for (size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(std::string(table[i].adapterName), "eth" + std::to_string(i));
    }
}

TEST(EnumNetworkAdapters, UnobtainableListLeavesTableUntouched) {
    FakeAdapterList list;
    list.records = {Adapter(kIfTypeEthernet, "eth-a")};
    list.obtainable = false;
    NicAdapterTable table = SentinelTable();
    EXPECT_EQ(EnumNetworkAdapters(list, &table), 0);
    for (const NicAdapterEntry& entry : table) {
        EXPECT_TRUE(Untouched(entry));
    }
}

TEST(EnumNetworkAdapters, OverlongTextStaysTerminatedAndStopsAtEmbeddedNul) {
    FakeAdapterList list;
    NetworkAdapterRecord record = Adapter(kIfTypeEthernet, std::string(300, 'n'));
    record.description = std::string("short\0hidden", 12);
    list.records = {record};
    NicAdapterTable table = SentinelTable();
    ASSERT_EQ(EnumNetworkAdapters(list, &table), 1);
    EXPECT_EQ(strnlen(table[0].adapterName, kNicNameSize), kNicNameSize - 1);
    EXPECT_STREQ(table[0].description, "short");
    EXPECT_TRUE(ZeroFrom(table[0].description, 5, kNicDescriptionSize));
}

}  // namespace
}  // namespace kx7
