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

    // Runs the program; its output with CR LF turned into LF, for matching whole lines.
    std::string Run(DWORD* exitCode, const std::wstring& arguments = L"") {
        std::string output;
        EXPECT_TRUE(RunCapturingOutput(ProgramPath(L"KX7HostCheck.exe"), arguments, kRunTimeoutMs,
                                       &output, exitCode));
        std::string lines;
        for (char c : output) {
            if (c != '\r') {
                lines.push_back(c);
            }
        }
        return lines;
    }
    static bool HasLine(const std::string& output, const std::string& line) {
        return ("\n" + output).find("\n" + line + "\n") != std::string::npos;
    }

    test::SavedValue computerName_{kComputerNamePath, kComputerNameValue};
    test::SavedValue productKey_{kProductKeyPath, kProductKeyValue};
    std::string mac_;
    std::string cpuId_;
};

TEST_F(HostCheckProgram, MatchingRecordPassesOnEveryItemAndIsLeftAsItWas) {
    PlantMatchingRecord();
    PlantDrive(0x1F);
    DWORD exitCode = 99;
    const std::string out = Run(&exitCode);
    EXPECT_EQ(exitCode, 0u) << out;
    EXPECT_TRUE(HasLine(
        out, "  MAC address     equal     registered \"" + mac_ + "\", this PC \"" + mac_ + "\""))
        << out;
    EXPECT_TRUE(HasLine(out, "  disk serial     equal     registered \"\", this PC \"\""));
    EXPECT_TRUE(HasLine(out,
                        "  computer name   equal     registered \"KX7-CHECK-PC\", this PC "
                        "\"KX7-CHECK-PC\""));
    EXPECT_TRUE(HasLine(out, "  OS product key  equal     registered \"" +
                                 std::string(kProductKey) + "\", this PC \"" + kProductKey + "\""));
    EXPECT_TRUE(HasLine(out, "  processor id    equal     registered \"" + cpuId_ +
                                 "\", this PC \"" + cpuId_ + "\""));
    EXPECT_TRUE(HasLine(out, "  KX7E2EDRIVE0001: would pass"));
    // The connector would have written "CleanRegistry" = 0 on loading this record.
    EXPECT_FALSE(UserValueExists(kRecordKey, L"CleanRegistry"));
}

TEST_F(HostCheckProgram, ChangedComputerNameIsTheConnectorsMessage) {
    PlantMatchingRecord();
    PlantText(kRecordKey, L"ComputerName", "OLD-NAME");
    PlantDrive(0x1F);
    DWORD exitCode = 99;
    const std::string out = Run(&exitCode);
    EXPECT_EQ(exitCode, 1u) << out;
    EXPECT_TRUE(HasLine(out,
                        "  computer name   DIFFERS   registered \"OLD-NAME\", this PC "
                        "\"KX7-CHECK-PC\""))
        << out;
    EXPECT_TRUE(HasLine(out,
                        "  KX7E2EDRIVE0001: would fail: \"Error ! System environment has "
                        "changed.\\r\\n\\r\\nComputer Name : Entry( OLD-NAME ), Current( "
                        "KX7-CHECK-PC )\""))
        << out;
}

TEST_F(HostCheckProgram, MissingRecordIsReportedAndNotCreated) {
    PlantDrive(0x1F);
    DWORD exitCode = 99;
    const std::string out = Run(&exitCode);
    EXPECT_EQ(exitCode, 2u) << out;
    EXPECT_TRUE(HasLine(out,
                        "  cannot be loaded: the key does not exist: this PC has not been "
                        "registered"))
        << out;
    EXPECT_TRUE(HasLine(out, kNotRegisteredResult));
    EXPECT_FALSE(UserKeyExists(kRecordKey));
    EXPECT_TRUE(UserKeyExists(kAgentKey));
}

TEST_F(HostCheckProgram, NeverPairedIsNotReadyAndOnlyTheUsageSwitchIsTaken) {
    DWORD exitCode = 99;
    std::string out = Run(&exitCode);
    EXPECT_EQ(exitCode, 3u) << out;
    out = Run(&exitCode, L"/?");
    EXPECT_EQ(exitCode, 0u) << out;
    EXPECT_EQ(out.rfind("Usage: KX7HostCheck [/?]\n", 0), 0u) << out;
    out = Run(&exitCode, L"/verbose");
    EXPECT_EQ(exitCode, 4u) << out;
    EXPECT_EQ(out.rfind("KX7HostCheck: unknown argument \"/verbose\"\n", 0), 0u) << out;
}

TEST_F(HostCheckProgram, DriveWithModeZeroIsNotRegistered) {
    PlantMatchingRecord();
    PlantDrive(0);
    DWORD exitCode = 99;
    const std::string out = Run(&exitCode);
    EXPECT_EQ(exitCode, 1u) << out;
    EXPECT_TRUE(HasLine(out, "Drive KX7E2EDRIVE0001, \"Mode\" 0x00000000")) << out;
    EXPECT_TRUE(HasLine(out, kNotRegisteredResult));
}

}  // namespace
}  // namespace kx7::e2e
