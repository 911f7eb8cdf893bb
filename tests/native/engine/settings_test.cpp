#include "connector/engine/settings.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "tests/fakes/fake_registry.h"

namespace kx7 {
namespace {

using test::FakeRegistry;

const std::wstring kKey = kAutoConnKeyPath;

class FixedOsVersion final : public OsVersionSource {
  public:
    FixedOsVersion(bool ok, uint32_t major, uint32_t minor)
        : ok_(ok), major_(major), minor_(minor) {}
    bool GetVersion(uint32_t* major, uint32_t* minor) override {
        *major = major_;
        *minor = minor_;
        return ok_;
    }

  private:
    bool ok_;
    uint32_t major_;
    uint32_t minor_;
};

int64_t StoredDword(const FakeRegistry& reg, const std::wstring& name) {
    return reg.StoredDword(RegRoot::kCurrentUser, kKey, name);
}

// The loaded settings in order: interval, warm-up delay, active reset time, reset time, the
// reserved field, after-reset delay, detach delay, OS version.
std::vector<int64_t> Loaded(const ConnectorSettings& s) {
    const DriveTimingBlock& t = s.m_timing;
    return {s.m_nInterval, t.warmupDelay,     t.activeResetTime, t.resetTime,
            t.reserved,    t.afterResetDelay, s.m_nDetachDelay,  s.m_nOsVersion};
}

TEST(ReadRegDword, ResultCodes) {
    FakeRegistry reg;
    EXPECT_EQ(ReadRegDword(reg, kKey, L"Interval"), -1) << "key missing";

    reg.SetDwordValue(RegRoot::kCurrentUser, kKey, L"Good", 1234);
    reg.SetDwordValue(RegRoot::kCurrentUser, kKey, L"AllOnes", 0xFFFFFFFF);
    reg.SetDwordValue(RegRoot::kCurrentUser, kKey, L"High", 0x80000000);
    reg.SetString(RegRoot::kCurrentUser, kKey, L"Text", L"10");
    reg.SetRaw(RegRoot::kCurrentUser, kKey, L"Qword", kRegQword, {10, 0, 0, 0, 0, 0, 0, 0});
    reg.SetRaw(RegRoot::kCurrentUser, kKey, L"Short", kRegDword, {10, 0, 0});
    reg.SetRaw(RegRoot::kCurrentUser, kKey, L"Binary4", kRegBinary, {10, 0, 0, 0});

    EXPECT_EQ(ReadRegDword(reg, kKey, L"Good"), 1234);
    EXPECT_EQ(ReadRegDword(reg, kKey, L"good"), 1234) << "value names ignore case";
    EXPECT_EQ(ReadRegDword(reg, kKey, L"AllOnes"), -1);
    EXPECT_EQ(ReadRegDword(reg, kKey, L"High"), INT32_MIN);
    EXPECT_EQ(ReadRegDword(reg, kKey, L"Missing"), -2);
    EXPECT_EQ(ReadRegDword(reg, kKey, L"Text"), -2);
    EXPECT_EQ(ReadRegDword(reg, kKey, L"Qword"), -2);
    EXPECT_EQ(ReadRegDword(reg, kKey, L"Short"), -2);
    EXPECT_EQ(ReadRegDword(reg, kKey, L"Binary4"), -2);

    reg.DenyKey(RegRoot::kCurrentUser, kKey);
    EXPECT_EQ(ReadRegDword(reg, kKey, L"Good"), -1) << "key that refuses to open";

    EXPECT_EQ(reg.openHandles(), 0u) << "every opened key is closed again";
    for (const auto& open : reg.opens()) {
        EXPECT_EQ(open.access, kKeyReadWrite);
        EXPECT_EQ(open.root, RegRoot::kCurrentUser);
        EXPECT_FALSE(open.create);
    }
}

TEST(WriteRegDword, CreatesReplacesAndReportsFailure) {
    FakeRegistry reg;
    EXPECT_EQ(WriteRegDword(reg, L"SOFTWARE\\New\\Deep", L"V", 7), 1);
    ASSERT_FALSE(reg.opens().empty());
    EXPECT_TRUE(reg.opens().back().create);
    EXPECT_EQ(reg.opens().back().access, kKeyReadWrite);
    EXPECT_EQ(ReadRegDword(reg, L"SOFTWARE\\New\\Deep", L"V"), 7);

    reg.SetString(RegRoot::kCurrentUser, kKey, L"Interval", L"abc");
    EXPECT_EQ(WriteRegDword(reg, kKey, L"Interval", 10), 1);
    EXPECT_EQ(StoredDword(reg, L"Interval"), 10) << "a value of another type is replaced";

    reg.FailWrites(true);
    EXPECT_EQ(WriteRegDword(reg, kKey, L"Interval", 11), 0);
    reg.FailWrites(false);
    reg.DenyKey(RegRoot::kCurrentUser, L"SOFTWARE\\Locked");
    EXPECT_EQ(WriteRegDword(reg, L"SOFTWARE\\Locked", L"V", 1), 0);
    EXPECT_EQ(reg.openHandles(), 0u);
}

TEST(LoadConnectorSettings, FirstStartWritesAllDefaultsInOrder) {
    FakeRegistry reg;
    FixedOsVersion os(true, 6, 1);
    ConnectorSettings s;
    LoadConnectorSettings(reg, os, &s);

    EXPECT_EQ(Loaded(s), (std::vector<int64_t>{10, 100, 100, 5, 0, 2000, 5000, 0x0601}));

    const std::vector<std::pair<std::wstring, uint32_t>> expected = {
        {L"Interval", 10}, {L"WarmupDelay", 100},      {L"ActiveResetTime", 100},
        {L"ResetTime", 5}, {L"AfterResetDelay", 2000}, {L"DetachDelay", 5000}};
    ASSERT_EQ(reg.writes().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(reg.writes()[i].name, expected[i].first);
        EXPECT_EQ(reg.writes()[i].value, expected[i].second);
        EXPECT_EQ(StoredDword(reg, expected[i].first), int64_t{expected[i].second});
    }
    EXPECT_EQ(reg.ValueCount(RegRoot::kCurrentUser, kKey), 6u);

    // A second start finds everything and writes nothing.
    ConnectorSettings again;
    LoadConnectorSettings(reg, os, &again);
    EXPECT_EQ(reg.writes().size(), expected.size());
    EXPECT_EQ(again.m_nInterval, 10);
}

TEST(LoadConnectorSettings, StoredValuesTruncationAndRepairs) {
    FakeRegistry reg;
    const RegRoot hkcu = RegRoot::kCurrentUser;
    reg.SetDwordValue(hkcu, kKey, L"Interval", 0xFFFFFFFF);
    reg.SetDwordValue(hkcu, kKey, L"WarmupDelay", 70000);
    reg.SetString(hkcu, kKey, L"ActiveResetTime", L"100");
    reg.SetRaw(hkcu, kKey, L"ResetTime", kRegQword, {9, 0, 0, 0, 0, 0, 0, 0});
    reg.SetDwordValue(hkcu, kKey, L"AfterResetDelay", 0x12345);
    reg.SetRaw(hkcu, kKey, L"DetachDelay", kRegDword, {1, 2, 3});
    FixedOsVersion os(false, 6, 1);
    ConnectorSettings s;
    LoadConnectorSettings(reg, os, &s);

    // The 16- and 32-bit fields keep the low bits of what the registry holds (70000 modulo
    // 65536 is 4464); a failed version query gives 0.
    EXPECT_EQ(Loaded(s), (std::vector<int64_t>{10, 4464, 100, 5, 0, 0x2345, 5000, 0}));
    EXPECT_EQ(StoredDword(reg, L"Interval"), 10);
    EXPECT_EQ(StoredDword(reg, L"WarmupDelay"), 70000) << "the registry keeps 70000";
    EXPECT_EQ(StoredDword(reg, L"ActiveResetTime"), 100);
    EXPECT_EQ(StoredDword(reg, L"ResetTime"), 5);
    EXPECT_EQ(StoredDword(reg, L"AfterResetDelay"), 0x12345);

    const std::array<uint8_t, 12> wire = s.m_timing.Pack();
    const std::array<uint8_t, 12> expected = {0x70, 0x11, 0x64, 0x00, 0x05, 0x00,
                                              0x00, 0x00, 0x45, 0x23, 0x00, 0x00};
    EXPECT_EQ(wire, expected);
}

TEST(LoadConnectorSettings, UnwritableKeyStillGivesDefaults) {
    FakeRegistry reg;
    reg.DenyKey(RegRoot::kCurrentUser, kKey);
    FixedOsVersion os(true, 5, 1);
    ConnectorSettings s;
    LoadConnectorSettings(reg, os, &s);
    EXPECT_EQ(Loaded(s), (std::vector<int64_t>{10, 100, 100, 5, 0, 2000, 5000, 0x0501}));
    EXPECT_TRUE(reg.writes().empty());
}

TEST(DriveTimingBlock, PacksLittleEndianWithReservedZero) {
    DriveTimingBlock block;
    block.warmupDelay = 0x0102;
    block.activeResetTime = 0x0304;
    block.resetTime = 0x0506;
    block.afterResetDelay = 0x0A0B0C0D;
    const std::array<uint8_t, 12> expected = {0x02, 0x01, 0x04, 0x03, 0x06, 0x05,
                                              0x00, 0x00, 0x0D, 0x0C, 0x0B, 0x0A};
    EXPECT_EQ(block.Pack(), expected);
}

}  // namespace
}  // namespace kx7
