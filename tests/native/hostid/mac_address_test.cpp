#include "connector/hostid/mac_address.h"

#include <gtest/gtest.h>

namespace kx7 {
namespace {

TEST(FormatMacAddress, UpperCaseTwoDigitsDashedAndOnlySixBytes) {
    const uint8_t address[8] = {0x0A, 0xbc, 0x00, 0xFF, 0x5e, 0x01, 0x77, 0x88};
    EXPECT_EQ(FormatMacAddress(address), L"0A-BC-00-FF-5E-01");
    const uint8_t zero[8] = {};
    EXPECT_EQ(FormatMacAddress(zero), L"00-00-00-00-00-00");
}

}  // namespace
}  // namespace kx7
