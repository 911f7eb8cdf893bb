// The registry sources of the identity against the registry that Wine provides: the product key
// and computer name planted in the prefix's HKLM, and the registered record read from HKCU values
// of every wrong shape. These tests change machine-wide values and run alone.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "connector/engine/record.h"
#include "connector/hostid/computer_name.h"
#include "connector/hostid/product_key.h"
#include "tests/fakes/registry_values_win.h"

namespace kx7 {
namespace {

TEST(HklmIdentity, PlantedProductKeyIsDecodedFromTheRealRegistry) {
    test::SavedValue saved(kProductKeyPath, kProductKeyValue);
    std::vector<BYTE> value(164, 0xEE);
    // Bytes 52 to 66 hold 24^5 + 2 (little-endian): the second group from the right ends in C,
    // the last symbol is D.
    const uint32_t number = 7962624 + 2;
    for (int i = 0; i < 15; ++i) {
        value[52 + i] = i < 4 ? static_cast<BYTE>(number >> (8 * i)) : 0;
    }
    saved.Plant(REG_BINARY, value.data(), 164);
    std::wstring key;
    ASSERT_TRUE(GetWindowsKey(SystemRegistry(), &key));
    EXPECT_EQ(key, L"BBBBB-BBBBB-BBBBB-BBBBC-BBBBD");

    value.push_back(0);  // 165 bytes no longer fit the query
    saved.Plant(REG_BINARY, value.data(), 165);
    key = L"before";
    EXPECT_FALSE(GetWindowsKey(SystemRegistry(), &key));
    EXPECT_EQ(key, L"before");
}

TEST(HklmIdentity, PlantedComputerNameIsReadAsStored) {
    test::SavedValue saved(kComputerNamePath, kComputerNameValue);
    const std::wstring mixed = L"Kx7-Test \u00C9";
    saved.Plant(REG_SZ, mixed.c_str(), static_cast<DWORD>((mixed.size() + 1) * 2));
    std::wstring name;
    GetComputerNameText(SystemRegistry(), &name);
    EXPECT_EQ(name, mixed) << "no case change, no trimming";

    const std::wstring longest(124, L'N');
    saved.Plant(REG_SZ, longest.c_str(), 250);
    name.clear();
    GetComputerNameText(SystemRegistry(), &name);
    EXPECT_EQ(name, longest);

    const std::wstring tooLong(125, L'N');
    saved.Plant(REG_SZ, tooLong.c_str(), 252);
    name.clear();
    GetComputerNameText(SystemRegistry(), &name);
    EXPECT_EQ(name, L"");
}

const wchar_t kRecordKey[] = L"SOFTWARE\\Stonevault\\KX7EntryPCAgent\\PCInfo";

class RecordFromRegistry : public ::testing::Test {
  protected:
    void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Stonevault"); }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Stonevault"); }

    static void Plant(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        test::PlantValue(HKEY_CURRENT_USER, kRecordKey, name, type, data, size);
    }
    static void PlantText(const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
        Plant(name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2));
    }
    static void PlantGoodRecord() {
        const DWORD index = 2;
        Plant(L"NICIndex", REG_DWORD, &index, 4);
        PlantText(L"NICDescription", L"Gigabit");
        PlantText(L"MACID", L"00-1B-21-3C-4D-5E");
        PlantText(L"DIskSerial", L"WD-1");
        PlantText(L"ComputerName", L"DESK");
        PlantText(L"OSKey", L"BBBBB-BBBBB-BBBBB-BBBBB-BBBBC");
        PlantText(L"CPUID", L"306C3");
    }
    static RegisteredPcRecord Load(bool* ok) {
        RegisteredPcRecord record;
        *ok = LoadRegisteredRecord(SystemRegistry(), &record);
        return record;
    }
    static bool StoredDword(const wchar_t* name, DWORD* value) {
        DWORD type = 0;
        DWORD size = sizeof(*value);
        return RegGetValueW(HKEY_CURRENT_USER, kRecordKey, name, RRF_RT_ANY, &type, value, &size) ==
                   ERROR_SUCCESS &&
               type == REG_DWORD && size == 4;
    }
};

TEST_F(RecordFromRegistry, UnusableMacValuesFailTheLoadAndStopTheReading) {
    const std::wstring text = L"00-1B-21-3C-4D-5E";
    const DWORD dword = 5;
    const ULONGLONG qword = 5;
    const std::wstring unterminated = text + L"X";
    const std::wstring overlong(1023, L'M');
    const wchar_t multi[] = L"00-1B\0second\0";
    const struct {
        const char* what;
        DWORD type;
        const void* data;
        DWORD size;
    } bad[] = {
        {"REG_DWORD", REG_DWORD, &dword, 4},
        {"REG_QWORD", REG_QWORD, &qword, 8},
        {"REG_BINARY holding text", REG_BINARY, text.c_str(),
         static_cast<DWORD>((text.size() + 1) * 2)},
        {"REG_MULTI_SZ", REG_MULTI_SZ, multi, sizeof(multi)},
        {"REG_NONE", REG_NONE, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2)},
        // The registry adds a terminator that the caller left out of the count when one
        // follows the data in memory, as NT does; so here none follows.
        {"REG_SZ without terminator", REG_SZ, unterminated.c_str(),
         static_cast<DWORD>(text.size() * 2)},
        {"REG_SZ of 1023 characters", REG_SZ, overlong.c_str(),
         static_cast<DWORD>((overlong.size() + 1) * 2)},
    };
    for (const auto& b : bad) {
        SCOPED_TRACE(b.what);
        PlantGoodRecord();
        Plant(L"MACID", b.type, b.data, b.size);
        bool ok = true;
        const RegisteredPcRecord r = Load(&ok);
        EXPECT_FALSE(ok);
        EXPECT_EQ(r.m_strNicDescription, L"Gigabit");
        EXPECT_EQ(r.m_strMacId, L"");
        EXPECT_EQ(r.m_strDiskSerial, L"") << "read after the failure";
        EXPECT_EQ(r.m_strCpuId, L"");
    }
}

TEST_F(RecordFromRegistry, AcceptedStringShapesAndDwordRepairs) {
    PlantGoodRecord();
    PlantText(L"MACID", L"%SystemRoot%", REG_EXPAND_SZ);
    PlantText(L"DIskSerial", std::wstring(1022, L'S'));
    PlantText(L"OSKey", L"");
    const wchar_t textIndex[] = L"2";
    Plant(L"NICIndex", REG_SZ, textIndex, sizeof(textIndex));
    Plant(L"CleanRegistry", REG_SZ, textIndex, sizeof(textIndex));
    bool ok = false;
    RegisteredPcRecord r = Load(&ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(r.m_strMacId, L"%SystemRoot%") << "never expanded";
    EXPECT_EQ(r.m_strDiskSerial, std::wstring(1022, L'S'));
    EXPECT_EQ(r.m_strOsKey, L"");
    EXPECT_EQ(r.m_strCpuId, L"306C3");
    EXPECT_EQ(r.m_nNicIndex, -2);
    EXPECT_FALSE(r.m_bCleanRegistry);
    DWORD clean = 99;
    ASSERT_TRUE(StoredDword(L"CleanRegistry", &clean)) << "repaired as a REG_DWORD";
    EXPECT_EQ(clean, 0u);

    const DWORD five = 5;
    Plant(L"CleanRegistry", REG_DWORD, &five, 4);
    r = Load(&ok);
    EXPECT_TRUE(r.m_bCleanRegistry);
}

}  // namespace
}  // namespace kx7
