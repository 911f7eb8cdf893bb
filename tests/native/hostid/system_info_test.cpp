#include "connector/hostid/system_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "connector/hostid/computer_name.h"
#include "connector/hostid/product_key.h"
#include "tests/fakes/fake_host_sources.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/latin1_code_page.h"

namespace kx7 {
namespace {

using Lines = std::vector<std::wstring>;

NetworkAdapterRecord Adapter(uint32_t type, const std::string& description, uint8_t lastByte,
                             const std::string& ip = "192.168.7.20") {
    NetworkAdapterRecord record;
    record.type = type;
    record.name = "{ADAPTER-" + std::to_string(lastByte) + "}";
    record.description = description;
    record.addressLength = 6;
    record.address = {0x00, 0x1b, 0xA2, 0x3c, 0x4D, lastByte, 0x99, 0x98};
    record.ipAddress = ip;
    return record;
}

// The MAC text of Adapter(..., lastByte), written out by hand.
std::wstring Mac(const wchar_t* last) {
    return std::wstring(L"00-1B-A2-3C-4D-") + last;
}

class SystemInfoTest : public ::testing::Test, protected test::FakeHostSources {
  protected:
    SystemInfoTest() {
        cpu_.signature = 0x000306C3;
        clock_.Set({124, 1, 29, 23, 58, 7, 4});  // 29 February 2024; the weekday is never copied
    }
    HostFingerprint Collect() {
        HostFingerprint fp;
        fp.m_strMacId = fp.m_strNicDescription = fp.m_strDiskSerial = L"stale";
        fp.m_strComputerName = fp.m_strOsKey = fp.m_strCpuId = L"stale";
        fp.m_stCollected.wMilliseconds = 999;
        debug_.lines.clear();
        EXPECT_TRUE(GetSystemInfo(sources_, record_, &fp));
        return fp;
    }
    // Collects with these adapters and a registered MAC ending in macLast.
    HostFingerprint CollectWith(std::vector<NetworkAdapterRecord> adapters,
                                const wchar_t* macLast) {
        adapters_.records = std::move(adapters);
        record_.m_strMacId = Mac(macLast);
        return Collect();
    }
    // The trace lines of the adapter choice, without the two lines about the registration.
    Lines NicLines() const {
        EXPECT_GE(debug_.lines.size(), 2u);
        return Lines(debug_.lines.begin() + 2, debug_.lines.end());
    }

    RegisteredPcRecord record_;
};

TEST_F(SystemInfoTest, CollectsEveryItemInItsTextForm) {
    disk_.SetSerial("  WD-\xE9 X1   ");
    std::vector<uint8_t> productId(kDigitalProductIdSize, 0);
    productId[kEncodedKeyOffset] = 1;
    registry_.SetRaw(RegRoot::kLocalMachine, kProductKeyPath, kProductKeyValue, kRegBinary,
                     productId);
    registry_.SetString(RegRoot::kLocalMachine, kComputerNamePath, kComputerNameValue, L"desk-07 ");
    adapters_.records = {Adapter(kIfTypeEthernet, "Gigabit \xC4thernet", 0x5E)};
    record_.m_strMacId = Mac(L"5E");

    const HostFingerprint fp = Collect();
    EXPECT_EQ(test::Fields(fp.m_stCollected), (std::vector<int>{2024, 2, 0, 29, 23, 58, 7, 0}));
    EXPECT_EQ(test::IdentityTexts(fp),
              (Lines{L"Gigabit \u00C4thernet", L"00-1B-A2-3C-4D-5E", L"WD-\u00E9 X1", L"desk-07 ",
                     L"BBBBB-BBBBB-BBBBB-BBBBB-BBBBC", L"306C3"}));
    EXPECT_EQ(disk_.drives, std::vector<int>{0});
}

TEST_F(SystemInfoTest, TraceNumbersWiredAdaptersAndFlagsShortDescriptions) {
    adapters_.records = {Adapter(kIfTypeEthernet, "Intel PRO/1000", 0x01),
                         Adapter(kIfTypeIeee80211, "Wireless", 0x02),
                         Adapter(kIfTypeEthernet, "ab", 0x03), Adapter(kIfTypeEthernet, "X", 0x04),
                         Adapter(kIfTypeEthernet, "after the match", 0x05)};
    record_.m_strNicDescription = L"Registered \u00C9dition";
    record_.m_strMacId = Mac(L"04");

    const HostFingerprint fp = Collect();
    const Lines expected = {
        L"Registered NIC Description : Registered \u00C9dition\n",
        L"Registered MAC ID : 00-1B-A2-3C-4D-04\n",
        L"NIC # 0, NIC Desc : Intel PRO/1000\n",
        L"NIC # 0, MAC ID   : 00-1B-A2-3C-4D-01\n",
        L"NIC # 1, NIC Desc : ab\n",
        L"NIC # 1, MAC ID   : 00-1B-A2-3C-4D-03\n",
        L"Fail !, GetSystemInfo()->GetSystemNICInfo( NIC No = 1 ) :\n",
        L"NIC # 2, NIC Desc : X\n",
        L"NIC # 2, MAC ID   : 00-1B-A2-3C-4D-04\n",
        L"Matching NIC Info found. (NIC # 2)\n",
    };
    EXPECT_EQ(debug_.lines, expected);
    EXPECT_EQ(fp.m_strMacId, Mac(L"04"));
    EXPECT_EQ(fp.m_strNicDescription, L"X");
}

TEST_F(SystemInfoTest, OnlyWirelessPppAndLoopbackMeansNoAdapterEvenForARegisteredMac) {
    const HostFingerprint fp = CollectWith(
        {Adapter(kIfTypeIeee80211, "Wireless", 0x10), Adapter(kIfTypePpp, "Dial-up", 0x11),
         Adapter(kIfTypeSoftwareLoopback, "Loopback", 0x12)},
        L"10");
    EXPECT_EQ(NicLines(), Lines{L"Can't find Registered NIC Info !!! :\n"});
    EXPECT_EQ(fp.m_strMacId, L"");
    EXPECT_EQ(fp.m_strNicDescription, L"");
}

TEST_F(SystemInfoTest, DisconnectedWiredAdapterIsStillChosen) {
    EXPECT_EQ(
        CollectWith({Adapter(kIfTypeEthernet, "Unplugged", 0xAB, "0.0.0.0")}, L"AB").m_strMacId,
        Mac(L"AB"));
}

TEST_F(SystemInfoTest, SameMacTwiceTakesTheEarlierAdapter) {
    const HostFingerprint fp = CollectWith(
        {Adapter(kIfTypeEthernet, "Other", 0x01), Adapter(kIfTypeEthernet, "First twin", 0x07),
         Adapter(kIfTypeEthernet, "Second twin", 0x07)},
        L"07");
    EXPECT_EQ(fp.m_strNicDescription, L"First twin");
    EXPECT_EQ(debug_.lines.back(), L"Matching NIC Info found. (NIC # 1)\n");
    for (const std::wstring& line : debug_.lines) {
        EXPECT_EQ(line.find(L"NIC # 2"), std::wstring::npos) << "examined past the match";
    }
}

TEST_F(SystemInfoTest, RegisteredMacInAnotherSpellingNeverMatches) {
    adapters_.records = {Adapter(kIfTypeEthernet, "Gigabit", 0xAE)};
    for (const wchar_t* registered : {L"00-1b-a2-3c-4d-ae", L"00:1B:A2:3C:4D:AE", L"001BA23C4DAE",
                                      L"", L"00-1B-A2-3C-4D-AE "}) {
        record_.m_strMacId = registered;
        const HostFingerprint fp = Collect();
        EXPECT_EQ(fp.m_strMacId, L"") << registered;
        EXPECT_EQ(fp.m_strNicDescription, L"") << registered;
        EXPECT_EQ(debug_.lines.back(), L"Can't find Registered NIC Info !!! :\n");
    }
}

TEST_F(SystemInfoTest, SecondCollectionKeepsNothingOfTheFirst) {
    disk_.SetSerial("SER");
    registry_.SetRaw(RegRoot::kLocalMachine, kProductKeyPath, kProductKeyValue, kRegBinary,
                     std::vector<uint8_t>(kDigitalProductIdSize, 7));
    registry_.SetString(RegRoot::kLocalMachine, kComputerNamePath, kComputerNameValue, L"HOST");
    HostFingerprint fp = CollectWith({Adapter(kIfTypeEthernet, "Gigabit", 0x42)}, L"42");
    ASSERT_EQ(fp.m_strMacId, Mac(L"42"));
    ASSERT_FALSE(fp.m_strOsKey.empty());

    // Adapter removed, disk and registry gone, clock broken.
    adapters_.records.clear();
    disk_.answers = false;
    registry_.DenyKey(RegRoot::kLocalMachine, kProductKeyPath);
    registry_.DenyKey(RegRoot::kLocalMachine, kComputerNamePath);
    clock_.works = false;
    cpu_.signature = 0;
    ASSERT_TRUE(GetSystemInfo(sources_, record_, &fp));
    EXPECT_EQ(test::IdentityTexts(fp), (Lines{L"", L"", L"", L"", L"", L"0"}));
    EXPECT_EQ(test::Fields(fp.m_stCollected),
              (std::vector<int>{0, 0, 0, 0, 0xFFFF, 0xFFFF, 0xFFFF, 0}));
}

TEST(GetSystemNICInfo, ZeroesTheTableAndStoresCheckValues) {
    test::FakeAdapterList adapters;
    NetworkAdapterRecord a = Adapter(kIfTypeEthernet, "a", 0);
    a.address = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};  // sum 0x07F8
    NetworkAdapterRecord b = Adapter(kIfTypeEthernet, "b", 0);
    b.address = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x00, 0x80};  // sum 0x0095, bytes 6-7 count
    adapters.records = {a, Adapter(kIfTypeIeee80211, "w", 1), b};

    NicAdapterTable table;
    std::memset(table.data(), 0xA5, sizeof(table));
    ASSERT_EQ(GetSystemNICInfo(adapters, &table), 2);
    EXPECT_EQ(table[0].addressCheck, 0xF807);
    EXPECT_EQ(table[1].addressCheck, 0xFF6A);
    EXPECT_STREQ(table[1].description, "b");
    const auto* rest = reinterpret_cast<const uint8_t*>(&table[2]);
    for (size_t i = 0; i < sizeof(NicAdapterEntry) * (table.size() - 2); ++i) {
        ASSERT_EQ(rest[i], 0) << "byte " << i << " behind the filled entries";
    }

    adapters.obtainable = false;
    std::memset(table.data(), 0xA5, sizeof(table));
    EXPECT_EQ(GetSystemNICInfo(adapters, &table), 0);
    EXPECT_EQ(table[0].addressCheck, 0) << "an unobtainable list still leaves a zeroed table";
}

}  // namespace
}  // namespace kx7
