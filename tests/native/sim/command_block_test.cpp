// The drive must refuse what a faulty host would send: each case below is a block as a builder
// with one plausible mistake would make it (an opcode, a buffer, a byte order, a checksum rule,
// a length), written out byte for byte. Were the drive to read blocks with the builders it is
// meant to check, these mistakes would be made on both sides and pass.
#include "sim/command_block.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sim/simulated_drive.h"
#include "tests/native/sim/sim_test_support.h"

namespace kx7::sim {
namespace {

using namespace test_support;

constexpr SimDirection kIn = SimDirection::kIn;
constexpr SimDirection kOut = SimDirection::kOut;

struct Step {
    Bytes cdb;
    SimDirection direction;
    uint32_t length;
};

// What a command leaves behind when the drive takes it. The drive accepts every packet it
// manages to read, so a refused write can only have been refused for its blocks.
enum class Effect { kReadReply, kTimingStored, kPacketTaken };

struct Exchange {
    const char* what;
    std::vector<Step> steps;  // the last one is the command judged
    Effect effect;
    friend void PrintTo(const Exchange& e, std::ostream* os) { *os << e.what; }
};

const Step kPacketAnnounceStep{kPacketAnnounce, kOut, 0};
const Step kTimingAnnounceStep{kTimingAnnounce, kOut, 0};

// The exchanges of a correct host.
std::vector<Exchange> CorrectExchanges() {
    return {
        {"inquiry", {{kInquiryBlock, kIn, 36}}, Effect::kReadReply},
        {"identity", {{kReadIdentityBlock, kIn, 22}}, Effect::kReadReply},
        {"command status", {{kReadCommandStatusBlock, kIn, 4}}, Effect::kReadReply},
        {"device setup", {{kReadDeviceSetupBlock, kIn, 348}}, Effect::kReadReply},
        {"device status", {{kReadDeviceStatusBlock, kIn, 32}}, Effect::kReadReply},
        {"timing", {kTimingAnnounceStep, {kTimingWrite, kOut, 12}}, Effect::kTimingStored},
        {"packet", {kPacketAnnounceStep, {kPacketWrite, kOut, 128}}, Effect::kPacketTaken},
    };
}

class CommandBlockTest : public ::testing::Test {
  protected:
    // Runs the steps on a fresh drive; true when the last one was answered GOOD, and then the
    // effect must be there, otherwise it must not.
    bool Run(const Exchange& exchange) {
        drive_ = std::make_unique<SimulatedDrive>(SampleIdentity());
        // Any packet the drive manages to read is accepted, so only the blocks can refuse it.
        drive_->SetAuthPacketJudge([](const uint8_t*, size_t) -> uint8_t { return 0; });
        std::vector<uint8_t> buffer(512, kUntouched);
        SimScsiResult last;
        for (const Step& step : exchange.steps) {
            last = Send(*drive_, step.cdb, step.direction,
                        step.length == 0 ? nullptr : buffer.data(), step.length);
        }
        const bool good = Good(last);
        EXPECT_TRUE(last.completed);
        EXPECT_EQ(last.scsiStatus, good ? kSimStatusGood : kSimStatusCheckCondition);
        switch (exchange.effect) {
            case Effect::kReadReply: {
                const bool written = buffer[0] != kUntouched || buffer[1] != kUntouched;
                EXPECT_EQ(written, good);
                EXPECT_EQ(last.dataTransferLength, good ? exchange.steps.back().length : 0u);
                break;
            }
            case Effect::kTimingStored:
                EXPECT_EQ(drive_->timingReceived(), good);
                break;
            case Effect::kPacketTaken:
                EXPECT_EQ(drive_->unlocked(), good);
                EXPECT_EQ(drive_->lastAuthPlaintext().empty(), !good);
                break;
        }
        return good;
    }

    static constexpr uint8_t kUntouched = 0xEE;
    std::unique_ptr<SimulatedDrive> drive_;
};

class CorrectBlock : public CommandBlockTest, public ::testing::WithParamInterface<Exchange> {};
INSTANTIATE_TEST_SUITE_P(Sim, CorrectBlock, ::testing::ValuesIn(CorrectExchanges()),
                         [](const auto& info) { return CaseName(info.param.what); });

TEST_P(CorrectBlock, IsAnswered) {
    EXPECT_TRUE(Run(GetParam()));
}

const std::vector<Exchange> kFaults = {
    {"read sent with the WRITE BUFFER opcode",
     {{VendorBlock({0x3B, 0x01, 0xCE, 0x01, 0x16, 0x00}), kIn, 22}},
     Effect::kReadReply},
    {"read in mode 2 (data) instead of the vendor mode",
     {{VendorBlock({0x3C, 0x02, 0xCE, 0x01, 0x16, 0x00}), kIn, 22}},
     Effect::kReadReply},
    {"read from the buffer of writes",
     {{VendorBlock({0x3C, 0x01, 0xCD, 0x01, 0x16, 0x00}), kIn, 22}},
     Effect::kReadReply},
    {"read length most significant byte first",
     {{VendorBlock({0x3C, 0x01, 0xCE, 0x01, 0x00, 0x16}), kIn, 22}},
     Effect::kReadReply},
    {"read block cut to the standard ten bytes",
     {{{0x3C, 0x01, 0xCE, 0x01, 0x16, 0x00, 0x00, 0x00, 0x00, 0x00}, kIn, 22}},
     Effect::kReadReply},
    {"read of a write's subcommand",
     {{VendorBlock({0x3C, 0x01, 0xCE, 0x03, 0x0C, 0x00}), kIn, 12}},
     Effect::kReadReply},
    {"identity asked for one byte short",
     {{VendorBlock({0x3C, 0x01, 0xCE, 0x01, 0x15, 0x00}), kIn, 21}},
     Effect::kReadReply},
    {"status asked for with the length of the setup",
     {{VendorBlock({0x3C, 0x01, 0xCE, 0x32, 0x5C, 0x01}), kIn, 348}},
     Effect::kReadReply},
    {"transfer longer than the block says", {{kReadIdentityBlock, kIn, 32}}, Effect::kReadReply},
    {"read with data going out", {{kReadIdentityBlock, kOut, 22}}, Effect::kReadReply},
    {"inquiry allocation length in byte 3",
     {{{0x12, 0x00, 0x00, 0x24, 0x00, 0x00}, kIn, 36}},
     Effect::kReadReply},
    {"inquiry for a vital product data page",
     {{{0x12, 0x01, 0x00, 0x00, 0x24, 0x00}, kIn, 36}},
     Effect::kReadReply},
    {"inquiry as a ten-byte block",
     {{{0x12, 0x00, 0x00, 0x00, 0x24, 0x00, 0x00, 0x00, 0x00, 0x00}, kIn, 36}},
     Effect::kReadReply},
    {"write without an announce", {{kTimingWrite, kOut, 12}}, Effect::kTimingStored},
    {"checksum as the one's complement of the word sum",
     {{{0x3B, 0x01, 0x10, 0xCD, 0xBD, 0x77, 0x46, 0x4D, 0x4C, 0x00}, kOut, 0},
      {kPacketWrite, kOut, 128}},
     Effect::kPacketTaken},
    {"checksum stored most significant byte first",
     {{{0x3B, 0x01, 0x10, 0xCD, 0x77, 0xBE, 0x46, 0x4D, 0x4C, 0x00}, kOut, 0},
      {kPacketWrite, kOut, 128}},
     Effect::kPacketTaken},
    {"checksum over little-endian words",
     {{{0x3B, 0x01, 0x10, 0xCD, 0x78, 0xBC, 0x46, 0x4D, 0x4C, 0x00}, kOut, 0},
      {kPacketWrite, kOut, 128}},
     Effect::kPacketTaken},
    {"announce of the timing before the packet",
     {kTimingAnnounceStep, {kPacketWrite, kOut, 128}},
     Effect::kPacketTaken},
    {"announce naming the buffer of reads",
     {{{0x3B, 0x01, 0x10, 0xCE, 0xBE, 0x77, 0x46, 0x4D, 0x4C, 0x00}, kOut, 0},
      {kPacketWrite, kOut, 128}},
     Effect::kPacketTaken},
    {"announce without its closing zero",
     {{{0x3B, 0x01, 0x10, 0xCD, 0xBE, 0x77, 0x46, 0x4D, 0x4C, 0x20}, kOut, 0},
      {kPacketWrite, kOut, 128}},
     Effect::kPacketTaken},
    {"announce sent as a sixteen-byte block",
     {{VendorBlock({0x3B, 0x01, 0x10, 0xCD, 0xBE, 0x77, 0x46, 0x4D, 0x4C, 0x00}), kOut, 0},
      {kPacketWrite, kOut, 128}},
     Effect::kPacketTaken},
    {"announce carrying data",
     {{kPacketAnnounce, kOut, 16}, {kPacketWrite, kOut, 128}},
     Effect::kPacketTaken},
    {"packet written with the staging buffer's 256 bytes, announced right",
     {{{0x3B, 0x01, 0x10, 0xCD, 0xBD, 0xF7, 0x46, 0x4D, 0x4C, 0x00}, kOut, 0},
      {VendorBlock({0x3B, 0x01, 0xCD, 0x41, 0x00, 0x01}), kOut, 256}},
     Effect::kPacketTaken},
    {"timing of 8 bytes, announced right",
     {{{0x3B, 0x01, 0x10, 0xCD, 0xFC, 0xEF, 0x46, 0x4D, 0x4C, 0x00}, kOut, 0},
      {VendorBlock({0x3B, 0x01, 0xCD, 0x03, 0x08, 0x00}), kOut, 8}},
     Effect::kTimingStored},
    {"packet transfer shorter than its block",
     {kPacketAnnounceStep, {kPacketWrite, kOut, 120}},
     Effect::kPacketTaken},
    {"packet with data coming in",
     {kPacketAnnounceStep, {kPacketWrite, kIn, 128}},
     Effect::kPacketTaken},
    {"write sent with the READ BUFFER opcode",
     {kPacketAnnounceStep, {VendorBlock({0x3C, 0x01, 0xCD, 0x41, 0x80, 0x00}), kOut, 128}},
     Effect::kPacketTaken},
};

class FaultyBlock : public CommandBlockTest, public ::testing::WithParamInterface<Exchange> {};
INSTANTIATE_TEST_SUITE_P(Sim, FaultyBlock, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return CaseName(info.param.what); });

TEST_P(FaultyBlock, IsRefused) {
    EXPECT_FALSE(Run(GetParam()));
}

// Every bit of every block counts: a single flipped bit anywhere in a correct exchange, in
// the announce as in the command, makes the drive refuse the command.
TEST_F(CommandBlockTest, EverySingleBitOfAnExchangeMatters) {
    for (const Exchange& correct : CorrectExchanges()) {
        for (size_t step = 0; step < correct.steps.size(); ++step) {
            for (size_t byte = 0; byte < correct.steps[step].cdb.size(); ++byte) {
                for (int bit = 0; bit < 8; ++bit) {
                    Exchange flipped = correct;
                    flipped.steps[step].cdb[byte] ^= static_cast<uint8_t>(1u << bit);
                    SCOPED_TRACE(std::string(correct.what) + ", step " + std::to_string(step) +
                                 ", byte " + std::to_string(byte) + ", bit " + std::to_string(bit));
                    EXPECT_FALSE(Run(flipped));
                }
            }
        }
    }
}

TEST(AnnounceChecksumTest, WordsAndChecksumAddUpToZero) {
    const uint8_t packet[10] = {0x3B, 0x01, 0xCD, 0x41, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00};
    const uint8_t timing[10] = {0x3B, 0x01, 0xCD, 0x03, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_TRUE(AnnounceBalances(0x77BE, packet));
    EXPECT_TRUE(AnnounceBalances(0xEBFC, timing));
    EXPECT_FALSE(AnnounceBalances(0x77BD, packet));
    EXPECT_FALSE(AnnounceBalances(0xBE77, packet));
    EXPECT_FALSE(AnnounceBalances(0x77BE, timing));
    // A block whose words already add up to 0 modulo 65536 needs a checksum of 0, not 0x10000.
    const uint8_t balanced[10] = {0xFF, 0xFF, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_TRUE(AnnounceBalances(0x0000, balanced));
}

TEST(DecodeCommandBlockTest, LengthsAreReadInTheirOwnByteOrder) {
    const Bytes setup = kReadDeviceSetupBlock;
    const SimCommandBlock read = DecodeCommandBlock(setup.data(), setup.size());
    EXPECT_EQ(read.command, SimCommand::kReadDeviceSetup);
    EXPECT_EQ(read.length, 348);
    const Bytes inquiry = {0x12, 0x00, 0x00, 0x01, 0x02, 0x00};
    const SimCommandBlock standard = DecodeCommandBlock(inquiry.data(), inquiry.size());
    EXPECT_EQ(standard.command, SimCommand::kInquiry);
    EXPECT_EQ(standard.length, 0x0102);
    const SimCommandBlock announce =
        DecodeCommandBlock(kPacketAnnounce.data(), kPacketAnnounce.size());
    EXPECT_EQ(announce.command, SimCommand::kAnnounce);
    EXPECT_EQ(announce.checksum, 0x77BE);
    // Too short to hold the fields its opcode promises.
    const uint8_t stub[2] = {0x3C, 0x01};
    EXPECT_EQ(DecodeCommandBlock(stub, sizeof(stub)).command, SimCommand::kUnknown);
    EXPECT_EQ(DecodeCommandBlock(nullptr, 16).command, SimCommand::kUnknown);
}

}  // namespace
}  // namespace kx7::sim
