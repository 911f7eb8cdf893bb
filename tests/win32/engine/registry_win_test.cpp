// The registry helpers and the settings against the registry that Wine provides.
#include <windows.h>

#include <gtest/gtest.h>

#include "connector/engine/settings.h"
#include "tests/fakes/registry_values_win.h"

namespace kx7 {
namespace {

const wchar_t kTestKey[] = L"SOFTWARE\\Stonevault\\Kx7RegistryTest";

class RealRegistry : public ::testing::Test {
  protected:
    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey);
        RegDeleteTreeW(HKEY_CURRENT_USER, kAutoConnKeyPath);
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey);
        RegDeleteTreeW(HKEY_CURRENT_USER, kAutoConnKeyPath);
    }
    static void Plant(const wchar_t* key, const wchar_t* name, DWORD type, const void* data,
                      DWORD size) {
        test::PlantValue(HKEY_CURRENT_USER, key, name, type, data, size);
    }
    static bool Stored(const wchar_t* name, DWORD* type, DWORD* value) {
        DWORD size = sizeof(*value);
        return RegGetValueW(HKEY_CURRENT_USER, kAutoConnKeyPath, name, RRF_RT_ANY, type, value,
                            &size) == ERROR_SUCCESS &&
               size == 4;
    }
};

TEST_F(RealRegistry, ReadRegDwordResultCodes) {
    Registry& reg = SystemRegistry();
    EXPECT_EQ(ReadRegDword(reg, kTestKey, L"Any"), -1) << "missing key";

    const DWORD good = 1234;
    const DWORD ones = 0xFFFFFFFF;
    const wchar_t text[] = L"10";
    const ULONGLONG qword = 10;
    const BYTE three[3] = {10, 0, 0};
    Plant(kTestKey, L"Good", REG_DWORD, &good, 4);
    Plant(kTestKey, L"Ones", REG_DWORD, &ones, 4);
    Plant(kTestKey, L"Text", REG_SZ, text, sizeof(text));
    Plant(kTestKey, L"Qword", REG_QWORD, &qword, 8);
    Plant(kTestKey, L"Three", REG_DWORD, three, 3);

    EXPECT_EQ(ReadRegDword(reg, kTestKey, L"Good"), 1234);
    EXPECT_EQ(ReadRegDword(reg, kTestKey, L"Ones"), -1);
    EXPECT_EQ(ReadRegDword(reg, kTestKey, L"Missing"), -2);
    EXPECT_EQ(ReadRegDword(reg, kTestKey, L"Text"), -2);
    EXPECT_EQ(ReadRegDword(reg, kTestKey, L"Qword"), -2);
    EXPECT_EQ(ReadRegDword(reg, kTestKey, L"Three"), -2);

    EXPECT_EQ(WriteRegDword(reg, kTestKey, L"Text", 5), 1);
    EXPECT_EQ(ReadRegDword(reg, kTestKey, L"Text"), 5) << "REG_SZ replaced by REG_DWORD";
}

TEST_F(RealRegistry, SettingsDefaultsRepairsAndTruncation) {
    const DWORD ones = 0xFFFFFFFF;
    const DWORD warmup = 70000;
    const DWORD afterReset = 0x12345;
    const wchar_t text[] = L"100";
    const ULONGLONG qword = 9;
    const BYTE three[3] = {1, 2, 3};
    Plant(kAutoConnKeyPath, L"Interval", REG_DWORD, &ones, 4);
    Plant(kAutoConnKeyPath, L"WarmupDelay", REG_DWORD, &warmup, 4);
    Plant(kAutoConnKeyPath, L"ActiveResetTime", REG_SZ, text, sizeof(text));
    Plant(kAutoConnKeyPath, L"ResetTime", REG_QWORD, &qword, 8);
    Plant(kAutoConnKeyPath, L"AfterResetDelay", REG_DWORD, &afterReset, 4);
    Plant(kAutoConnKeyPath, L"DetachDelay", REG_DWORD, three, 3);

    ConnectorSettings s;
    LoadConnectorSettings(SystemRegistry(), SystemOsVersion(), &s);
    EXPECT_EQ(s.m_nInterval, 10);
    EXPECT_EQ(s.m_timing.warmupDelay, 4464);
    EXPECT_EQ(s.m_timing.activeResetTime, 100);
    EXPECT_EQ(s.m_timing.resetTime, 5);
    EXPECT_EQ(s.m_timing.afterResetDelay, 0x2345u);
    EXPECT_EQ(s.m_nDetachDelay, 5000);

    const struct {
        const wchar_t* name;
        DWORD value;
    } expected[] = {{L"Interval", 10}, {L"WarmupDelay", 70000},       {L"ActiveResetTime", 100},
                    {L"ResetTime", 5}, {L"AfterResetDelay", 0x12345}, {L"DetachDelay", 5000}};
    for (const auto& e : expected) {
        DWORD type = 0;
        DWORD value = 0;
        ASSERT_TRUE(Stored(e.name, &type, &value)) << e.name;
        EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(value, e.value);
    }
}

TEST(OsVersion, MatchesTheSystemReport) {
    // Wine's new prefix reports 6.1 unless told otherwise; any real answer is major*256+minor.
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    ASSERT_TRUE(GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)));
#pragma GCC diagnostic pop
    EXPECT_EQ(GetOsVersion(SystemOsVersion()), info.dwMajorVersion * 256 + info.dwMinorVersion);
    EXPECT_NE(GetOsVersion(SystemOsVersion()), 0u);
}

}  // namespace
}  // namespace kx7
