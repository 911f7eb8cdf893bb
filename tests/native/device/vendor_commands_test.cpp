#include "connector/device/vendor_commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <tuple>
#include <vector>

#include "connector/engine/settings.h"
#include "tests/fakes/fake_clock.h"

namespace kx7 {
namespace {

using Bytes = std::vector<uint8_t>;
using test::FakeClock;

// A drive that answers from a script and remembers every request exactly as it arrived.
class ScriptedDrive final : public ScsiPassThrough {
  public:
    struct Reply {
        bool completed = true;
        bool deviceGone = false;  // with completed false: the drive was pulled out
        uint8_t scsiStatus = kScsiStatusGood;
        Bytes data;                   // written into the buffer, at most the requested length
        int64_t reportedLength = -1;  // -1: report the bytes actually written
    };
    struct Call {
        Bytes cdb;  // all 16 bytes, so stray bytes beyond cdbLength are seen too
        uint8_t cdbLength;
        DataDirection direction;
        bool hasBuffer;
        uint32_t length;
        uint32_t timeoutSeconds;
        Bytes sent;  // the data of an outgoing request
    };

    void Push(Reply reply) { script_.push_back(std::move(reply)); }
    void PushFailures(int count) {
        for (int i = 0; i < count; ++i) {
            Push(Failed());
        }
    }
    // What the drive answers once the script has run out.
    void SetDefault(Reply reply) { default_ = std::move(reply); }
    static Reply Failed() {
        Reply r;
        r.completed = false;
        return r;
    }
    static Reply Status(uint8_t scsiStatus) {
        Reply r;
        r.scsiStatus = scsiStatus;
        return r;
    }
    static Reply Data(Bytes data, int64_t reportedLength = -1) {
        Reply r;
        r.data = std::move(data);
        r.reportedLength = reportedLength;
        return r;
    }

    const std::vector<Call>& calls() const { return calls_; }

    ScsiResult Execute(const uint8_t* cdb, uint8_t cdbLength, DataDirection direction,
                       uint8_t* buffer, uint32_t length, uint32_t timeoutSeconds) override {
        Call call{Bytes(cdb, cdb + 16), cdbLength, direction, buffer != nullptr, length,
                  timeoutSeconds,       {}};
        if (direction == DataDirection::kOut && buffer != nullptr) {
            call.sent.assign(buffer, buffer + length);
        }
        calls_.push_back(call);
        Reply reply = default_;
        if (!script_.empty()) {
            reply = script_.front();
            script_.pop_front();
        }
        ScsiResult result;
        result.completed = reply.completed;
        result.deviceGone = reply.deviceGone;
        result.scsiStatus = reply.scsiStatus;
        if (!reply.completed) {
            return result;
        }
        const uint32_t written =
            std::min<uint32_t>(length, static_cast<uint32_t>(reply.data.size()));
        if (direction == DataDirection::kIn && written > 0) {
            std::copy(reply.data.begin(), reply.data.begin() + written, buffer);
        }
        result.dataTransferLength =
            reply.reportedLength < 0 ? written : static_cast<uint32_t>(reply.reportedLength);
        return result;
    }

  private:
    std::deque<Reply> script_;
    Reply default_;
    std::vector<Call> calls_;
};

Bytes Block(std::initializer_list<uint8_t> head) {
    Bytes block(head);
    block.resize(16, 0);
    return block;
}

Bytes Pattern(size_t n, uint8_t seed) {
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<uint8_t>(seed + i * 7);
    }
    return bytes;
}

// What every request fixes: the block, its length, the direction, the data length and the
// timeout, so that a call is checked in one comparison.
using Shape = std::tuple<Bytes, int, DataDirection, uint32_t, uint32_t>;
Shape ShapeOf(const ScriptedDrive::Call& call) {
    return {call.cdb, call.cdbLength, call.direction, call.length, call.timeoutSeconds};
}

class VendorCommandsTest : public ::testing::Test {
  protected:
    ScriptedDrive drive_;
    FakeClock clock_;
};

// --- The announce and its checksum --------------------------------------------------------

TEST_F(VendorCommandsTest, AuthPacketWriteIsAnnouncedWithTheWorkedBlock) {
    const Bytes packet = Pattern(128, 0x11);
    ASSERT_TRUE(WriteAuthPacket(drive_, clock_, packet.data(), 128));
    ASSERT_EQ(drive_.calls().size(), 2u);

    EXPECT_EQ(ShapeOf(drive_.calls()[0]),
              Shape(Block({0x3B, 0x01, 0x10, 0xCD, 0xBE, 0x77, 0x46, 0x4D, 0x4C, 0x00}), 10,
                    DataDirection::kOut, 0, 10));
    EXPECT_FALSE(drive_.calls()[0].hasBuffer);
    EXPECT_EQ(ShapeOf(drive_.calls()[1]),
              Shape(Block({0x3B, 0x01, 0xCD, 0x41, 0x80, 0x00}), 16, DataDirection::kOut, 128, 10));
    EXPECT_EQ(drive_.calls()[1].sent, packet);
}

TEST_F(VendorCommandsTest, TimingWriteIsAnnouncedWithTheWorkedBlock) {
    const auto timing = DriveTimingBlock{}.Pack();
    ASSERT_TRUE(WriteTiming(drive_, clock_, timing.data(), 12));
    ASSERT_EQ(drive_.calls().size(), 2u);
    EXPECT_EQ(ShapeOf(drive_.calls()[0]),
              Shape(Block({0x3B, 0x01, 0x10, 0xCD, 0xFC, 0xEB, 0x46, 0x4D, 0x4C, 0x00}), 10,
                    DataDirection::kOut, 0, 10));
    EXPECT_EQ(ShapeOf(drive_.calls()[1]),
              Shape(Block({0x3B, 0x01, 0xCD, 0x03, 0x0C, 0x00}), 16, DataDirection::kOut, 12, 10));
    EXPECT_EQ(drive_.calls()[1].sent, Bytes(timing.begin(), timing.end()));
}

TEST(AnnounceChecksumTest, WordsAndChecksumCancelForHighBytes) {
    // Bytes above 0x7F catch a signed read, and this sum overflows 16 bits several times.
    CommandBlock block{};
    for (size_t i = 0; i < 10; ++i) {
        block[i] = static_cast<uint8_t>(0xF0 + i);
    }
    uint32_t sum = AnnounceChecksum(block);
    for (size_t k = 0; k < 5; ++k) {
        sum += static_cast<uint32_t>(block[2 * k]) * 256 + block[2 * k + 1];
    }
    EXPECT_EQ(sum % 65536, 0u);
    // Bytes beyond the first ten take no part.
    CommandBlock tail = block;
    tail[10] = 0xFF;
    tail[15] = 0x01;
    EXPECT_EQ(AnnounceChecksum(tail), AnnounceChecksum(block));
    EXPECT_EQ(AnnounceChecksum(CommandBlock{}), 0u);
}

// --- The retry loop and the success rule --------------------------------------------------

TEST_F(VendorCommandsTest, CheckConditionIsSentOnceAndFails) {
    // On a read, on the announce (the write then never goes out), and on the write itself.
    const Bytes packet = Pattern(128, 1);
    std::array<uint8_t, kDeviceStatusLength> reply{};
    drive_.Push(ScriptedDrive::Status(0x02));
    EXPECT_FALSE(ReadDeviceStatus(drive_, clock_, &reply));
    EXPECT_EQ(drive_.calls().size(), 1u);

    drive_.Push(ScriptedDrive::Status(0x02));
    EXPECT_FALSE(WriteAuthPacket(drive_, clock_, packet.data(), 128));
    ASSERT_EQ(drive_.calls().size(), 2u);
    EXPECT_EQ(drive_.calls()[1].cdbLength, 10);

    drive_.Push({});
    drive_.Push(ScriptedDrive::Status(0x02));
    EXPECT_FALSE(WriteAuthPacket(drive_, clock_, packet.data(), 128));
    EXPECT_EQ(drive_.calls().size(), 4u);
    EXPECT_TRUE(clock_.sleeps().empty());
}

TEST_F(VendorCommandsTest, DeadHandleGivesSixHundredAnnounceAttemptsAndNoWrite) {
    drive_.SetDefault(ScriptedDrive::Failed());
    const Bytes packet = Pattern(128, 1);
    EXPECT_FALSE(WriteAuthPacket(drive_, clock_, packet.data(), 128));
    ASSERT_EQ(drive_.calls().size(), 600u);
    for (const auto& call : drive_.calls()) {
        ASSERT_EQ(call.cdbLength, 10);
        ASSERT_EQ(call.cdb[2], 0x10);
    }
    EXPECT_EQ(clock_.sleeps(), std::vector<uint32_t>(600, 100));
}

TEST_F(VendorCommandsTest, GoneDeviceEndsTheRetriesAtOnce) {
    drive_.PushFailures(2);
    ScriptedDrive::Reply gone = ScriptedDrive::Failed();
    gone.deviceGone = true;
    drive_.Push(gone);  // pulled out: the last call, with no wait after it and no write
    const Bytes packet = Pattern(128, 1);
    EXPECT_FALSE(WriteAuthPacket(drive_, clock_, packet.data(), 128));
    EXPECT_EQ(drive_.calls().size(), 3u);
    EXPECT_EQ(clock_.sleeps(), std::vector<uint32_t>(2, 100));
}

TEST_F(VendorCommandsTest, FailedCallsAreRepeatedUntilOneCompletes) {
    // Failures on the announce and then on the write each cost their own retries.
    drive_.PushFailures(3);
    drive_.Push({});
    drive_.PushFailures(2);
    drive_.Push({});
    const Bytes packet = Pattern(128, 9);
    EXPECT_TRUE(WriteAuthPacket(drive_, clock_, packet.data(), 128));
    ASSERT_EQ(drive_.calls().size(), 7u);
    EXPECT_EQ(drive_.calls()[3].cdbLength, 10);
    EXPECT_EQ(drive_.calls()[4].cdbLength, 16);
    EXPECT_EQ(drive_.calls()[6].sent, packet);
    EXPECT_EQ(clock_.sleeps(), std::vector<uint32_t>(5, 100));
}

TEST_F(VendorCommandsTest, LastOfSixHundredCallsMayStillSucceed) {
    drive_.PushFailures(599);
    drive_.Push({});
    std::array<uint8_t, kCommandStatusLength> reply{};
    EXPECT_TRUE(ReadCommandStatus(drive_, clock_, &reply));
    EXPECT_EQ(drive_.calls().size(), 600u);
    EXPECT_EQ(clock_.sleeps().size(), 599u);
}

// --- The commands, byte for byte ----------------------------------------------------------

TEST_F(VendorCommandsTest, ReadDeviceSetupSendsItsBlockAndFillsTheCallersBuffer) {
    drive_.Push(ScriptedDrive::Data(Pattern(348, 0x30)));
    std::array<uint8_t, kDeviceSetupLength> setup{};
    ASSERT_TRUE(ReadDeviceSetup(drive_, clock_, &setup));
    ASSERT_EQ(drive_.calls().size(), 1u);
    EXPECT_EQ(ShapeOf(drive_.calls()[0]),
              Shape(Block({0x3C, 0x01, 0xCE, 0x30, 0x5C, 0x01}), 16, DataDirection::kIn, 348, 10));
    EXPECT_EQ(Bytes(setup.begin(), setup.end()), Pattern(348, 0x30));
}

struct ReadCase {
    const char* name;
    uint8_t subcommand;
    uint8_t lengthLow;  // the whole length: each fits one byte
    bool (*run)(ScsiPassThrough&, Clock&, Bytes*);
    friend void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }
};

template <size_t N, bool (*F)(ScsiPassThrough&, Clock&, std::array<uint8_t, N>*)>
bool RunRead(ScsiPassThrough& drive, Clock& clock, Bytes* out) {
    std::array<uint8_t, N> reply{};
    const bool ok = F(drive, clock, &reply);
    out->assign(reply.begin(), reply.end());
    return ok;
}

const ReadCase kReads[] = {
    {"ReadIdentity", 0x01, 22, RunRead<kIdentityLength, ReadIdentity>},
    {"ReadCommandStatus", 0x02, 4, RunRead<kCommandStatusLength, ReadCommandStatus>},
    {"ReadDeviceStatus", 0x32, 32, RunRead<kDeviceStatusLength, ReadDeviceStatus>},
};

class ReadCommand : public VendorCommandsTest, public ::testing::WithParamInterface<ReadCase> {};
INSTANTIATE_TEST_SUITE_P(VendorCommands, ReadCommand, ::testing::ValuesIn(kReads),
                         ::testing::PrintToStringParamName());

TEST_P(ReadCommand, SendsItsSubcommandAndLength) {
    const ReadCase& c = GetParam();
    drive_.Push(ScriptedDrive::Data(Pattern(c.lengthLow, c.subcommand)));
    Bytes out;
    ASSERT_TRUE(c.run(drive_, clock_, &out));
    ASSERT_EQ(drive_.calls().size(), 1u);  // no announce before a read
    EXPECT_EQ(ShapeOf(drive_.calls()[0]),
              Shape(Block({0x3C, 0x01, 0xCE, c.subcommand, c.lengthLow, 0x00}), 16,
                    DataDirection::kIn, c.lengthLow, 10));
    EXPECT_EQ(out, Pattern(c.lengthLow, c.subcommand));
}

TEST_F(VendorCommandsTest, WritesSendTheCallersLengthNotTheStagingSize) {
    const Bytes shortPacket = Pattern(40, 3);
    ASSERT_TRUE(WriteAuthPacket(drive_, clock_, shortPacket.data(), 40));
    const Bytes shortTiming = Pattern(6, 5);
    ASSERT_TRUE(WriteTiming(drive_, clock_, shortTiming.data(), 6));
    ASSERT_EQ(drive_.calls().size(), 4u);
    EXPECT_EQ(drive_.calls()[1].cdb, Block({0x3B, 0x01, 0xCD, 0x41, 0x28, 0x00}));
    EXPECT_EQ(drive_.calls()[1].sent, shortPacket);
    EXPECT_EQ(drive_.calls()[3].cdb, Block({0x3B, 0x01, 0xCD, 0x03, 0x06, 0x00}));
    EXPECT_EQ(drive_.calls()[3].sent, shortTiming);
    // Each announce follows the length it announces.
    EXPECT_EQ(drive_.calls()[0].cdb,
              Block({0x3B, 0x01, 0x10, 0xCD, 0xBE, 0xCF, 0x46, 0x4D, 0x4C, 0x00}));
    EXPECT_EQ(drive_.calls()[2].cdb,
              Block({0x3B, 0x01, 0x10, 0xCD, 0xFC, 0xF1, 0x46, 0x4D, 0x4C, 0x00}));
}

TEST_F(VendorCommandsTest, WritesLongerThanTheirStagingAreRefusedUnsent) {
    const Bytes big = Pattern(257, 0);
    EXPECT_FALSE(WriteTiming(drive_, clock_, big.data(), 13));
    EXPECT_FALSE(WriteAuthPacket(drive_, clock_, big.data(), 257));
    EXPECT_TRUE(drive_.calls().empty());
    // The full staging sizes themselves are allowed.
    EXPECT_TRUE(WriteAuthPacket(drive_, clock_, big.data(), 256));
    ASSERT_EQ(drive_.calls().size(), 2u);
    EXPECT_EQ(drive_.calls()[1].cdb, Block({0x3B, 0x01, 0xCD, 0x41, 0x00, 0x01}));
}

// --- INQUIRY ------------------------------------------------------------------------------

TEST_F(VendorCommandsTest, ShortInquiryCopiesOnlyTheReportedCount) {
    // The driver says fewer bytes arrived than were written.
    drive_.Push(ScriptedDrive::Data(Pattern(36, 0x41), 20));
    std::array<uint8_t, kInquiryLength> data;
    data.fill(0xAA);
    ASSERT_TRUE(Inquiry(drive_, clock_, &data));
    ASSERT_EQ(drive_.calls().size(), 1u);
    EXPECT_EQ(ShapeOf(drive_.calls()[0]),
              Shape(Block({0x12, 0x00, 0x00, 0x00, 0x24, 0x00}), 6, DataDirection::kIn, 36, 10));
    Bytes expected = Pattern(20, 0x41);
    expected.resize(36, 0);
    EXPECT_EQ(Bytes(data.begin(), data.end()), expected);
}

TEST_F(VendorCommandsTest, OverlongInquiryReportIsClampedToTheCallersBytes) {
    drive_.Push(ScriptedDrive::Data(Pattern(36, 0x50), 100));
    // The output sits at the front of a larger buffer so that a write past it shows.
    struct Guarded {
        std::array<uint8_t, kInquiryLength> data;
        std::array<uint8_t, 64> guard;
    } buffer;
    buffer.guard.fill(0xEE);
    ASSERT_TRUE(Inquiry(drive_, clock_, &buffer.data));
    EXPECT_EQ(Bytes(buffer.data.begin(), buffer.data.end()), Pattern(36, 0x50));
    EXPECT_EQ(Bytes(buffer.guard.begin(), buffer.guard.end()), Bytes(64, 0xEE));
}

TEST_F(VendorCommandsTest, FailedInquiryLeavesTheOutputZeroed) {
    ScriptedDrive::Reply reply = ScriptedDrive::Status(0x02);
    reply.data = Pattern(36, 0x60);
    drive_.Push(reply);
    std::array<uint8_t, kInquiryLength> data;
    data.fill(0xAA);
    EXPECT_FALSE(Inquiry(drive_, clock_, &data));
    EXPECT_EQ(Bytes(data.begin(), data.end()), Bytes(36, 0));
}

TEST(DriveIdentityTest, ParsesBigEndianIdsAndTheDriveIdentifier) {
    const std::array<uint8_t, kIdentityLength> reply = {3,   250, 0x6B, 0x2F, 0x11, 0x81, 'A', 'B',
                                                        'C', 'D', 'E',  'F',  'G',  'H',  'I', 'J',
                                                        'K', 'L', 'M',  'N',  'O',  'P'};
    const DriveIdentity id = ParseDriveIdentity(reply);
    EXPECT_EQ(std::tie(id.firmwareMajor, id.firmwareMinor, id.vendorId, id.productId),
              std::make_tuple(3, 250, 0x6B2F, 0x1181));
    EXPECT_EQ(Bytes(id.driveId.begin(), id.driveId.end()), Bytes(reply.begin() + 6, reply.end()));
}

}  // namespace
}  // namespace kx7
