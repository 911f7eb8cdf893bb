#include "sim/host_acceptance.h"

#include <gtest/gtest.h>

#include <functional>

#include "connector/device/vendor_commands.h"
#include "sim/simulated_drive.h"
#include "tests/fakes/fake_clock.h"
#include "tests/native/sim/sim_test_support.h"

namespace kx7::sim {
namespace {

using test_support::HostPacket;
using test_support::Packet;
using test_support::SampleHost;
using test_support::SampleIdentity;

TEST(CheckValueTest, SumsLowBytesAsSignedModulo65536) {
    EXPECT_EQ(CheckValueOf(L""), 0);
    // 1000 = 10 * 'd'; a unit's high byte is ignored and 0x80-0xFF count as negative.
    EXPECT_EQ(CheckValueOf(L"dddddddddd"), 1000);
    EXPECT_EQ(CheckValueOf(std::wstring(1, static_cast<wchar_t>(0x0164))), 0x64);
    EXPECT_EQ(CheckValueOf(L"A\u00e9"), 65 - 23);
    EXPECT_EQ(CheckValueOf(std::wstring(3, static_cast<wchar_t>(0x00FF))), 0xFFFD);
}

constexpr uint32_t kMask = 0x15;  // MAC, computer name, CPU id: packing has to skip the gaps
constexpr uint32_t kToday = PackSimDate(2024, 3, 7);

struct RefusalCase {
    const char* what;
    std::function<void(SimulatedDrive&)> setUp;  // on a drive with the sample host registered
    std::function<void(Packet&)> alter;          // on the sample host's packet
    uint8_t expected;
};

TEST(HostAcceptanceTest, DecidesInOrderAndLeavesTheCodeForTheStatusRead) {
    const auto none = [](auto&) {};
    const std::vector<RefusalCase> cases = {
        {"expiry on the packet's day", none, none, 0},
        {"mask bits of 32 and up are ignored",
         [](SimulatedDrive& d) {
             d.ClearHosts();
             d.AddHost(SampleHost(kMask | 0x20 | 0x80000000u, kToday));
         },
         none, 0},
        {"second host fits",
         [](SimulatedDrive& d) {
             d.ClearHosts();
             d.AddHost(SampleHost(0x01, kToday));
             d.AddHost(SampleHost(kMask, kToday));
         },
         none, 0},
        {"HostPair disabled comes first",
         [](SimulatedDrive& d) {
             d.SetHostPairEnabled(false);
             d.ClearHosts();
         },
         none, kRefusedHostPairDisabled},
        {"no host", [](SimulatedDrive& d) { d.ClearHosts(); }, none, kRefusedNoHost},
        {"wrong check value", none, [](Packet& p) { p[100] ^= 0x01; }, kRefusedUnknownHost},
        {"checks at their item's slot instead of packed", none,
         [](Packet& p) {
             const uint8_t name[2] = {p[98], p[99]};
             const uint8_t cpu[2] = {p[100], p[101]};
             p[98] = p[99] = 0;
             p[100] = name[0], p[101] = name[1];
             p[104] = cpu[0], p[105] = cpu[1];
         },
         kRefusedUnknownHost},
        {"wrong inverted sum", none, [](Packet& p) { p[107] ^= 0x80; }, kRefusedUnknownHost},
        {"other name", none, [](Packet& p) { p[33] = 'f'; }, kRefusedUnknownHost},
        {"name without terminator", none, [](Packet& p) { p[63] = 'X'; }, kRefusedUnknownHost},
        {"stray byte before the name", none, [](Packet& p) { p[0] = 1; }, kRefusedUnknownHost},
        {"stray byte in the padding", none, [](Packet& p) { p[127] = 1; }, kRefusedUnknownHost},
        {"expired",
         [](SimulatedDrive& d) {
             d.ClearHosts();
             d.AddHost(SampleHost(kMask, PackSimDate(2024, 3, 6)));
         },
         none, kRefusedExpired},
        {"unknown host is found out before expiry",
         [](SimulatedDrive& d) {
             d.ClearHosts();
             d.AddHost(SampleHost(kMask, PackSimDate(2023, 12, 31)));
         },
         [](Packet& p) { p[96] ^= 0x01; }, kRefusedUnknownHost},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.what);
        SimulatedDrive drive(SampleIdentity());
        drive.AddHost(SampleHost(kMask, kToday));
        c.setUp(drive);
        Packet plain = HostPacket("OFFICE-PC\xe9", kMask, kToday);
        c.alter(plain);
        const Packet cipher = test_support::Encrypt(plain, SampleIdentity());
        test::FakeClock clock;

        const bool accepted =
            WriteAuthPacket(drive.PassThrough(), clock, cipher.data(), kAuthPacketLength);
        EXPECT_EQ(accepted, c.expected == 0);
        EXPECT_EQ(drive.unlocked(), c.expected == 0);
        std::array<uint8_t, kCommandStatusLength> status{};
        ASSERT_TRUE(ReadCommandStatus(drive.PassThrough(), clock, &status));
        EXPECT_EQ(status[0], c.expected);
        EXPECT_EQ(status[1], kSubWriteAuthPacket);
    }
}

}  // namespace
}  // namespace kx7::sim
