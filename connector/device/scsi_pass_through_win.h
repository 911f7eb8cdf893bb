// The Win32 backend of the pass-through seam: each command goes to the opened drive as one
// SCSI_PASS_THROUGH_DIRECT request with its sense area behind it. Only the Win32 build sees
// this header.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "connector/device/scsi_pass_through.h"

namespace kx7 {

// The shape of DeviceIoControl, so tests can stand in for the storage stack.
using DeviceIoControlFn = BOOL(WINAPI*)(HANDLE device, DWORD controlCode, LPVOID inBuffer,
                                        DWORD inSize, LPVOID outBuffer, DWORD outSize,
                                        LPDWORD bytesReturned, LPOVERLAPPED overlapped);

class WinScsiPassThrough : public ScsiPassThrough {
  public:
    // Takes ownership of handle and closes it on destruction (INVALID_HANDLE_VALUE and null
    // are left alone, which lets tests run without a real device).
    explicit WinScsiPassThrough(HANDLE handle, DeviceIoControlFn ioControl = ::DeviceIoControl);
    ~WinScsiPassThrough() override;
    WinScsiPassThrough(const WinScsiPassThrough&) = delete;
    WinScsiPassThrough& operator=(const WinScsiPassThrough&) = delete;

    ScsiResult Execute(const uint8_t* cdb, uint8_t cdbLength, DataDirection direction,
                       uint8_t* buffer, uint32_t length, uint32_t timeoutSeconds) override;

  private:
    HANDLE handle_;
    DeviceIoControlFn ioControl_;
};

// Opens a drive by its device-interface path for read and write, shared for read and write.
// Null when the open fails: such a drive is skipped without sending anything.
std::unique_ptr<ScsiPassThrough> OpenDriveForPassThrough(const std::wstring& path);

}  // namespace kx7
