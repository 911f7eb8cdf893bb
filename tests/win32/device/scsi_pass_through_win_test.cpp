// The Win32 pass-through backend: the exact 80 bytes handed to the storage stack, how the
// answer comes back, and how drives are opened and closed.
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <winioctl.h>
#include <ntddscsi.h>

#include "connector/device/scsi_pass_through_win.h"

namespace kx7 {
namespace {

// What the stand-in for DeviceIoControl saw, and how it answers. A plain function pointer
// cannot carry state, so the capture lives here and each test resets it.
struct Capture {
    int calls = 0;
    HANDLE device = nullptr;
    DWORD controlCode = 0;
    void* inBuffer = nullptr;
    DWORD inSize = 0;
    void* outBuffer = nullptr;
    DWORD outSize = 0;
    bool hadBytesReturned = false;
    bool hadOverlapped = false;
    std::vector<uint8_t> record;
    std::vector<uint8_t> wholeRecord;

    BOOL answer = TRUE;
    uint8_t answerStatus = 0;
    uint32_t answerLength = 0;
    bool writeAnswer = false;
};
Capture g_capture;

BOOL WINAPI CapturingIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                               DWORD outSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped) {
    Capture& c = g_capture;
    ++c.calls;
    c.device = device;
    c.controlCode = code;
    c.inBuffer = in;
    c.inSize = inSize;
    c.outBuffer = out;
    c.outSize = outSize;
    c.hadBytesReturned = bytesReturned != nullptr;
    c.hadOverlapped = overlapped != nullptr;
    const auto* bytes = static_cast<const uint8_t*>(in);
    c.record.assign(bytes, bytes + (inSize < 80 ? inSize : 80));
    c.wholeRecord.assign(bytes, bytes + inSize);
    if (c.writeAnswer && out != nullptr && outSize >= 80) {
        // Answer the way a driver does: status and count in the structure, sense bytes filled.
        auto* o = static_cast<uint8_t*>(out);
        o[2] = c.answerStatus;
        std::memcpy(o + 12, &c.answerLength, 4);
        std::memset(o + 48, 0x70, 32);
        if (bytesReturned != nullptr) {
            *bytesReturned = 80;
        }
    }
    return c.answer;
}

void PutLe32(std::array<uint8_t, 80>& rec, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        rec[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

// The record written out by hand, byte by byte, independent of the platform header.
std::array<uint8_t, 80> ExpectedRecord(const uint8_t* cdb, uint8_t cdbLength, bool dataIn,
                                       uint32_t length, const void* buffer, uint32_t timeout) {
    std::array<uint8_t, 80> rec{};
    rec[0] = 44;
    rec[1] = 0;
    rec[2] = 0;  // ScsiStatus
    rec[3] = 0;  // PathId
    rec[4] = 1;  // TargetId
    rec[5] = 0;  // Lun
    rec[6] = cdbLength;
    rec[7] = 32;  // SenseInfoLength
    rec[8] = dataIn ? 1 : 0;
    PutLe32(rec, 12, length);
    PutLe32(rec, 16, timeout);
    PutLe32(rec, 20, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(buffer)));
    PutLe32(rec, 24, 48);  // SenseInfoOffset
    for (uint8_t i = 0; i < cdbLength; ++i) {
        rec[28 + i] = cdb[i];
    }
    return rec;
}

class CapturedPassThrough : public ::testing::Test {
  protected:
    void SetUp() override { g_capture = Capture(); }
    // A handle value the backend passes through but never closes.
    WinScsiPassThrough drive_{INVALID_HANDLE_VALUE, CapturingIoControl};
};

struct EnvelopeCase {
    uint8_t cdbLength;
    DataDirection direction;
    uint32_t length;
    friend void PrintTo(const EnvelopeCase& c, std::ostream* os) {
        *os << int(c.cdbLength) << (c.direction == DataDirection::kIn ? "In" : "Out") << c.length;
    }
};

class EnvelopeBytes : public CapturedPassThrough,
                      public ::testing::WithParamInterface<EnvelopeCase> {};

TEST_P(EnvelopeBytes, RecordMatchesByteForByte) {
#if !defined(__i386__)
    GTEST_SKIP() << "pins the 32-bit record the shipped program sends; other builds lay it out "
                    "with their own pointer size";
#endif
    const EnvelopeCase& p = GetParam();
    // Every byte set, so a copy of more than cdbLength bytes shows up as a nonzero tail.
    std::array<uint8_t, 16> cdb;
    for (size_t i = 0; i < cdb.size(); ++i) {
        cdb[i] = static_cast<uint8_t>(0xA1 + i);
    }
    std::vector<uint8_t> data(p.length + 1, 0x5A);
    uint8_t* buffer = p.length != 0 ? data.data() : nullptr;

    drive_.Execute(cdb.data(), p.cdbLength, p.direction, buffer, p.length, 10);

    ASSERT_EQ(g_capture.calls, 1);
    const auto expected = ExpectedRecord(cdb.data(), p.cdbLength, p.direction == DataDirection::kIn,
                                         p.length, buffer, 10);
    ASSERT_EQ(g_capture.record.size(), 80u);
    for (size_t i = 0; i < 80; ++i) {
        EXPECT_EQ(g_capture.record[i], expected[i]) << "byte " << i;
    }
    EXPECT_EQ(g_capture.device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(g_capture.controlCode, 0x4D014u);
    EXPECT_EQ(g_capture.inSize, 80u);
    EXPECT_EQ(g_capture.outSize, 80u);
    EXPECT_EQ(g_capture.inBuffer, g_capture.outBuffer) << "one record is both in and out";
    EXPECT_TRUE(g_capture.hadBytesReturned);
    EXPECT_FALSE(g_capture.hadOverlapped);
    // Direct transfer: the driver works on the caller's buffer, which the backend leaves alone.
    for (uint8_t b : data) {
        EXPECT_EQ(b, 0x5A);
    }
}

INSTANTIATE_TEST_SUITE_P(CdbShapes, EnvelopeBytes,
                         ::testing::Values(EnvelopeCase{6, DataDirection::kIn, 36},
                                           EnvelopeCase{6, DataDirection::kOut, 0},
                                           EnvelopeCase{10, DataDirection::kIn, 8},
                                           EnvelopeCase{10, DataDirection::kOut, 0},
                                           EnvelopeCase{16, DataDirection::kIn, 348},
                                           EnvelopeCase{16, DataDirection::kOut, 128},
                                           EnvelopeCase{16, DataDirection::kOut, 0x10203}),
                         [](const ::testing::TestParamInfo<EnvelopeCase>& info) {
                             return "Cdb" + std::to_string(info.param.cdbLength) +
                                    (info.param.direction == DataDirection::kIn ? "In" : "Out") +
                                    std::to_string(info.param.length);
                         });

// On every build the size field names the structure the system will read and the sense area
// lies inside the record, behind the structure, where the driver may write it.
TEST_F(CapturedPassThrough, SizeFieldAndSenseAreaFitThisBuildsRecord) {
    const uint8_t cdb[6] = {0x12, 0, 0, 0, 0x24, 0};
    uint8_t data[36] = {};
    drive_.Execute(cdb, 6, DataDirection::kIn, data, 36, 10);
    ASSERT_EQ(g_capture.calls, 1);
    ASSERT_GE(g_capture.wholeRecord.size(), sizeof(SCSI_PASS_THROUGH_DIRECT));
    SCSI_PASS_THROUGH_DIRECT header;
    std::memcpy(&header, g_capture.wholeRecord.data(), sizeof(header));
    EXPECT_EQ(header.Length, sizeof(SCSI_PASS_THROUGH_DIRECT));
    EXPECT_EQ(header.SenseInfoLength, 32);
    EXPECT_GE(header.SenseInfoOffset, sizeof(SCSI_PASS_THROUGH_DIRECT));
    EXPECT_LE(header.SenseInfoOffset + header.SenseInfoLength, g_capture.inSize);
    EXPECT_EQ(g_capture.inSize, g_capture.outSize);
    EXPECT_EQ(header.DataBuffer, static_cast<void*>(data));
    EXPECT_EQ(header.DataTransferLength, 36u);
}

TEST_F(CapturedPassThrough, TimeoutIsTakenFromTheCaller) {
    const uint8_t cdb[6] = {0x12, 0, 0, 0, 0x24, 0};
    uint8_t data[36] = {};
    drive_.Execute(cdb, 6, DataDirection::kIn, data, 36, 0x01020304);
    ASSERT_EQ(g_capture.record.size(), 80u);
    EXPECT_EQ(g_capture.record[16], 0x04);
    EXPECT_EQ(g_capture.record[17], 0x03);
    EXPECT_EQ(g_capture.record[18], 0x02);
    EXPECT_EQ(g_capture.record[19], 0x01);
}

TEST_F(CapturedPassThrough, AnswerMapsIntoResult) {
    const uint8_t cdb[16] = {0x3C, 0x01, 0xCE, 0x01, 0x16};
    uint8_t data[22] = {};

    g_capture.writeAnswer = true;
    const struct {
        BOOL answer;
        uint8_t status;
        uint32_t length;
    } answers[] = {
        {TRUE, 0x00, 20},    // GOOD and a short transfer
        {TRUE, 0x02, 4096},  // CHECK CONDITION, and a driver claiming more than was asked for
        {7, 0x08, 0},        // any nonzero BOOL counts as success
    };
    for (const auto& a : answers) {
        SCOPED_TRACE(static_cast<int>(a.status));
        g_capture.answer = a.answer;
        g_capture.answerStatus = a.status;
        g_capture.answerLength = a.length;
        const ScsiResult r = drive_.Execute(cdb, 16, DataDirection::kIn, data, 22, 10);
        EXPECT_TRUE(r.completed);
        EXPECT_EQ(r.scsiStatus, a.status);
        EXPECT_EQ(r.dataTransferLength, a.length);
    }
    EXPECT_EQ(g_capture.calls, 3);
}

TEST_F(CapturedPassThrough, FailedCallIsNotCompletedWhateverTheRecordSays) {
    const uint8_t cdb[16] = {0x3B, 0x01, 0xCD, 0x41, 0x80};
    uint8_t data[128] = {};
    g_capture.answer = FALSE;
    g_capture.writeAnswer = true;
    g_capture.answerStatus = 0x00;
    g_capture.answerLength = 128;
    const ScsiResult r = drive_.Execute(cdb, 16, DataDirection::kOut, data, 128, 10);
    EXPECT_EQ(g_capture.calls, 1) << "retrying is the caller's business";
    EXPECT_FALSE(r.completed);
    EXPECT_EQ(r.dataTransferLength, 0u);
}

TEST_F(CapturedPassThrough, RequestsTheDriverCannotHonourAreNotSent) {
    uint8_t cdb[17] = {0x3C};
    uint8_t data[4] = {};
    EXPECT_FALSE(drive_.Execute(cdb, 17, DataDirection::kIn, data, 4, 10).completed);
    EXPECT_FALSE(drive_.Execute(nullptr, 6, DataDirection::kIn, data, 4, 10).completed);
    EXPECT_FALSE(drive_.Execute(cdb, 16, DataDirection::kIn, nullptr, 4, 10).completed);
    EXPECT_EQ(g_capture.calls, 0);
}

TEST(WinScsiPassThroughHandle, PassesItsHandleAndClosesItOnDestruction) {
    g_capture = Capture();
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    {
        WinScsiPassThrough drive(event, CapturingIoControl);
        const uint8_t cdb[6] = {0x12, 0, 0, 0, 0x24, 0};
        uint8_t data[36] = {};
        drive.Execute(cdb, 6, DataDirection::kIn, data, 36, 10);
        EXPECT_EQ(g_capture.device, event);
        DWORD flags = 0;
        EXPECT_TRUE(GetHandleInformation(event, &flags)) << "still open while in use";
    }
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(event, &flags)) << "closed with the object";
}

class OpenDrive : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t dir[MAX_PATH] = {};
        ASSERT_NE(GetTempPathW(MAX_PATH, dir), 0u);
        wchar_t name[MAX_PATH] = {};
        ASSERT_NE(GetTempFileNameW(dir, L"kx7", 0, name), 0u);
        path_ = name;
    }
    void TearDown() override { DeleteFileW(path_.c_str()); }
    // Whether another reader-writer with this sharing gets in beside us; it leaves again.
    bool Reopens(DWORD share) const {
        HANDLE other = CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
        if (other == INVALID_HANDLE_VALUE) {
            return false;
        }
        CloseHandle(other);
        return true;
    }
    std::wstring path_;
};

TEST_F(OpenDrive, MissingPathGivesNull) {
    EXPECT_EQ(OpenDriveForPassThrough(L"\\\\.\\Kx7NoSuchDevice{0000}"), nullptr);
    EXPECT_EQ(OpenDriveForPassThrough(path_ + L".missing"), nullptr);
    EXPECT_EQ(OpenDriveForPassThrough(L""), nullptr);
}

TEST_F(OpenDrive, OpensForReadAndWriteSharedAndClosesOnRelease) {
    std::unique_ptr<ScsiPassThrough> drive = OpenDriveForPassThrough(path_);
    ASSERT_NE(drive, nullptr);

    // Both sharing bits are granted, so another reader-writer gets in beside us, while opens
    // that refuse to share reading or writing clash with our read and write access.
    EXPECT_TRUE(Reopens(FILE_SHARE_READ | FILE_SHARE_WRITE));
    EXPECT_FALSE(Reopens(FILE_SHARE_READ)) << "our handle must hold write access";
    EXPECT_FALSE(Reopens(FILE_SHARE_WRITE)) << "our handle must hold read access";

    // A plain file is no SCSI device: the real call fails and nothing is reported as done.
    const uint8_t cdb[6] = {0x12, 0, 0, 0, 0x24, 0};
    uint8_t data[36] = {};
    EXPECT_FALSE(drive->Execute(cdb, 6, DataDirection::kIn, data, 36, 10).completed);

    drive.reset();
    EXPECT_TRUE(Reopens(0)) << "the handle is closed with the object";
}

}  // namespace
}  // namespace kx7
