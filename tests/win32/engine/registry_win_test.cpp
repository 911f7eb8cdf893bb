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
    static void Plant(const wchar_t* key, const wchar_t* name, const test::RegValue& value) {
        test::PlantValue(HKEY_CURRENT_USER, key, name, value);
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

    const struct {
        const wchar_t* name;
        test::RegValue planted;
        int read;
    } values[] = {{L"Good", test::Dword(1234), 1234},
                  {L"Ones", test::Dword(0xFFFFFFFF), -1},
                  {L"Text", test::Text(L"10"), -2},
                  {L"Qword", test::Qword(10), -2},
                  {L"Three", {REG_DWORD, {10, 0, 0}}, -2}};
    for (const auto& v : values) {
        Plant(kTestKey, v.name, v.planted);
    }
    for (const auto& v : values) {
        EXPECT_EQ(ReadRegDword(reg, kTestKey, v.name), v.read) << v.name;
    }
    EXPECT_EQ(ReadRegDword(reg, kTestKey, L"Missing"), -2);

    EXPECT_EQ(WriteRegDword(reg, kTestKey, L"Text", 5), 1);
    EXPECT_EQ(ReadRegDword(reg, kTestKey, L"Text"), 5) << "REG_SZ replaced by REG_DWORD";
}

TEST_F(RealRegistry, SettingsDefaultsRepairsAndTruncation) {
    // Each setting as planted, and as stored again once the settings are loaded.
    const struct {
        const wchar_t* name;
        test::RegValue planted;
        DWORD stored;
    } values[] = {{L"Interval", test::Dword(0xFFFFFFFF), 10},
                  {L"WarmupDelay", test::Dword(70000), 70000},
                  {L"ActiveResetTime", test::Text(L"100"), 100},
                  {L"ResetTime", test::Qword(9), 5},
                  {L"AfterResetDelay", test::Dword(0x12345), 0x12345},
                  {L"DetachDelay", {REG_DWORD, {1, 2, 3}}, 5000}};
    for (const auto& v : values) {
        Plant(kAutoConnKeyPath, v.name, v.planted);
    }

    ConnectorSettings s;
    LoadConnectorSettings(SystemRegistry(), SystemOsVersion(), &s);
    EXPECT_EQ(s.m_nInterval, 10);
    EXPECT_EQ(s.m_timing.warmupDelay, 4464);
    EXPECT_EQ(s.m_timing.activeResetTime, 100);
    EXPECT_EQ(s.m_timing.resetTime, 5);
    EXPECT_EQ(s.m_timing.afterResetDelay, 0x2345u);
    EXPECT_EQ(s.m_nDetachDelay, 5000);

    for (const auto& v : values) {
        DWORD type = 0;
        DWORD value = 0;
        ASSERT_TRUE(Stored(v.name, &type, &value)) << v.name;
        EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(value, v.stored);
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
