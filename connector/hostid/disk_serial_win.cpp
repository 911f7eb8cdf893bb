// One IDENTIFY DEVICE through SMART_RCV_DRIVE_DATA: a 32-byte request naming the ATA registers
// and a 528-byte result whose last 512 bytes are the drive's answer. Both blocks sit in pages
// of their own for the one request, as the driver receives them.
#include "connector/hostid/disk_serial_win.h"

#include <winioctl.h>

#include <cstddef>
#include <cstring>

#include "connector/hostid/debug_out.h"

namespace kx7 {
namespace {

// The request is built byte by byte; these pin the platform's structures to the same layout,
// so a header with another packing cannot make the driver read something else.
static_assert(sizeof(SENDCMDINPARAMS) == kSmartRequestAllocSize, "SENDCMDINPARAMS is 33 bytes");
static_assert(offsetof(SENDCMDINPARAMS, cBufferSize) == 0, "cBufferSize");
static_assert(offsetof(SENDCMDINPARAMS, irDriveRegs) == 4, "irDriveRegs");
static_assert(offsetof(SENDCMDINPARAMS, irDriveRegs) + offsetof(IDEREGS, bFeaturesReg) == 4,
              "features");
static_assert(offsetof(SENDCMDINPARAMS, irDriveRegs) + offsetof(IDEREGS, bSectorCountReg) == 5,
              "sector count");
static_assert(offsetof(SENDCMDINPARAMS, irDriveRegs) + offsetof(IDEREGS, bSectorNumberReg) == 6,
              "sector number");
static_assert(offsetof(SENDCMDINPARAMS, irDriveRegs) + offsetof(IDEREGS, bCylLowReg) == 7,
              "cylinder low");
static_assert(offsetof(SENDCMDINPARAMS, irDriveRegs) + offsetof(IDEREGS, bCylHighReg) == 8,
              "cylinder high");
static_assert(offsetof(SENDCMDINPARAMS, irDriveRegs) + offsetof(IDEREGS, bDriveHeadReg) == 9,
              "drive/head");
static_assert(offsetof(SENDCMDINPARAMS, irDriveRegs) + offsetof(IDEREGS, bCommandReg) == 10,
              "command");
static_assert(offsetof(SENDCMDINPARAMS, bDriveNumber) == 12, "bDriveNumber");
static_assert(offsetof(SENDCMDINPARAMS, bReserved) == 13, "bReserved");
static_assert(offsetof(SENDCMDINPARAMS, dwReserved) == 16, "dwReserved");
static_assert(offsetof(SENDCMDINPARAMS, bBuffer) == 32, "bBuffer");
static_assert(sizeof(SENDCMDOUTPARAMS) == 17, "SENDCMDOUTPARAMS with its one-byte buffer");
static_assert(offsetof(SENDCMDOUTPARAMS, cBufferSize) == 0, "cBufferSize");
static_assert(offsetof(SENDCMDOUTPARAMS, DriverStatus) + offsetof(DRIVERSTATUS, bDriverError) ==
                  kSmartResultDriverError,
              "bDriverError");
static_assert(offsetof(SENDCMDOUTPARAMS, DriverStatus) + offsetof(DRIVERSTATUS, bIDEError) ==
                  kSmartResultIdeError,
              "bIDEError");
static_assert(offsetof(SENDCMDOUTPARAMS, bBuffer) == kSmartResultIdentifyOffset, "bBuffer");
static_assert(SMART_RCV_DRIVE_DATA == kSmartRcvDriveData, "control code");

// Committed read-write pages for one block, released when the request is over.
class PageBlock {
  public:
    explicit PageBlock(size_t size)
        : data_(static_cast<uint8_t*>(
              VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))) {}
    ~PageBlock() {
        if (data_ != nullptr) {
            VirtualFree(data_, 0, MEM_RELEASE);
        }
    }
    PageBlock(const PageBlock&) = delete;
    PageBlock& operator=(const PageBlock&) = delete;
    uint8_t* get() const { return data_; }

  private:
    uint8_t* data_;
};

}  // namespace

BOOL SmartIdentify(HANDLE drive, uint8_t driveNumber, uint8_t* dest, SmartIoControlFn ioControl) {
    PageBlock request(kSmartRequestAllocSize);
    PageBlock result(kSmartResultAllocSize);
    if (request.get() == nullptr || result.get() == nullptr) {
        return FALSE;
    }
    const auto requestBytes = BuildSmartIdentifyRequest(driveNumber);
    std::memcpy(request.get(), requestBytes.data(), requestBytes.size());
    const auto resultBytes = NewSmartIdentifyResult();
    std::memcpy(result.get(), resultBytes.data(), resultBytes.size());

    DWORD bytesReturned = 0;
    if (!ioControl(drive, SMART_RCV_DRIVE_DATA, request.get(), kSmartRequestLength, result.get(),
                   kSmartResultLength, &bytesReturned, nullptr)) {
        DebugOutNull(L"GetLastError %u, BytesReturned: %u,\nDriverStatus %u, IDE Status: %u\n",
                     GetLastError(), bytesReturned, result.get()[kSmartResultDriverError],
                     result.get()[kSmartResultIdeError]);
        return FALSE;
    }
    std::memcpy(dest, result.get() + kSmartResultIdentifyOffset, kIdentifySize);
    return TRUE;
}

bool WinAtaIdentify::Identify(int driveNumber, std::array<uint8_t, kIdentifySize>* identify) {
    const std::wstring path = PhysicalDrivePath(driveNumber);
    HANDLE drive =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (drive == INVALID_HANDLE_VALUE) {
        return false;
    }
    uint8_t answer[kIdentifySize] = {};
    const BOOL answered =
        SmartIdentify(drive, static_cast<uint8_t>(driveNumber & 0xFF), answer, ioControl_);
    CloseHandle(drive);
    if (!answered) {
        return false;
    }
    std::memcpy(identify->data(), answer, kIdentifySize);
    return true;
}

AtaIdentify& SystemAtaIdentify() {
    static WinAtaIdentify ata;
    return ata;
}

}  // namespace kx7
