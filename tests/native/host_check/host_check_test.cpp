// The host check against an in-memory registry and stand-in host sources: its whole report for
// a mixed set of drives, the reasons a record cannot be loaded, and that it never writes.
#include "host_check/host_check.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "connector/engine/record.h"
#include "connector/hostid/computer_name.h"
#include "connector/hostid/product_key.h"
#include "tests/fakes/fake_host_sources.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/latin1_code_page.h"

namespace kx7 {
namespace {

constexpr RegRoot kHkcu = RegRoot::kCurrentUser;
const std::wstring kAgent = L"SOFTWARE\\Stonevault\\KX7EntryPCAgent";
const std::wstring kPcInfo = kAgent + L"\\PCInfo";
const std::wstring kNotRegistered =
    L"\"Error ! This computer is not registered on the HostPair.\\r\\n\\r\\nPlease register to "
    L"use the KX7.\"";

class HostCheckTest : public ::testing::Test, protected test::FakeHostSources {
  protected:
    HostCheckTest() { PlantThisPc(); }

    void PlantThisPc() {
        // This PC: one wired adapter 00-1B-A2-3C-4D-5E, disk WD-1234, DESK-07, product key
        // BBBBB-BBBBB-BBBBB-BBBBB-BBBBC and processor 306C3.
        NetworkAdapterRecord nic;
        nic.type = kIfTypeEthernet;
        nic.description = "Gigabit \xC4thernet";
        nic.addressLength = 6;
        nic.address = {0x00, 0x1B, 0xA2, 0x3C, 0x4D, 0x5E, 0, 0};
        nic.ipAddress = "10.0.0.7";
        adapters_.records = {nic};
        disk_.SetSerial("WD-1234");
        std::vector<uint8_t> productId(kDigitalProductIdSize, 0);
        productId[kEncodedKeyOffset] = 1;
        registry_.SetRaw(RegRoot::kLocalMachine, kProductKeyPath, kProductKeyValue, kRegBinary,
                         productId);
        registry_.SetString(RegRoot::kLocalMachine, kComputerNamePath, kComputerNameValue,
                            L"DESK-07");
        cpu_.signature = 0x000306C3;
        clock_.now.tm_year = 124;
        clock_.now.tm_mon = 2;
        clock_.now.tm_mday = 7;
    }

    // The record the registration program leaves for this PC, without "CleanRegistry" and
    // without the value named by skip.
    void PlantRecord(const std::wstring& skip = L"") {
        registry_.SetDwordValue(kHkcu, kPcInfo, L"NICIndex", 3);
        const std::pair<const wchar_t*, const wchar_t*> strings[] = {
            {L"NICDescription", L"Gigabit \u00C4thernet"},
            {L"MACID", L"00-1B-A2-3C-4D-5E"},
            {L"DIskSerial", L"WD-1234"},
            {L"ComputerName", L"DESK-07"},
            {L"OSKey", L"BBBBB-BBBBB-BBBBB-BBBBB-BBBBC"},
            {L"CPUID", L"306C3"},
        };
        for (const auto& [name, text] : strings) {
            if (skip != name) {
                registry_.SetString(kHkcu, kPcInfo, name, text);
            }
        }
    }
    void PlantDrive(const std::wstring& id, uint32_t mode) {
        registry_.SetDwordValue(kHkcu, kAgent + L"\\" + id, L"Mode", mode);
    }
    HostCheckReport Run(bool elevated = true) { return RunHostCheck(sources_, elevated); }
};

bool HasLine(const HostCheckReport& report, const std::wstring& line) {
    return report.text.find(L"\r\n" + line + L"\r\n") != std::wstring::npos;
}

TEST_F(HostCheckTest, WholeReportForChangedItemsUnboundAndUnknownBits) {
    PlantRecord();
    registry_.SetString(kHkcu, kPcInfo, L"DIskSerial", L"WD-OLD");
    registry_.SetString(kHkcu, kPcInfo, L"CPUID", L"206A7");
    PlantDrive(L"KX7-DRIVE-A", 0x13);  // MAC, disk and processor: two of them differ
    PlantDrive(L"KX7-DRIVE-B", 0);     // not registered for this PC
    PlantDrive(L"KX7-DRIVE-C", 0x20);  // no bit the connector knows
    registry_.AddKey(kHkcu, kAgent + L"\\KX7-NO-MODE");  // not a registered drive

    const HostCheckReport report = Run();
    EXPECT_EQ(report.exitCode, 1);
    EXPECT_EQ(report.text,
              L"KX7 HostPair host check\r\n"
              L"\r\n"
              L"Registered PC record: "
              L"HKEY_CURRENT_USER\\SOFTWARE\\Stonevault\\KX7EntryPCAgent\\PCInfo\r\n"
              L"  loaded\r\n"
              L"\r\n"
              L"Wired network adapters of this PC:\r\n"
              L"  NIC # 0  00-1B-A2-3C-4D-5E  \"Gigabit \u00C4thernet\"\r\n"
              L"\r\n"
              L"Drive KX7-DRIVE-A, \"Mode\" 0x00000013\r\n"
              L"  MAC address     equal     registered \"00-1B-A2-3C-4D-5E\", this PC "
              L"\"00-1B-A2-3C-4D-5E\"\r\n"
              L"  disk serial     DIFFERS   registered \"WD-OLD\", this PC \"WD-1234\"\r\n"
              L"  processor id    DIFFERS   registered \"206A7\", this PC \"306C3\"\r\n"
              L"\r\n"
              L"Drive KX7-DRIVE-B, \"Mode\" 0x00000000\r\n"
              L"  bound to no item: this PC is not registered for the drive\r\n"
              L"\r\n"
              L"Drive KX7-DRIVE-C, \"Mode\" 0x00000020\r\n"
              L"  bound to no identity item: nothing to compare\r\n"
              L"\r\n"
              L"Result:\r\n"
              L"  KX7-DRIVE-A: would fail: \"Error ! System environment has changed.\\r\\n\\r\\n"
              L"Disk Serial : Entry( WD-OLD ), Current( WD-1234 )\"\r\n"
              L"  KX7-DRIVE-B: would fail: " +
                  kNotRegistered +
                  L"\r\n"
                  L"  KX7-DRIVE-C: would pass\r\n");
}

TEST_F(HostCheckTest, EveryItemEqualPassesAndANonAdministratorIsWarned) {
    PlantRecord();
    PlantDrive(L"0123456789ABCDEF", 0x1F);
    PlantDrive(L"FEDCBA9876543210", 0x04);

    HostCheckReport report = Run(false);
    EXPECT_EQ(report.exitCode, 0);
    EXPECT_TRUE(HasLine(report,
                        L"  OS product key  equal     registered "
                        L"\"BBBBB-BBBBB-BBBBB-BBBBB-BBBBC\", this PC "
                        L"\"BBBBB-BBBBB-BBBBB-BBBBB-BBBBC\""))
        << report.text;
    EXPECT_TRUE(HasLine(report, L"  0123456789ABCDEF: would pass"));
    EXPECT_TRUE(HasLine(report, L"  FEDCBA9876543210: would pass"));
    EXPECT_NE(report.text.find(L"not running as administrator"), std::wstring::npos);
    EXPECT_EQ(Run(true).text.find(L"administrator"), std::wstring::npos);

    // Without any drive there is nothing to pass: a PC to pair, not a ready one.
    registry_.DenyKey(kHkcu, kAgent + L"\\0123456789ABCDEF");
    registry_.DenyKey(kHkcu, kAgent + L"\\FEDCBA9876543210");
    report = Run();
    EXPECT_EQ(report.exitCode, 3);
    EXPECT_TRUE(HasLine(report,
                        L"  no drive is registered for this PC (no subkey of "
                        L"HKEY_CURRENT_USER\\SOFTWARE\\Stonevault\\KX7EntryPCAgent "
                        L"holds \"Mode\")"))
        << report.text;
}

TEST_F(HostCheckTest, MacOfAnAbsentAdapterNamesTheRegisteredOneWithTheMissingIndex) {
    PlantRecord();
    registry_.SetString(kHkcu, kPcInfo, L"MACID", L"00-1B-A2-3C-4D-77");
    registry_.SetString(kHkcu, kPcInfo, L"NICIndex", L"3");  // a text: the index reads as -2
    registry_.SetString(kHkcu, kPcInfo, L"DIskSerial", L"changed too, but after the MAC");
    PlantDrive(L"KX7", 0x1F);
    const HostCheckReport report = Run();
    EXPECT_EQ(report.exitCode, 1);
    EXPECT_TRUE(HasLine(report,
                        L"  MAC address     DIFFERS   registered \"00-1B-A2-3C-4D-77\", "
                        L"this PC \"\""))
        << report.text;
    EXPECT_TRUE(HasLine(report,
                        L"  KX7: would fail: \"Error ! System environment has "
                        L"changed.\\r\\n\\r\\nNic #-2 Name : Gigabit \u00C4thernet\\r\\n"
                        L"Entry   MAC ID : 00-1B-A2-3C-4D-77\\r\\nCurrent MAC ID : \\r\\n\""))
        << report.text;
}

// A record that cannot be loaded: the check says why and fails every drive.
struct UnloadableCase {
    const char* name;
    void (*spoil)(test::FakeRegistry&);
    std::wstring reason;
    friend void PrintTo(const UnloadableCase& c, std::ostream* os) { *os << c.name; }
};
const UnloadableCase kUnloadable[] = {
    {"NeverRegistered", [](test::FakeRegistry& r) { r.DenyKey(kHkcu, kPcInfo); },
     L"the key cannot be opened (error 5)"},
    {"StringOfAnotherType",
     [](test::FakeRegistry& r) { r.SetDwordValue(kHkcu, kPcInfo, L"MACID", 7); },
     L"the value \"MACID\" is unreadable: REG_DWORD of 4 bytes, where text is needed (REG_SZ "
     L"or REG_EXPAND_SZ, ending with a NUL, at most 1022 characters)"},
    {"StringTooLong",
     [](test::FakeRegistry& r) {
         r.SetString(kHkcu, kPcInfo, L"ComputerName", std::wstring(1023, L'N'));
     },
     L"the value \"ComputerName\" is unreadable: REG_SZ of 2048 bytes, where text is needed "
     L"(REG_SZ or REG_EXPAND_SZ, ending with a NUL, at most 1022 characters)"},
};

class UnloadableRecord : public HostCheckTest,
                         public ::testing::WithParamInterface<UnloadableCase> {};
INSTANTIATE_TEST_SUITE_P(HostCheck, UnloadableRecord, ::testing::ValuesIn(kUnloadable),
                         ::testing::PrintToStringParamName());

TEST_P(UnloadableRecord, SaysWhyAndFailsEveryDrive) {
    PlantRecord();
    PlantDrive(L"KX7", 0x1F);
    GetParam().spoil(registry_);
    const HostCheckReport report = Run();
    EXPECT_EQ(report.exitCode, 2);
    EXPECT_TRUE(HasLine(report, L"  cannot be loaded: " + GetParam().reason)) << report.text;
    EXPECT_TRUE(HasLine(report, L"  not compared: the record cannot be loaded"));
    EXPECT_TRUE(HasLine(report, L"  KX7: would fail: " + kNotRegistered));
}

TEST_F(HostCheckTest, MissingRecordAndMissingValueAreNamed) {
    const std::wstring noKey =
        L"  cannot be loaded: the key does not exist: this PC has not been registered";
    // Never paired: nothing is registered, which is not the same as a broken registration.
    HostCheckReport report = Run();
    EXPECT_EQ(report.exitCode, 3);
    EXPECT_TRUE(HasLine(report, noKey)) << report.text;

    PlantDrive(L"KX7", 0x1F);
    report = Run();
    EXPECT_EQ(report.exitCode, 2);
    EXPECT_TRUE(HasLine(report, noKey)) << report.text;

    PlantRecord(L"CPUID");
    report = Run();
    EXPECT_EQ(report.exitCode, 2);
    EXPECT_TRUE(HasLine(report, L"  cannot be loaded: the value \"CPUID\" is missing"))
        << report.text;
}

TEST(HostCheckArguments, OnlyTheUsageSwitchesAreUnderstood) {
    std::wstring bad;
    EXPECT_EQ(ParseHostCheckArguments({}, &bad), HostCheckAction::kRun);
    for (const wchar_t* usage : {L"/?", L"-?", L"/H", L"-h", L"/Help", L"--HELP"}) {
        EXPECT_EQ(ParseHostCheckArguments({usage}, &bad), HostCheckAction::kUsage) << usage;
    }
    for (const wchar_t* refused : {L"?", L"/??", L"", L"/x"}) {
        EXPECT_EQ(ParseHostCheckArguments({L"/?", refused}, &bad), HostCheckAction::kBadArgument);
        EXPECT_EQ(bad, refused);
    }
}

TEST_F(HostCheckTest, UnusableModeValuesMeanNotRegistered) {
    PlantRecord();
    registry_.SetString(kHkcu, kAgent + L"\\AS-TEXT", L"Mode", L"31");
    PlantDrive(L"NEGATIVE", 0x8000001F);
    const HostCheckReport report = Run();
    EXPECT_EQ(report.exitCode, 1);
    EXPECT_TRUE(HasLine(report, L"Drive AS-TEXT, \"Mode\" unusable (REG_SZ of 6 bytes)"))
        << report.text;
    EXPECT_TRUE(HasLine(report, L"Drive NEGATIVE, \"Mode\" 0x8000001F"));
    EXPECT_TRUE(HasLine(report, L"  AS-TEXT: would fail: " + kNotRegistered));
    EXPECT_TRUE(HasLine(report, L"  NEGATIVE: would fail: " + kNotRegistered));
}

TEST_F(HostCheckTest, WritesNothingWhereTheConnectorWouldRepair) {
    // The connector's own load of this record writes "CleanRegistry"; the check must not.
    {
        test::FakeRegistry connector;
        connector.SetString(kHkcu, kPcInfo, L"MACID", L"x");
        RegisteredPcRecord record;
        LoadRegisteredRecord(connector, &record);
        ASSERT_EQ(connector.writes().size(), 1u) << "the repair this test guards against";
    }
    PlantRecord();
    PlantDrive(L"KX7", 0x1F);
    Run();
    EXPECT_TRUE(registry_.writes().empty());
    EXPECT_EQ(registry_.Find(kHkcu, kPcInfo, L"CleanRegistry"), nullptr);

    test::FakeRegistry empty;
    HostSources sources{adapters_, disk_, empty, cpu_, clock_, codePage_, debug_};
    EXPECT_EQ(RunHostCheck(sources, true).exitCode, 3);
    EXPECT_TRUE(empty.writes().empty());
    EXPECT_FALSE(empty.HasKey(kHkcu, kPcInfo)) << "the record key was created";
    for (const auto& open : empty.opens()) {
        EXPECT_FALSE(open.create) << std::string(open.path.begin(), open.path.end());
    }
    EXPECT_EQ(empty.openHandles(), 0u);
}

}  // namespace
}  // namespace kx7
