// The real KX7HostCheck.exe under Wine against records planted in the prefix's registry, with
// this PC's identity planted or taken from the Linux side, never from the code under test.
#include <windows.h>

#include <cpuid.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "connector/hostid/computer_name.h"
#include "connector/hostid/product_key.h"
#include "tests/e2e/process_driver_win.h"
#include "tests/fakes/product_texts.h"
#include "tests/fakes/linux_files.h"
#include "tests/fakes/registry_values_win.h"

namespace kx7::e2e {
namespace {

using namespace test;

const wchar_t kDriveKey[] = L"SOFTWARE\\Stonevault\\KX7EntryPCAgent\\KX7E2EDRIVE0001";
const char kComputerName[] = "KX7-CHECK-PC";
// A DigitalProductId of zeros but for a 1 in the key's lowest byte.
const char kProductKey[] = "BBBBB-BBBBB-BBBBB-BBBBB-BBBBC";
constexpr DWORD kRunTimeoutMs = 30000;
const char kNotRegisteredResult[] =
    "  KX7E2EDRIVE0001: would fail: \"Error ! This computer is not registered on the "
    "HostPair.\\r\\n\\r\\nPlease register to use the KX7.\"";

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

void PlantText(const wchar_t* key, const wchar_t* name, const std::string& text) {
    const std::wstring wide = Wide(text);
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, key, name, REG_SZ, wide.c_str(),
                              static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

bool UserValueExists(const wchar_t* key, const wchar_t* name) {
    return RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_ANY, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

bool UserKeyExists(const wchar_t* key) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &h) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(h);
    return true;
}

class HostCheckProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        DeleteUserKey(L"SOFTWARE\\Stonevault");
        const std::wstring name = Wide(kComputerName);
        computerName_.Plant(REG_SZ, name.c_str(), static_cast<DWORD>((name.size() + 1) * 2));
        std::vector<BYTE> productId(164, 0);
        productId[52] = 1;
        productKey_.Plant(REG_BINARY, productId.data(), static_cast<DWORD>(productId.size()));

        const std::vector<std::wstring> macs = test::LinuxEthernetMacs();
        ASSERT_FALSE(macs.empty()) << "no Ethernet interface visible through Z:";
        mac_ = Narrow(macs.front());
        unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
        ASSERT_NE(__get_cpuid(1, &eax, &ebx, &ecx, &edx), 0);
        char cpu[16] = {};
        std::snprintf(cpu, sizeof(cpu), "%X", eax);
        cpuId_ = cpu;
    }
    void TearDown() override { DeleteUserKey(L"SOFTWARE\\Stonevault"); }

    // The record as the registration program would have written it on this PC, without
    // "CleanRegistry". Wine reads no disk serial number, so the registered one is empty too.
    void PlantMatchingRecord() {
        const DWORD index = 0;
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kRecordKey, L"NICIndex", REG_DWORD, &index,
                                  sizeof(index)),
                  ERROR_SUCCESS);
        PlantText(kRecordKey, L"NICDescription", "eth0");
        PlantText(kRecordKey, L"MACID", mac_);
        PlantText(kRecordKey, L"DIskSerial", "");
        PlantText(kRecordKey, L"ComputerName", kComputerName);
        PlantText(kRecordKey, L"OSKey", kProductKey);
        PlantText(kRecordKey, L"CPUID", cpuId_);
    }
    static void PlantDrive(DWORD mode) { ASSERT_TRUE(WriteUserDword(kDriveKey, L"Mode", mode)); }

    // Runs the program and expects this exit code; its output with CR LF turned into LF, for
    // matching whole lines.
    std::string Run(DWORD expectedExitCode, const std::wstring& arguments = L"") {
        std::string output;
        DWORD exitCode = 99;
        EXPECT_TRUE(RunCapturingOutput(ProgramPath(L"KX7HostCheck.exe"), arguments, kRunTimeoutMs,
                                       &output, &exitCode));
        std::string lines;
        for (char c : output) {
            if (c != '\r') {
                lines.push_back(c);
            }
        }
        EXPECT_EQ(exitCode, expectedExitCode) << lines;
        return lines;
    }
    static void ExpectLine(const std::string& output, const std::string& line) {
        EXPECT_NE(("\n" + output).find("\n" + line + "\n"), std::string::npos)
            << "no line \"" << line << "\" in\n"
            << output;
    }

    test::SavedValue computerName_{kComputerNamePath, kComputerNameValue};
    test::SavedValue productKey_{kProductKeyPath, kProductKeyValue};
    std::string mac_;
    std::string cpuId_;
};

TEST_F(HostCheckProgram, MatchingRecordPassesOnEveryItemAndIsLeftAsItWas) {
    PlantMatchingRecord();
    PlantDrive(0x1F);
    const std::string out = Run(0);
    const std::string key = kProductKey;
    ExpectLine(out,
               "  MAC address     equal     registered \"" + mac_ + "\", this PC \"" + mac_ + "\"");
    ExpectLine(out, "  disk serial     equal     registered \"\", this PC \"\"");
    ExpectLine(out,
               "  computer name   equal     registered \"KX7-CHECK-PC\", this PC \"KX7-CHECK-PC\"");
    ExpectLine(out,
               "  OS product key  equal     registered \"" + key + "\", this PC \"" + key + "\"");
    ExpectLine(out, "  processor id    equal     registered \"" + cpuId_ + "\", this PC \"" +
                        cpuId_ + "\"");
    ExpectLine(out, "  KX7E2EDRIVE0001: would pass");
    // The connector would have written "CleanRegistry" = 0 on loading this record.
    EXPECT_FALSE(UserValueExists(kRecordKey, L"CleanRegistry"));
}

// A paired drive on a PC whose record does not let it through: the exit code and the lines that
// say why. The record is never created by the check.
struct FailedCheck {
    const char* name;
    bool record;                 // the matching record is planted
    const char* registeredName;  // planted over the record's computer name, if not null
    DWORD mode;
    DWORD exitCode;
    const char* lines[2];  // found in the output
    friend void PrintTo(const FailedCheck& c, std::ostream* os) { *os << c.name; }
};

class HostCheckFails : public HostCheckProgram,
                       public ::testing::WithParamInterface<FailedCheck> {};

TEST_P(HostCheckFails, WithTheConnectorsMessage) {
    const FailedCheck& p = GetParam();
    if (p.record) {
        PlantMatchingRecord();
    }
    if (p.registeredName != nullptr) {
        PlantText(kRecordKey, L"ComputerName", p.registeredName);
    }
    PlantDrive(p.mode);
    const std::string out = Run(p.exitCode);
    ExpectLine(out, p.lines[0]);
    ExpectLine(out, p.lines[1]);
    EXPECT_EQ(UserKeyExists(kRecordKey), p.record);
    EXPECT_TRUE(UserKeyExists(kAgentKey));
}

INSTANTIATE_TEST_SUITE_P(
    Records, HostCheckFails,
    ::testing::Values(
        FailedCheck{
            "ChangedComputerNameIsTheConnectorsMessage", true, "OLD-NAME", 0x1F, 1,
            "  computer name   DIFFERS   registered \"OLD-NAME\", this PC \"KX7-CHECK-PC\"",
            "  KX7E2EDRIVE0001: would fail: \"Error ! System environment has changed.\\r\\n\\r\\n"
            "Computer Name : Entry( OLD-NAME ), Current( KX7-CHECK-PC )\""},
        FailedCheck{"MissingRecordIsReportedAndNotCreated", false, nullptr, 0x1F, 2,
                    "  cannot be loaded: the key does not exist: this PC has not been registered",
                    kNotRegisteredResult},
        FailedCheck{"DriveWithModeZeroIsNotRegistered", true, nullptr, 0, 1,
                    "Drive KX7E2EDRIVE0001, \"Mode\" 0x00000000", kNotRegisteredResult}),
    [](const ::testing::TestParamInfo<FailedCheck>& info) { return info.param.name; });

TEST_F(HostCheckProgram, NeverPairedIsNotReadyAndOnlyTheUsageSwitchIsTaken) {
    Run(3);
    std::string out = Run(0, L"/?");
    EXPECT_EQ(out.rfind("Usage: KX7HostCheck [/?]\n", 0), 0u) << out;
    out = Run(4, L"/verbose");
    EXPECT_EQ(out.rfind("KX7HostCheck: unknown argument \"/verbose\"\n", 0), 0u) << out;
}

}  // namespace
}  // namespace kx7::e2e
