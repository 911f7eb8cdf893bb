#include "sim/host_acceptance.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

#include "sim/simulated_drive.h"
#include "tests/native/sim/sim_test_support.h"

namespace kx7::sim {
namespace {

using namespace test_support;

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

void PutDate(Packet& packet, uint32_t date) {
    for (size_t i = 0; i < 4; ++i) {
        packet[112 + i] = static_cast<uint8_t>(date >> (8 * i));
    }
}

// The sample host, paired until well after the drive's date, so that only the window decides.
void PairedForLong(SimulatedDrive& drive) {
    drive.ClearHosts();
    drive.AddHost(SampleHost(kMask, PackSimDate(2025, 1, 1)));
}

std::function<void(Packet&)> DatedOn(uint32_t date) {
    return [date](Packet& p) { PutDate(p, date); };
}

struct RefusalCase {
    const char* what;
    std::function<void(SimulatedDrive&)> setUp;  // on a drive with the sample host registered
    std::function<void(Packet&)> alter;          // on the sample host's packet
    uint8_t expected;
    friend void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.what; }
};

const auto none = [](auto&) {};
const RefusalCase kRefusals[] = {
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
    // The drive believes a date from a week before its own to a day after it.
    {"a day ahead of the drive", PairedForLong, DatedOn(PackSimDate(2024, 3, 8)), 0},
    {"two days ahead of the drive", PairedForLong, DatedOn(PackSimDate(2024, 3, 9)),
     kRefusedExpired},
    {"a week behind, over a leap day", PairedForLong, DatedOn(PackSimDate(2024, 2, 29)), 0},
    {"eight days behind", PairedForLong, DatedOn(PackSimDate(2024, 2, 28)), kRefusedExpired},
    {"the date's bytes in reverse order", PairedForLong,
     [](Packet& p) {
         std::swap(p[112], p[115]);
         std::swap(p[113], p[114]);
     },
     kRefusedExpired},
    {"day and month swapped", PairedForLong, DatedOn(PackSimDate(2024, 7, 3)), kRefusedExpired},
    {"a day the calendar does not have", PairedForLong, DatedOn(PackSimDate(2024, 2, 30)),
     kRefusedExpired},
    {"a year earlier", PairedForLong, DatedOn(PackSimDate(2023, 3, 7)), kRefusedExpired},
    {"a drive that was never given a date",
     [](SimulatedDrive& d) {
         PairedForLong(d);
         d.SetDate(0);
     },
     none, kRefusedExpired},
};

// The drive decides in order and leaves the code for the status read.
class HostAcceptance : public ::testing::TestWithParam<RefusalCase> {};
INSTANTIATE_TEST_SUITE_P(Sim, HostAcceptance, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return CaseName(info.param.what); });

TEST_P(HostAcceptance, DecidesAndLeavesTheCodeForTheStatusRead) {
    const RefusalCase& c = GetParam();
    SimulatedDrive drive(SampleIdentity());
    drive.SetDate(kToday);
    drive.AddHost(SampleHost(kMask, kToday));
    c.setUp(drive);
    Packet plain = HostPacket("OFFICE-PC\xe9", kMask, kToday);
    c.alter(plain);
    const Packet cipher = Encrypt(plain, SampleIdentity());

    EXPECT_EQ(SendPacket(drive, cipher), c.expected == 0);
    EXPECT_EQ(drive.unlocked(), c.expected == 0);
    std::array<uint8_t, 4> status{};
    ASSERT_TRUE(Good(Send(drive, kReadCommandStatusBlock, SimDirection::kIn, status.data(), 4)));
    EXPECT_EQ(status[0], c.expected);
    EXPECT_EQ(status[1], 0x41);
}

TEST(SimDayNumberTest, CountsCalendarDays) {
    int32_t day = -1;
    ASSERT_TRUE(SimDayNumber(PackSimDate(1, 1, 1), &day));
    EXPECT_EQ(day, 0);
    ASSERT_TRUE(SimDayNumber(PackSimDate(1970, 1, 1), &day));
    EXPECT_EQ(day, 719162);
    ASSERT_TRUE(SimDayNumber(kToday, &day));
    EXPECT_EQ(day, 738951);
    int32_t next = -1;
    ASSERT_TRUE(SimDayNumber(PackSimDate(2024, 12, 31), &day));
    ASSERT_TRUE(SimDayNumber(PackSimDate(2025, 1, 1), &next));
    EXPECT_EQ(next - day, 1);

    // Leap days: every fourth year, but not in a century unless it divides by 400.
    EXPECT_TRUE(SimDayNumber(PackSimDate(2000, 2, 29), &day));
    EXPECT_TRUE(SimDayNumber(PackSimDate(2024, 2, 29), &day));
    EXPECT_FALSE(SimDayNumber(PackSimDate(1900, 2, 29), &day));
    EXPECT_FALSE(SimDayNumber(PackSimDate(2023, 2, 29), &day));
    for (uint32_t bad : {PackSimDate(2024, 0, 1), PackSimDate(2024, 13, 1), PackSimDate(2024, 1, 0),
                         PackSimDate(2024, 4, 31), PackSimDate(0, 1, 1), uint32_t{0}}) {
        day = -1;
        EXPECT_FALSE(SimDayNumber(bad, &day)) << std::hex << bad;
        EXPECT_EQ(day, -1);
    }
}

}  // namespace
}  // namespace kx7::sim
