// One command, one 80-byte record: the pass-through structure, four zero bytes and a 32-byte
// sense area that the driver may fill and nobody reads. The record is both the input and the
// output of the request, so the status and the transferred length are read back from it.
#include "connector/device/scsi_pass_through_win.h"

// The lean Windows header leaves out the control-code macros that ntddscsi.h builds on.
#include <winioctl.h>
#include <ntddscsi.h>

#include <cstddef>
#include <cstring>

namespace kx7 {
namespace {

struct PassThroughRecord {
    SCSI_PASS_THROUGH_DIRECT header;
    uint8_t filler[4];
    uint8_t sense[pass_through::kSenseInfoLength];
};

// The drive sees this exact layout; a header with a different packing would send garbage, so
// every offset the driver relies on is pinned to the 32-bit layout.
#if defined(__i386__)
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == pass_through::kStructLength,
              "32-bit SCSI_PASS_THROUGH_DIRECT is 44 bytes");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Length) == 0, "Length");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, ScsiStatus) == 2, "ScsiStatus");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, PathId) == 3, "PathId");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TargetId) == 4, "TargetId");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Lun) == 5, "Lun");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, CdbLength) == 6, "CdbLength");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoLength) == 7, "SenseInfoLength");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataIn) == 8, "DataIn");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength) == 12, "DataTransferLength");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue) == 16, "TimeOutValue");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 20, "DataBuffer");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == 24, "SenseInfoOffset");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 28, "Cdb");
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT::Cdb) == 16, "Cdb holds 16 bytes");
static_assert(offsetof(PassThroughRecord, sense) == pass_through::kSenseInfoOffset,
              "sense area follows the filler");
static_assert(sizeof(PassThroughRecord) == pass_through::kRequestSize, "record is 80 bytes");
#endif
static_assert(IOCTL_SCSI_PASS_THROUGH_DIRECT == pass_through::kIoctlScsiPassThroughDirect,
              "control code");

// Newer than the headers we build with: Windows 10 from version 1903 on reports the kernel's
// "no such device" status with it, where earlier versions said ERROR_FILE_NOT_FOUND.
constexpr DWORD kErrorNoSuchDevice = 433;

// The codes with which a request fails on a handle whose device has been removed. None of them
// can pass while the handle lives, so the caller stops retrying on them; everything else (not
// ready, a semaphore timeout, an I/O device error, busy) may be a drive that is only slow and
// is retried.
// - ERROR_DEV_NOT_EXIST: the storage class driver fails every request on a device object that
//   has been surprise-removed with "device does not exist", and the port driver translates a
//   target that has left the bus into the same status.
// - ERROR_DEVICE_NOT_CONNECTED: the port driver's word for a target that no longer answers
//   selection, and what Windows 7 reports for a USB device pulled out during a transfer.
// - ERROR_NO_SUCH_DEVICE, and ERROR_FILE_NOT_FOUND before Windows 10 1903: the kernel's "no
//   such device"; on a handle that is already open there is no file left to be missing.
// - ERROR_DEVICE_REMOVED and ERROR_FILE_INVALID: a removed device, and a handle whose volume
//   went with it, in the words of other layers of the stack.
bool IsDeviceGoneError(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:        // 2
        case ERROR_DEV_NOT_EXIST:         // 55
        case kErrorNoSuchDevice:          // 433
        case ERROR_FILE_INVALID:          // 1006
        case ERROR_DEVICE_NOT_CONNECTED:  // 1167
        case ERROR_DEVICE_REMOVED:        // 1617
            return true;
        default:
            return false;
    }
}

}  // namespace

WinScsiPassThrough::WinScsiPassThrough(HANDLE handle, DeviceIoControlFn ioControl)
    : handle_(handle), ioControl_(ioControl) {}

WinScsiPassThrough::~WinScsiPassThrough() {
    if (handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr) {
        CloseHandle(handle_);
    }
}

ScsiResult WinScsiPassThrough::Execute(const uint8_t* cdb, uint8_t cdbLength,
                                       DataDirection direction, uint8_t* buffer, uint32_t length,
                                       uint32_t timeoutSeconds) {
    ScsiResult result;
    // A block that does not fit the structure, or data without a buffer, would hand the driver
    // a request it cannot honour; treat it like a request that never got there.
    if (cdbLength > sizeof(SCSI_PASS_THROUGH_DIRECT::Cdb) || (cdbLength != 0 && cdb == nullptr) ||
        (length != 0 && buffer == nullptr)) {
        return result;
    }

    PassThroughRecord record;
    std::memset(&record, 0, sizeof(record));
    SCSI_PASS_THROUGH_DIRECT& h = record.header;
    h.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    h.PathId = pass_through::kPathId;
    h.TargetId = pass_through::kTargetId;
    h.Lun = pass_through::kLun;
    h.CdbLength = cdbLength;
    h.SenseInfoLength = pass_through::kSenseInfoLength;
    h.DataIn = direction == DataDirection::kIn ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT;
    h.DataTransferLength = length;
    h.TimeOutValue = timeoutSeconds;
    h.DataBuffer = length != 0 ? buffer : nullptr;
    h.SenseInfoOffset = offsetof(PassThroughRecord, sense);
    if (cdbLength != 0) {
        std::memcpy(h.Cdb, cdb, cdbLength);
    }

    DWORD bytesReturned = 0;
    const BOOL ok = ioControl_(handle_, pass_through::kIoctlScsiPassThroughDirect, &record,
                               sizeof(record), &record, sizeof(record), &bytesReturned, nullptr);
    if (!ok) {
        result.deviceGone = IsDeviceGoneError(GetLastError());
        return result;
    }
    result.completed = true;
    result.scsiStatus = h.ScsiStatus;
    result.dataTransferLength = h.DataTransferLength;
    return result;
}

std::unique_ptr<ScsiPassThrough> OpenDriveForPassThrough(const std::wstring& path) {
    HANDLE handle =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return std::make_unique<WinScsiPassThrough>(handle);
}

}  // namespace kx7
