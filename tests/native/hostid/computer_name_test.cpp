#include "connector/hostid/computer_name.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/fakes/fake_registry.h"

namespace kx7 {
namespace {

using test::FakeRegistry;

class ComputerNameTest : public ::testing::Test {
  protected:
    void Plant(const std::wstring& text, bool terminate = true, uint32_t type = kRegSz) {
        reg_.SetString(RegRoot::kLocalMachine, path_, L"ComputerName", text, terminate, type);
    }
    FakeRegistry reg_;
    const std::wstring path_ = kComputerNamePath;
};

std::wstring Name(size_t length) {
    std::wstring name;
    for (size_t i = 0; i < length; ++i) {
        name.push_back(static_cast<wchar_t>(L'A' + i % 26));
    }
    return name;
}

TEST_F(ComputerNameTest, ReadsStoredNameWithQueryAccessOnly) {
    Plant(L"WORKSTATION-07");
    std::wstring name;
    EXPECT_EQ(GetComputerNameText(reg_, &name), 14u);
    EXPECT_EQ(name, L"WORKSTATION-07");
    ASSERT_EQ(reg_.opens().size(), 1u);
    EXPECT_EQ(reg_.opens()[0].root, RegRoot::kLocalMachine);
    EXPECT_EQ(reg_.opens()[0].path,
              L"SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName");
    EXPECT_EQ(reg_.opens()[0].access, 1u);
    EXPECT_EQ(reg_.openHandles(), 0u);
}

TEST_F(ComputerNameTest, SizeLimitIs250Bytes) {
    // 124 characters and terminator: 250 bytes, accepted whole.
    Plant(Name(124));
    std::wstring name;
    EXPECT_EQ(GetComputerNameText(reg_, &name), 124u);
    EXPECT_EQ(name, Name(124));

    // 125 characters fit only without terminator; the zeroed buffer ends them.
    Plant(Name(125), false);
    EXPECT_EQ(GetComputerNameText(reg_, &name), 125u);
    EXPECT_EQ(name, Name(125));

    Plant(Name(125), true);  // 252 bytes
    name.clear();
    EXPECT_EQ(GetComputerNameText(reg_, &name), 0u);
    EXPECT_EQ(name, L"");
}

TEST_F(ComputerNameTest, ShortValueWithoutTerminatorAndAnyType) {
    Plant(L"HOST", false, kRegBinary);
    std::wstring name = L"old";
    EXPECT_EQ(GetComputerNameText(reg_, &name), 4u);
    EXPECT_EQ(name, L"HOST");
}

TEST_F(ComputerNameTest, TextEndsAtFirstNulUnit) {
    reg_.SetRaw(RegRoot::kLocalMachine, path_, L"ComputerName", 7 /* REG_MULTI_SZ */,
                {'A', 0, 'B', 0, 0, 0, 'C', 0, 0, 0});
    std::wstring name;
    GetComputerNameText(reg_, &name);
    EXPECT_EQ(name, L"AB");
}

TEST_F(ComputerNameTest, FailuresLeaveStringAsItWas) {
    std::wstring name = L"unchanged";
    EXPECT_EQ(GetComputerNameText(reg_, &name), 9u);  // no key
    EXPECT_EQ(name, L"unchanged");

    reg_.AddKey(RegRoot::kLocalMachine, path_);  // key without value
    EXPECT_EQ(GetComputerNameText(reg_, &name), 9u);
    EXPECT_EQ(name, L"unchanged");

    Plant(L"HOST");
    reg_.DenyKey(RegRoot::kLocalMachine, path_);
    EXPECT_EQ(GetComputerNameText(reg_, &name), 9u);
    EXPECT_EQ(name, L"unchanged");
}

TEST_F(ComputerNameTest, ReadValueReportsSizeAndResult) {
    Plant(L"ABC");
    uint8_t buffer[16] = {};
    uint32_t size = sizeof(buffer);
    EXPECT_EQ(ReadComputerNameValue(reg_, buffer, &size), 1);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(buffer[0], 'A');
    EXPECT_EQ(buffer[4], 'C');

    size = 4;  // smaller than the value
    EXPECT_EQ(ReadComputerNameValue(reg_, buffer, &size), 0);
}

TEST(Utf16LeToWide, KeepsCodeUnitsAndIgnoresOddTrailingByte) {
    const uint8_t bytes[] = {0xE9, 0x00, 0x3D, 0xD8, 0x00, 0xDE, 'Z'};
    const std::wstring text = Utf16LeToWide(bytes, sizeof(bytes));
    ASSERT_EQ(text.size(), 3u);
    EXPECT_EQ(static_cast<uint32_t>(text[0]), 0xE9u);
    EXPECT_EQ(static_cast<uint32_t>(text[1]), 0xD83Du);
    EXPECT_EQ(static_cast<uint32_t>(text[2]), 0xDE00u);
}

}  // namespace
}  // namespace kx7
