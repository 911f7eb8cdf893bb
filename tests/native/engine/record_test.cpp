#include "connector/engine/record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "connector/engine/settings.h"
#include "tests/fakes/fake_host_sources.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/latin1_code_page.h"

namespace kx7 {
namespace {

using test::FakeRegistry;

constexpr RegRoot kHkcu = RegRoot::kCurrentUser;
const std::wstring kRecordKey = L"SOFTWARE\\Stonevault\\KX7EntryPCAgent\\PCInfo";
const std::wstring kSentinel = L"untouched";

std::vector<uint8_t> Utf16(const std::wstring& text) {
    return FakeRegistry::Utf16(text);
}

using Texts = std::vector<std::wstring>;

// The record's six strings in the order they are read: names, and the texts the agent stores.
const Texts kStringNames = {L"NICDescription", L"MACID", L"DIskSerial",
                            L"ComputerName",   L"OSKey", L"CPUID"};
const Texts kFullTexts = {L"Gigabit Adapter", L"00-1A-2B-3C-4D-5E", L"WD-123456",
                          L"DESK-07",         L"ABCDE-12345",       L"BFEBFBFF000306A9"};

// The first `count` texts of the full record, the rest empty.
Texts FirstTexts(size_t count) {
    Texts texts(kStringNames.size(), L"");
    std::copy(kFullTexts.begin(), kFullTexts.begin() + count, texts.begin());
    return texts;
}

// The record as the agent leaves it, without the value named by skip, if any.
void PlantFullRecord(FakeRegistry& reg, const std::wstring& skip = L"") {
    if (skip != L"NICIndex") {
        reg.SetDwordValue(kHkcu, kRecordKey, L"NICIndex", 3);
    }
    for (size_t i = 0; i < kStringNames.size(); ++i) {
        if (skip != kStringNames[i]) {
            reg.SetString(kHkcu, kRecordKey, kStringNames[i], kFullTexts[i]);
        }
    }
    if (skip != L"CleanRegistry") {
        reg.SetDwordValue(kHkcu, kRecordKey, L"CleanRegistry", 0);
    }
}

// A record whose members all hold leftovers, so that the load has to reset every one.
RegisteredPcRecord StaleRecord() {
    RegisteredPcRecord r;
    r.m_nNicIndex = 99;
    r.m_strNicDescription = r.m_strMacId = r.m_strDiskSerial = r.m_strComputerName = r.m_strOsKey =
        r.m_strCpuId = L"stale";
    r.m_bCleanRegistry = true;
    return r;
}

int64_t StoredDword(const FakeRegistry& reg, const std::wstring& name) {
    return reg.StoredDword(kHkcu, kRecordKey, name);
}

TEST(ReadRegString, KeyAndValueFailuresLeaveDestination) {
    FakeRegistry reg;
    std::wstring dest = kSentinel;
    EXPECT_EQ(ReadRegString(reg, kRecordKey, L"MACID", &dest), kRegKeyUnavailable);
    EXPECT_EQ(dest, kSentinel);

    reg.AddKey(kHkcu, kRecordKey);
    EXPECT_EQ(ReadRegString(reg, kRecordKey, L"MACID", &dest), kRegValueUnreadable);
    EXPECT_EQ(dest, kSentinel);

    reg.SetString(kHkcu, kRecordKey, L"MACID", L"00-11");
    reg.DenyKey(kHkcu, kRecordKey);
    EXPECT_EQ(ReadRegString(reg, kRecordKey, L"MACID", &dest), kRegKeyUnavailable);
    EXPECT_EQ(dest, kSentinel);

    EXPECT_EQ(reg.openHandles(), 0u);
    for (const auto& open : reg.opens()) {
        EXPECT_EQ(open.root, kHkcu);
        EXPECT_EQ(open.access, kKeyReadWrite);
        EXPECT_FALSE(open.create) << "reading never creates the key";
    }
}

// The text as UTF-16LE bytes with these bytes after it.
std::vector<uint8_t> Utf16Then(const std::wstring& text, const std::vector<uint8_t>& tail) {
    std::vector<uint8_t> data = Utf16(text);
    data.insert(data.end(), tail.begin(), tail.end());
    return data;
}

// Raw value data read back through ReadRegString: the text it gives, or none when the value is
// unreadable and the destination keeps what it held.
struct RawValueCase {
    const char* name;
    uint32_t type;
    std::vector<uint8_t> data;
    std::optional<std::wstring> text;
    friend void PrintTo(const RawValueCase& c, std::ostream* os) { *os << c.name; }
};
const std::wstring kTemp = L"%TEMP%\\x";
const std::wstring kLongest(1022, L'x');  // with its terminator 2046 bytes: the whole buffer
const std::wstring kWide = {L'\u00e9', L'\u4e2d', L'\uff21'};
const RawValueCase kRawValues[] = {
    {"Text", kRegSz, Utf16Then(kTemp, {0, 0}), kTemp},
    {"ExpandableTextIsNotExpanded", kRegExpandSz, Utf16Then(kTemp, {0, 0}), kTemp},
    {"BinaryIsRefused", kRegBinary, Utf16Then(kTemp, {0, 0}), std::nullopt},
    {"DwordIsRefused", kRegDword, Utf16Then(kTemp, {0, 0}), std::nullopt},
    {"NoneIsRefused", kRegNone, Utf16Then(kTemp, {0, 0}), std::nullopt},
    {"QwordIsRefused", kRegQword, Utf16Then(kTemp, {0, 0}), std::nullopt},
    {"MultiStringIsRefused", 7, Utf16Then(kTemp, {0, 0}), std::nullopt},
    {"LongestTextFillsTheBuffer", kRegSz, Utf16Then(kLongest, {0, 0}), kLongest},
    {"WholeBufferWithoutTerminator", kRegSz, Utf16(kLongest + L'x'), std::nullopt},
    {"OneCharacterTooMany", kRegSz, Utf16Then(kLongest + L'x', {0, 0}), std::nullopt},
    {"FarTooLong", kRegSz, Utf16Then(std::wstring(4000, L'x'), {0, 0}), std::nullopt},
    // Short text padded with zeros beyond the buffer still does not fit.
    {"ZeroPaddedPastTheBuffer", kRegSz, Utf16Then(L"ab", std::vector<uint8_t>(2044, 0)),
     std::nullopt},
    {"Unterminated", kRegSz, Utf16(L"abc"), std::nullopt},
    {"NulInTheMiddleIsNoTerminator", kRegSz, Utf16(std::wstring(L"ab\0cd", 5)), std::nullopt},
    {"TextEndsAtTheFirstNul", kRegSz, Utf16(std::wstring(L"ab\0cd\0", 6)), L"ab"},
    {"EmptyValue", kRegSz, {}, L""},
    {"OnlyATerminator", kRegSz, {0, 0}, L""},
    {"StrayByteAfterATerminator", kRegSz, Utf16Then(std::wstring(L"ab\0", 3), {0x41}), L"ab"},
    {"HalfATerminator", kRegSz, Utf16Then(L"ab", {0}), std::nullopt},
    {"SingleByteHoldsNoCharacter", kRegSz, {0}, L""},
    {"WideCharactersKeepTheirValue", kRegSz, Utf16Then(kWide, {0, 0}), kWide},
};

class RawValue : public ::testing::TestWithParam<RawValueCase> {};
INSTANTIATE_TEST_SUITE_P(ReadRegString, RawValue, ::testing::ValuesIn(kRawValues),
                         ::testing::PrintToStringParamName());

TEST_P(RawValue, ReadsAsText) {
    const RawValueCase& c = GetParam();
    FakeRegistry reg;
    reg.SetRaw(kHkcu, kRecordKey, L"V", c.type, c.data);
    std::wstring dest = kSentinel;
    EXPECT_EQ(ReadRegString(reg, kRecordKey, L"V", &dest), c.text ? 0 : kRegValueUnreadable);
    EXPECT_EQ(dest, c.text.value_or(kSentinel));
    EXPECT_EQ(reg.openHandles(), 0u);
}

TEST(LoadRegisteredRecord, NeverRegisteredPcCreatesOnlyCleanRegistry) {
    FakeRegistry reg;
    RegisteredPcRecord record = StaleRecord();
    EXPECT_FALSE(LoadRegisteredRecord(reg, &record));

    EXPECT_EQ(record.m_nNicIndex, kRegKeyUnavailable);
    EXPECT_EQ(test::IdentityTexts(record), Texts(6, L""));
    EXPECT_FALSE(record.m_bCleanRegistry);

    ASSERT_TRUE(reg.HasKey(kHkcu, kRecordKey));
    EXPECT_EQ(reg.ValueCount(kHkcu, kRecordKey), 1u);
    EXPECT_EQ(StoredDword(reg, L"CleanRegistry"), 0);
    ASSERT_EQ(reg.writes().size(), 1u);
    EXPECT_EQ(reg.writes()[0].name, L"CleanRegistry");
    EXPECT_EQ(reg.openHandles(), 0u);
    for (const auto& open : reg.opens()) {
        EXPECT_EQ(open.root, kHkcu) << "the record lives under HKEY_CURRENT_USER only";
        EXPECT_EQ(open.access, kKeyReadWrite);
    }
}

TEST(LoadRegisteredRecord, FullRecord) {
    FakeRegistry reg;
    PlantFullRecord(reg);
    RegisteredPcRecord record = StaleRecord();
    EXPECT_TRUE(LoadRegisteredRecord(reg, &record));
    EXPECT_EQ(record.m_nNicIndex, 3);
    EXPECT_EQ(test::IdentityTexts(record), kFullTexts);
    EXPECT_FALSE(record.m_bCleanRegistry);
    EXPECT_TRUE(reg.writes().empty()) << "a stored 0 needs no repair";
}

TEST(LoadRegisteredRecord, NicIndexIsNotRequired) {
    FakeRegistry missing;
    PlantFullRecord(missing, L"NICIndex");
    RegisteredPcRecord record;
    EXPECT_TRUE(LoadRegisteredRecord(missing, &record));
    EXPECT_EQ(record.m_nNicIndex, kRegValueUnreadable) << "missing";
    EXPECT_EQ(record.m_strCpuId, L"BFEBFBFF000306A9");

    FakeRegistry text;
    PlantFullRecord(text);
    text.SetString(kHkcu, kRecordKey, L"NICIndex", L"3");
    EXPECT_TRUE(LoadRegisteredRecord(text, &record));
    EXPECT_EQ(record.m_nNicIndex, kRegValueUnreadable) << "wrong type";

    FakeRegistry shortDword;
    PlantFullRecord(shortDword);
    shortDword.SetRaw(kHkcu, kRecordKey, L"NICIndex", kRegDword, {3, 0});
    EXPECT_TRUE(LoadRegisteredRecord(shortDword, &record));
    EXPECT_EQ(record.m_nNicIndex, kRegValueUnreadable) << "short DWORD";

    FakeRegistry negative;
    PlantFullRecord(negative);
    negative.SetDwordValue(kHkcu, kRecordKey, L"NICIndex", 0xFFFFFFFE);
    EXPECT_TRUE(LoadRegisteredRecord(negative, &record));
    EXPECT_EQ(record.m_nNicIndex, -2) << "kept as read";
    EXPECT_TRUE(negative.writes().empty()) << "NICIndex is never repaired";
}

// One string of the record unreadable: the load fails, keeps the strings read before it and
// reads none after it.
struct UnreadableCase {
    const char* name;
    const wchar_t* value;  // the unreadable one
    bool planted;          // false: missing
    uint32_t type;
    std::vector<uint8_t> data;
    size_t kept;   // strings read before it
    size_t opens;  // NICIndex, the strings up to the unreadable one, and CleanRegistry
    friend void PrintTo(const UnreadableCase& c, std::ostream* os) { *os << c.name; }
};
const UnreadableCase kUnreadable[] = {
    {"DiskSerialMissing", L"DIskSerial", false, kRegNone, {}, 2, 5},
    {"DiskSerialUnterminated", L"DIskSerial", true, kRegSz, Utf16(L"WD-123456"), 2, 5},
    {"DiskSerialTooLong", L"DIskSerial", true, kRegSz, Utf16(std::wstring(1023, L'9') + L'\0'), 2,
     5},
    {"DiskSerialBinary", L"DIskSerial", true, kRegBinary, Utf16(std::wstring(L"WD\0", 3)), 2, 5},
    {"FirstStringUnterminated", L"NICDescription", true, kRegSz, Utf16(L"x"), 0, 3},
    {"LastStringADword", L"CPUID", true, kRegDword, {1, 0, 0, 0}, 5, 8},
};

class UnreadableString : public ::testing::TestWithParam<UnreadableCase> {};
INSTANTIATE_TEST_SUITE_P(LoadRegisteredRecord, UnreadableString, ::testing::ValuesIn(kUnreadable),
                         ::testing::PrintToStringParamName());

TEST_P(UnreadableString, StopsTheLoadThere) {
    const UnreadableCase& c = GetParam();
    FakeRegistry reg;
    PlantFullRecord(reg, c.planted ? L"" : c.value);
    if (c.planted) {
        reg.SetRaw(kHkcu, kRecordKey, c.value, c.type, c.data);
    }
    RegisteredPcRecord record = StaleRecord();
    EXPECT_FALSE(LoadRegisteredRecord(reg, &record));
    EXPECT_EQ(test::IdentityTexts(record), FirstTexts(c.kept));
    EXPECT_EQ(record.m_nNicIndex, 3) << "read before the strings";
    EXPECT_EQ(reg.opens().size(), c.opens);
    EXPECT_EQ(reg.openHandles(), 0u);
}

// What a stored "CleanRegistry" sets the flag to, and whether the load puts a 0 in its place.
struct CleanRegistryCase {
    const char* name;
    bool plant;
    uint32_t type;
    std::vector<uint8_t> data;
    bool flag;
    bool repaired;
    friend void PrintTo(const CleanRegistryCase& c, std::ostream* os) { *os << c.name; }
};
const CleanRegistryCase kCleanRegistry[] = {
    {"FiveSetsTheFlag", true, kRegDword, {5, 0, 0, 0}, true, false},
    {"LargestPositiveSetsTheFlag", true, kRegDword, {0xFF, 0xFF, 0xFF, 0x7F}, true, false},
    {"ZeroLeavesIt", true, kRegDword, {0, 0, 0, 0}, false, false},
    {"AllOnesIsNegative", true, kRegDword, {0xFF, 0xFF, 0xFF, 0xFF}, false, true},
    {"TopBitIsNegative", true, kRegDword, {0, 0, 0, 0x80}, false, true},
    {"TextIsNotADword", true, kRegSz, Utf16(std::wstring(L"1\0", 2)), false, true},
    {"Missing", false, kRegNone, {}, false, true},
};

class CleanRegistryFlag : public ::testing::TestWithParam<CleanRegistryCase> {};
INSTANTIATE_TEST_SUITE_P(LoadRegisteredRecord, CleanRegistryFlag,
                         ::testing::ValuesIn(kCleanRegistry), ::testing::PrintToStringParamName());

TEST_P(CleanRegistryFlag, IsReadOrRepaired) {
    const CleanRegistryCase& c = GetParam();
    FakeRegistry reg;
    PlantFullRecord(reg, c.plant ? L"" : L"CleanRegistry");
    if (c.plant) {
        reg.SetRaw(kHkcu, kRecordKey, L"CleanRegistry", c.type, c.data);
    }
    RegisteredPcRecord record;
    record.m_bCleanRegistry = !c.flag;
    LoadRegisteredRecord(reg, &record);
    EXPECT_EQ(record.m_bCleanRegistry, c.flag);
    EXPECT_EQ(reg.writes().size(), c.repaired ? 1u : 0u);
    if (c.repaired) {
        EXPECT_EQ(StoredDword(reg, L"CleanRegistry"), 0);
    }
}

TEST(LoadRegisteredRecord, FailedRepairIsIgnored) {
    FakeRegistry reg;
    PlantFullRecord(reg);
    reg.SetDwordValue(kHkcu, kRecordKey, L"CleanRegistry", 0xFFFFFFFF);
    reg.FailWrites(true);
    RegisteredPcRecord record;
    EXPECT_TRUE(LoadRegisteredRecord(reg, &record));
    EXPECT_FALSE(record.m_bCleanRegistry);
    EXPECT_EQ(reg.openHandles(), 0u);
}

TEST(DriveBindingKeyPath, IdentifierEndsAtFirstZeroByte) {
    const std::wstring base = L"SOFTWARE\\Stonevault\\KX7EntryPCAgent\\";
    Latin1CodePage codePage;
    uint8_t id[16];
    for (size_t i = 0; i < 16; ++i) {
        id[i] = static_cast<uint8_t>('A' + i);
    }
    id[10] = 0;
    EXPECT_EQ(DriveBindingKeyPath(codePage, id), base + L"ABCDEFGHIJ\\") << "10-character key name";

    id[10] = 'K';
    EXPECT_EQ(DriveBindingKeyPath(codePage, id), base + L"ABCDEFGHIJKLMNOP\\")
        << "no zero byte: all 16 bytes and nothing beyond";

    id[0] = 0;
    EXPECT_EQ(DriveBindingKeyPath(codePage, id), base + L"\\");

    const uint8_t high[16] = {'S', 'N', 0xE9, 0x80, 0};
    EXPECT_EQ(DriveBindingKeyPath(codePage, high), base + L"SN\u00e9\u0080\\")
        << "bytes widen through the code page";
}

}  // namespace
}  // namespace kx7
