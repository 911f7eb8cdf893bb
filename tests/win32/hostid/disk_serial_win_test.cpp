// The SMART IDENTIFY backend: the exact request handed to the disk driver through a stand-in for
// DeviceIoControl, and what Wine's own disk driver answers.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "connector/hostid/disk_serial_win.h"

namespace kx7 {
namespace {

struct SmartCapture {
    int calls = 0;
    HANDLE device = nullptr;
    DWORD controlCode = 0;
    uintptr_t in = 0;
    uintptr_t out = 0;
    DWORD inSize = 0;
    DWORD outSize = 0;
    bool hadBytesReturned = false;
    bool hadOverlapped = true;
    std::vector<uint8_t> request;  // the 33 allocated bytes, as the driver would see them
    std::vector<uint8_t> result;   // the 529 allocated bytes before the answer
    BOOL answer = TRUE;
};
SmartCapture g_smart;

BOOL WINAPI CapturingIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                               DWORD outSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped) {
    SmartCapture& c = g_smart;
    ++c.calls;
    c.device = device;
    c.controlCode = code;
    c.in = reinterpret_cast<uintptr_t>(in);
    c.out = reinterpret_cast<uintptr_t>(out);
    c.inSize = inSize;
    c.outSize = outSize;
    c.hadBytesReturned = bytesReturned != nullptr;
    c.hadOverlapped = overlapped != nullptr;
    const auto* request = static_cast<const uint8_t*>(in);
    const auto* result = static_cast<const uint8_t*>(out);
    c.request.assign(request, request + 33);
    c.result.assign(result, result + 529);
    auto* o = static_cast<uint8_t*>(out);
    if (!c.answer) {
        o[4] = 9;  // driver error: not supported
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    for (size_t i = 0; i < 512; ++i) {
        o[16 + i] = static_cast<uint8_t>(i * 7 + 3);
    }
    if (bytesReturned != nullptr) {
        *bytesReturned = 528;
    }
    return TRUE;
}

// The request written out by hand for IDENTIFY DEVICE.
std::vector<uint8_t> ExpectedRequest(uint8_t driveHead, uint8_t driveNumber) {
    std::vector<uint8_t> bytes(33, 0);
    bytes[1] = 0x02;  // 512, little-endian
    bytes[5] = 1;     // sector count
    bytes[6] = 1;     // sector number
    bytes[9] = driveHead;
    bytes[10] = 0xEC;
    bytes[12] = driveNumber;
    return bytes;
}

class SmartRequest : public ::testing::Test {
  protected:
    void SetUp() override { g_smart = SmartCapture(); }
    HANDLE const fakeDrive_ = reinterpret_cast<HANDLE>(0x1234);
};

TEST_F(SmartRequest, RequestAndResultBlocksByteForByte) {
    uint8_t dest[512];
    ASSERT_TRUE(SmartIdentify(fakeDrive_, 0, dest, CapturingIoControl));
    ASSERT_EQ(g_smart.calls, 1);
    EXPECT_EQ(g_smart.device, fakeDrive_);
    EXPECT_EQ(g_smart.controlCode, 0x7C088u);
    EXPECT_EQ(g_smart.inSize, 32u);
    EXPECT_EQ(g_smart.outSize, 528u);
    EXPECT_TRUE(g_smart.hadBytesReturned);
    EXPECT_FALSE(g_smart.hadOverlapped) << "the request is synchronous";
    EXPECT_EQ(g_smart.request, ExpectedRequest(0xA0, 0));
    std::vector<uint8_t> result(529, 0);
    result[0] = 0x11;  // 529
    result[1] = 0x02;
    EXPECT_EQ(g_smart.result, result);
    // Blocks of their own pages, not pieces of the heap.
    EXPECT_EQ(g_smart.in % 4096, 0u);
    EXPECT_EQ(g_smart.out % 4096, 0u);
    for (size_t i = 0; i < 512; ++i) {
        ASSERT_EQ(dest[i], static_cast<uint8_t>(i * 7 + 3)) << "byte " << i;
    }

    ASSERT_TRUE(SmartIdentify(fakeDrive_, 1, dest, CapturingIoControl));
    EXPECT_EQ(g_smart.request, ExpectedRequest(0xB0, 1));
    ASSERT_TRUE(SmartIdentify(fakeDrive_, 0xFF, dest, CapturingIoControl));
    EXPECT_EQ(g_smart.request, ExpectedRequest(0xB0, 0xFF));
}

TEST_F(SmartRequest, RefusedRequestLeavesDestinationAlone) {
    g_smart.answer = FALSE;
    uint8_t dest[512];
    std::memset(dest, 0x5A, sizeof(dest));
    EXPECT_FALSE(SmartIdentify(fakeDrive_, 0, dest, CapturingIoControl));
    for (uint8_t b : dest) {
        ASSERT_EQ(b, 0x5A);
    }
}

TEST_F(SmartRequest, IdentifyOpensThePhysicalDriveAndSkipsOneThatDoesNotOpen) {
    // Wine opens \\.\PhysicalDrive0, so the stand-in gets a real handle.
    WinAtaIdentify ata(CapturingIoControl);
    std::array<uint8_t, kIdentifySize> identify{};
    ASSERT_TRUE(ata.Identify(0, &identify));
    EXPECT_EQ(g_smart.calls, 1);
    EXPECT_NE(g_smart.device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(identify[100], static_cast<uint8_t>(100 * 7 + 3));

    g_smart = SmartCapture();
    identify.fill(0x11);
    EXPECT_FALSE(ata.Identify(97, &identify));
    EXPECT_EQ(g_smart.calls, 0) << "nothing is sent to a drive that did not open";
    EXPECT_EQ(identify[0], 0x11);
}

TEST(SystemDiskSerial, WineHasNoSmartSoTheBufferStaysAsItWas) {
    // Wine's disk driver refuses SMART_RCV_DRIVE_DATA; on Windows this would read the serial.
    char out[32];
    std::memset(out, '#', sizeof(out));
    EXPECT_FALSE(GetDiskSerial(SystemAtaIdentify(), 0, out));
    EXPECT_EQ(std::string(out, sizeof(out)), std::string(sizeof(out), '#'));
}

}  // namespace
}  // namespace kx7
