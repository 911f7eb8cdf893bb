#include "sim/simulated_drive.h"

#include <gtest/gtest.h>

#include <string>

#include "connector/engine/crypto/aes256.h"
#include "tests/fakes/fake_clock.h"

namespace kx7::sim {
namespace {

SimIdentity SampleIdentity() {
    SimIdentity identity;
    identity.firmwareMajor = 3;
    identity.firmwareMinor = 7;
    identity.vendorId = 0x6B2F;
    identity.productId = 0x1181;
    for (uint8_t i = 0; i < kDriveIdentifierLength; ++i) {
        identity.identifier[i] = static_cast<uint8_t>('A' + i);
    }
    return identity;
}

class SimulatedDriveTest : public ::testing::Test {
  protected:
    SimulatedDrive drive_{SampleIdentity()};
    test::FakeClock clock_;
};

TEST_F(SimulatedDriveTest, ReadsAnswerInWireFormat) {
    std::array<uint8_t, kIdentityLength> identity{};
    ASSERT_TRUE(ReadIdentity(drive_.PassThrough(), clock_, &identity));
    const DriveIdentity parsed = ParseDriveIdentity(identity);
    EXPECT_EQ(parsed.firmwareMajor, 3);
    EXPECT_EQ(parsed.firmwareMinor, 7);
    EXPECT_EQ(parsed.vendorId, 0x6B2F);
    EXPECT_EQ(parsed.productId, 0x1181);
    EXPECT_EQ(parsed.driveId, SampleIdentity().identifier);

    auto setupBlock = drive_.deviceSetup();
    setupBlock[347] = 0x5A;
    drive_.SetDeviceSetup(setupBlock);
    drive_.SetDeviceStatus({});  // the ready bit clear
    std::array<uint8_t, kDeviceSetupLength> setup{};
    std::array<uint8_t, kDeviceStatusLength> status{};
    status.fill(0xFF);
    ASSERT_TRUE(ReadDeviceSetup(drive_.PassThrough(), clock_, &setup));
    ASSERT_TRUE(ReadDeviceStatus(drive_.PassThrough(), clock_, &status));
    EXPECT_EQ(setup[0], kReadyForAuthMask);
    EXPECT_EQ(setup[347], 0x5A);
    EXPECT_EQ(status[0], 0);

    std::array<uint8_t, kInquiryLength> inquiry{};
    ASSERT_TRUE(Inquiry(drive_.PassThrough(), clock_, &inquiry));
    EXPECT_EQ(inquiry[4], kInquiryLength - 5);
    EXPECT_EQ(std::string(inquiry.begin() + 8, inquiry.end()), "SVI     Virtual CD Drive3.07");

    // Wrong IDs and old firmware are plain settings.
    SimIdentity odd = SampleIdentity();
    odd.productId = 0x1182;
    odd.firmwareMinor = 18;
    odd.firmwareMajor = 1;
    drive_.SetIdentity(odd);
    ASSERT_TRUE(ReadIdentity(drive_.PassThrough(), clock_, &identity));
    EXPECT_EQ(ParseDriveIdentity(identity).productId, 0x1182);
    EXPECT_EQ(identity[1], 18);
}

TEST_F(SimulatedDriveTest, ShortInquiryReportsOnlyWhatItSent) {
    drive_.SetInquiryReplyLength(5);
    std::array<uint8_t, kInquiryLength> inquiry{};
    ASSERT_TRUE(Inquiry(drive_.PassThrough(), clock_, &inquiry));
    EXPECT_EQ(inquiry[4], kInquiryLength - 5);
    EXPECT_EQ(inquiry[8], 0);
}

TEST_F(SimulatedDriveTest, AnnouncedTimingWriteIsStored) {
    const std::array<uint8_t, kTimingStagingSize> timing{100, 0, 100, 0, 5, 0, 0, 0, 0xD0, 0x07};
    ASSERT_TRUE(WriteTiming(drive_.PassThrough(), clock_, timing.data(), kTimingStagingSize));
    EXPECT_TRUE(drive_.timingReceived());
    EXPECT_EQ(drive_.lastTiming(), timing);
    EXPECT_EQ(drive_.CountOf(SimCommand::kAnnounce), 1u);
    EXPECT_EQ(drive_.CountOf(SimCommand::kWriteTiming), 1u);
}

TEST_F(SimulatedDriveTest, WritesNeedAMatchingAnnounceAndLength) {
    const std::array<uint8_t, kTimingStagingSize> timing{1, 2, 3};
    std::array<uint8_t, kTimingStagingSize> staging = timing;
    ScsiPassThrough& port = drive_.PassThrough();

    // A read block carrying a write subcommand, then a write with no announce at all.
    EXPECT_FALSE(VendorRead(port, clock_, kSubWriteTiming, kTimingStagingSize, staging.data()));
    PassThroughRequest write;
    write.cdb = BuildVendorWriteBlock(kSubWriteTiming, kTimingStagingSize);
    write.cdbLength = kVendorCdbLength;
    write.buffer = staging.data();
    write.length = kTimingStagingSize;
    ASSERT_TRUE(SendPassThrough(port, clock_, &write));
    EXPECT_EQ(write.scsiStatus, kScsiStatusCheckCondition);

    // An announce with a wrong checksum.
    CommandBlock badAnnounce = BuildAnnounceBlock(write.cdb);
    badAnnounce[4] ^= 0x01;
    PassThroughRequest announce;
    announce.cdb = badAnnounce;
    announce.cdbLength = kAnnounceCdbLength;
    ASSERT_TRUE(SendPassThrough(port, clock_, &announce));
    EXPECT_EQ(announce.scsiStatus, kScsiStatusGood);
    ASSERT_TRUE(SendPassThrough(port, clock_, &write));
    EXPECT_EQ(write.scsiStatus, kScsiStatusCheckCondition);

    // A correct announce does not survive an unrelated command in between.
    ASSERT_TRUE(AnnounceWrite(port, clock_, write.cdb));
    std::array<uint8_t, kCommandStatusLength> status{};
    ASSERT_TRUE(ReadCommandStatus(port, clock_, &status));
    ASSERT_TRUE(SendPassThrough(port, clock_, &write));
    EXPECT_EQ(write.scsiStatus, kScsiStatusCheckCondition);

    // Announced properly, but the transfer disagrees with the block.
    ASSERT_TRUE(AnnounceWrite(port, clock_, write.cdb));
    write.length = kTimingStagingSize - 1;
    ASSERT_TRUE(SendPassThrough(port, clock_, &write));
    EXPECT_EQ(write.scsiStatus, kScsiStatusCheckCondition);
    // A timing block of the wrong size, announced and consistent in itself.
    EXPECT_FALSE(WriteTiming(port, clock_, timing.data(), 8));
    EXPECT_FALSE(drive_.timingReceived());
}

TEST_F(SimulatedDriveTest, RejectsUnknownAndMisshapenBlocks) {
    ScsiPassThrough& port = drive_.PassThrough();
    std::array<uint8_t, 64> buffer{};
    EXPECT_FALSE(VendorRead(port, clock_, 0x7E, 4, buffer.data()));
    // A known read asked for with the wrong length.
    EXPECT_FALSE(VendorRead(port, clock_, kSubReadIdentity, 21, buffer.data()));
    // A vendor read block with a stray byte in its tail.
    CommandBlock block = BuildVendorReadBlock(kSubReadIdentity, kIdentityLength);
    block[15] = 1;
    const ScsiResult result = port.Execute(block.data(), kVendorCdbLength, DataDirection::kIn,
                                           buffer.data(), kIdentityLength, 10);
    EXPECT_TRUE(result.completed);
    EXPECT_EQ(result.scsiStatus, kScsiStatusCheckCondition);
    EXPECT_EQ(drive_.CountOf(SimCommand::kUnknown), 2u);
}

TEST_F(SimulatedDriveTest, FaultsFailCallsThenRecover) {
    drive_.FailNextCalls(5);
    std::array<uint8_t, kIdentityLength> identity{};
    ASSERT_TRUE(ReadIdentity(drive_.PassThrough(), clock_, &identity));
    EXPECT_EQ(clock_.sleeps().size(), 5u);
    EXPECT_EQ(drive_.totalCalls(), 1u);
    EXPECT_EQ(identity[0], 3);

    drive_.SetCheckCondition(SimCommand::kReadDeviceStatus, true);
    std::array<uint8_t, kDeviceStatusLength> status{};
    EXPECT_FALSE(ReadDeviceStatus(drive_.PassThrough(), clock_, &status));
    EXPECT_EQ(status[0], 0);
    drive_.SetCheckCondition(SimCommand::kReadDeviceStatus, false);
    EXPECT_TRUE(ReadDeviceStatus(drive_.PassThrough(), clock_, &status));

    // A refused announce keeps the write from being sent at all.
    drive_.SetCheckCondition(SimCommand::kAnnounce, true);
    const std::array<uint8_t, kTimingStagingSize> timing{};
    EXPECT_FALSE(WriteTiming(drive_.PassThrough(), clock_, timing.data(), kTimingStagingSize));
    EXPECT_EQ(drive_.CountOf(SimCommand::kWriteTiming), 0u);
}

TEST_F(SimulatedDriveTest, AuthPacketIsDecryptedAndJudged) {
    std::array<uint8_t, kAuthPacketLength> plain{};
    for (size_t i = 0; i < plain.size(); ++i) {
        plain[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    uint8_t key[kAes256KeySize];
    DeriveDriveKey(SampleIdentity().identifier.data(), kDriveIdentifierLength, key);
    std::array<uint8_t, kAuthPacketLength> cipher{};
    Aes256EncryptEcb(cipher.data(), plain.data(), key, cipher.size());

    // No host is registered on a new drive.
    EXPECT_FALSE(WriteAuthPacket(drive_.PassThrough(), clock_, cipher.data(), kAuthPacketLength));
    EXPECT_EQ(drive_.lastErrorCode(), kRefusedNoHost);
    const std::vector<uint8_t> decrypted = drive_.lastAuthPlaintext();
    ASSERT_EQ(decrypted.size(), plain.size());
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), decrypted.begin()));

    // A judge overrides the hosts either way.
    drive_.SetAuthPacketJudge(
        [](const uint8_t* text, size_t) -> uint8_t { return text[0] == 1 ? 31 : 0; });
    EXPECT_FALSE(WriteAuthPacket(drive_.PassThrough(), clock_, cipher.data(), kAuthPacketLength));
    std::array<uint8_t, kCommandStatusLength> status{};
    ASSERT_TRUE(ReadCommandStatus(drive_.PassThrough(), clock_, &status));
    EXPECT_EQ(status[0], 31);
    EXPECT_EQ(status[1], kSubWriteAuthPacket);
    EXPECT_FALSE(drive_.unlocked());
    drive_.SetAuthPacketJudge([](const uint8_t*, size_t) -> uint8_t { return 0; });
    EXPECT_TRUE(WriteAuthPacket(drive_.PassThrough(), clock_, cipher.data(), kAuthPacketLength));
    EXPECT_TRUE(drive_.unlocked());
}

}  // namespace
}  // namespace kx7::sim
