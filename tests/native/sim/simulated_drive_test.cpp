// The drive as a host meets it, block by block: what it answers, what a write leaves behind,
// how long an announce lasts and how the injected faults behave. Every block and every expected
// reply is written out here; nothing is built by the connector.
#include "sim/simulated_drive.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/native/sim/sim_test_support.h"

namespace kx7::sim {
namespace {

using namespace test_support;

constexpr SimDirection kIn = SimDirection::kIn;
constexpr SimDirection kOut = SimDirection::kOut;

class SimulatedDriveTest : public ::testing::Test {
  protected:
    SimulatedDrive drive_{SampleIdentity()};
};

TEST_F(SimulatedDriveTest, ReadsAnswerInWireFormat) {
    std::array<uint8_t, 22> identity{};
    ASSERT_TRUE(Good(Send(drive_, kReadIdentityBlock, kIn, identity.data(), 22)));
    // Firmware 3.07, vendor 6B2F and product 1181 most significant byte first, then the
    // identifier "ABCDEFGHIJKLMNO1".
    const std::array<uint8_t, 22> expected = {3,   7,   0x6B, 0x2F, 0x11, 0x81, 'A', 'B',
                                              'C', 'D', 'E',  'F',  'G',  'H',  'I', 'J',
                                              'K', 'L', 'M',  'N',  'O',  '1'};
    EXPECT_EQ(identity, expected);

    auto setupBlock = drive_.deviceSetup();
    setupBlock[347] = 0x5A;
    drive_.SetDeviceSetup(setupBlock);
    drive_.SetDeviceStatus({});  // the ready bit clear
    std::array<uint8_t, 348> setup{};
    std::array<uint8_t, 32> status{};
    status.fill(0xFF);
    const SimScsiResult setupRead = Send(drive_, kReadDeviceSetupBlock, kIn, setup.data(), 348);
    ASSERT_TRUE(Good(setupRead));
    EXPECT_EQ(setupRead.dataTransferLength, 348u);
    ASSERT_TRUE(Good(Send(drive_, kReadDeviceStatusBlock, kIn, status.data(), 32)));
    EXPECT_EQ(setup[0], 0x10);
    EXPECT_EQ(setup[347], 0x5A);
    EXPECT_EQ(status[0], 0);

    std::array<uint8_t, 36> inquiry{};
    const SimScsiResult inquired = Send(drive_, kInquiryBlock, kIn, inquiry.data(), 36);
    ASSERT_TRUE(Good(inquired));
    EXPECT_EQ(inquired.dataTransferLength, 36u);
    EXPECT_EQ(inquiry[0], 0x05);  // a CD-ROM while locked
    EXPECT_EQ(inquiry[4], 31);
    EXPECT_EQ(std::string(inquiry.begin() + 8, inquiry.end()), "SVI     Virtual CD Drive3.07");

    // Wrong IDs and old firmware are plain settings.
    SimIdentity odd = SampleIdentity();
    odd.productId = 0x1182;
    odd.firmwareMajor = 1;
    odd.firmwareMinor = 18;
    drive_.SetIdentity(odd);
    ASSERT_TRUE(Good(Send(drive_, kReadIdentityBlock, kIn, identity.data(), 22)));
    EXPECT_EQ(identity[1], 18);
    EXPECT_EQ(identity[4], 0x11);
    EXPECT_EQ(identity[5], 0x82);
}

TEST_F(SimulatedDriveTest, ShortInquiryReportsOnlyWhatItSent) {
    drive_.SetInquiryReplyLength(5);
    std::array<uint8_t, 36> inquiry{};
    const SimScsiResult result = Send(drive_, kInquiryBlock, kIn, inquiry.data(), 36);
    ASSERT_TRUE(Good(result));
    EXPECT_EQ(result.dataTransferLength, 5u);
    EXPECT_EQ(inquiry[4], 31);
    EXPECT_EQ(inquiry[8], 0);
}

TEST_F(SimulatedDriveTest, AnnouncedTimingWriteIsStored) {
    std::array<uint8_t, 12> timing{100, 0, 100, 0, 5, 0, 0, 0, 0xD0, 0x07};
    ASSERT_TRUE(Good(Send(drive_, kTimingAnnounce, kOut, nullptr, 0)));
    const SimScsiResult written = Send(drive_, kTimingWrite, kOut, timing.data(), 12);
    ASSERT_TRUE(Good(written));
    EXPECT_EQ(written.dataTransferLength, 12u);
    EXPECT_TRUE(drive_.timingReceived());
    EXPECT_EQ(drive_.lastTiming(), timing);
    EXPECT_EQ(drive_.CountOf(SimCommand::kAnnounce), 1u);
    EXPECT_EQ(drive_.CountOf(SimCommand::kWriteTiming), 1u);
}

TEST_F(SimulatedDriveTest, AnAnnounceCoversOnlyTheCommandRightAfterIt) {
    std::array<uint8_t, 12> timing{1, 2, 3};
    std::array<uint8_t, 4> status{};
    // No announce at all.
    EXPECT_TRUE(Refused(Send(drive_, kTimingWrite, kOut, timing.data(), 12)));
    // An announce, then a read, then the write: the read used the announce up.
    ASSERT_TRUE(Good(Send(drive_, kTimingAnnounce, kOut, nullptr, 0)));
    ASSERT_TRUE(Good(Send(drive_, kReadCommandStatusBlock, kIn, status.data(), 4)));
    EXPECT_TRUE(Refused(Send(drive_, kTimingWrite, kOut, timing.data(), 12)));
    // A refused write uses it up as well.
    ASSERT_TRUE(Good(Send(drive_, kTimingAnnounce, kOut, nullptr, 0)));
    EXPECT_TRUE(Refused(Send(drive_, kTimingWrite, kOut, timing.data(), 11)));
    EXPECT_TRUE(Refused(Send(drive_, kTimingWrite, kOut, timing.data(), 12)));
    EXPECT_FALSE(drive_.timingReceived());
    // One announce per write.
    ASSERT_TRUE(Good(Send(drive_, kTimingAnnounce, kOut, nullptr, 0)));
    ASSERT_TRUE(Good(Send(drive_, kTimingWrite, kOut, timing.data(), 12)));
    EXPECT_TRUE(Refused(Send(drive_, kTimingWrite, kOut, timing.data(), 12)));
    EXPECT_EQ(drive_.CountOf(SimCommand::kWriteTiming), 6u);
}

TEST_F(SimulatedDriveTest, FaultsFailCallsThenRecover) {
    std::array<uint8_t, 22> identity{};
    drive_.FailNextCalls(2);
    for (int call = 0; call < 2; ++call) {
        const SimScsiResult lost = Send(drive_, kReadIdentityBlock, kIn, identity.data(), 22);
        EXPECT_FALSE(lost.completed);
    }
    ASSERT_TRUE(Good(Send(drive_, kReadIdentityBlock, kIn, identity.data(), 22)));
    EXPECT_EQ(drive_.totalCalls(), 1u);
    EXPECT_EQ(identity[0], 3);

    std::array<uint8_t, 32> status{};
    drive_.SetCheckCondition(SimCommand::kReadDeviceStatus, true);
    const SimScsiResult refused = Send(drive_, kReadDeviceStatusBlock, kIn, status.data(), 32);
    EXPECT_TRUE(refused.completed);
    EXPECT_EQ(refused.scsiStatus, kSimStatusCheckCondition);
    EXPECT_EQ(refused.dataTransferLength, 0u);
    EXPECT_EQ(status[0], 0);
    drive_.SetCheckCondition(SimCommand::kReadDeviceStatus, false);
    EXPECT_TRUE(Good(Send(drive_, kReadDeviceStatusBlock, kIn, status.data(), 32)));

    // A refused announce leaves nothing for the write.
    drive_.SetCheckCondition(SimCommand::kAnnounce, true);
    std::array<uint8_t, 12> timing{};
    EXPECT_TRUE(Refused(Send(drive_, kTimingAnnounce, kOut, nullptr, 0)));
    EXPECT_TRUE(Refused(Send(drive_, kTimingWrite, kOut, timing.data(), 12)));
    EXPECT_FALSE(drive_.timingReceived());

    std::array<uint8_t, 36> inquiry{};
    drive_.SetStalled(true);
    EXPECT_FALSE(Send(drive_, kInquiryBlock, kIn, inquiry.data(), 36).completed);
    drive_.SetStalled(false);
    EXPECT_TRUE(Good(Send(drive_, kInquiryBlock, kIn, inquiry.data(), 36)));
}

TEST_F(SimulatedDriveTest, AuthPacketIsDecryptedAndJudged) {
    Packet plain{};
    for (size_t i = 0; i < plain.size(); ++i) {
        plain[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    const Packet cipher = Encrypt(plain, drive_.identity());

    // No host is registered on a new drive.
    EXPECT_FALSE(SendPacket(drive_, cipher));
    EXPECT_EQ(drive_.lastErrorCode(), kRefusedNoHost);
    const std::vector<uint8_t> decrypted = drive_.lastAuthPlaintext();
    ASSERT_EQ(decrypted.size(), plain.size());
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), decrypted.begin()));

    // A judge overrides the hosts either way, and the code waits for the status read.
    drive_.SetAuthPacketJudge(
        [](const uint8_t* text, size_t) -> uint8_t { return text[0] == 1 ? 31 : 0; });
    EXPECT_FALSE(SendPacket(drive_, cipher));
    std::array<uint8_t, 4> status{};
    ASSERT_TRUE(Good(Send(drive_, kReadCommandStatusBlock, kIn, status.data(), 4)));
    EXPECT_EQ(status, (std::array<uint8_t, 4>{31, 0x41, 0, 0}));
    EXPECT_FALSE(drive_.unlocked());
    drive_.SetAuthPacketJudge([](const uint8_t*, size_t) -> uint8_t { return 0; });
    EXPECT_TRUE(SendPacket(drive_, cipher));
    EXPECT_TRUE(drive_.unlocked());
    ASSERT_TRUE(Good(Send(drive_, kReadCommandStatusBlock, kIn, status.data(), 4)));
    EXPECT_EQ(status, (std::array<uint8_t, 4>{0, 0x41, 0, 0}));
}

}  // namespace
}  // namespace kx7::sim
