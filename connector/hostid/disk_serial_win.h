// The Win32 backend of the IDENTIFY seam: the physical drive opened by its device path and the
// command sent through the SMART request of the disk driver. Only the Win32 build sees this
// header.
#pragma once

#include <windows.h>

#include <cstdint>

#include "connector/hostid/disk_serial.h"

namespace kx7 {

// The shape of DeviceIoControl, so tests can stand in for the disk driver.
using SmartIoControlFn = BOOL(WINAPI*)(HANDLE device, DWORD controlCode, LPVOID inBuffer,
                                       DWORD inSize, LPVOID outBuffer, DWORD outSize,
                                       LPDWORD bytesReturned, LPOVERLAPPED overlapped);

// Sends IDENTIFY DEVICE to the open drive. TRUE when the driver answered; the 512 bytes of
// the answer are then in dest. FALSE leaves dest as it was.
BOOL SmartIdentify(HANDLE drive, uint8_t driveNumber, uint8_t* dest,
                   SmartIoControlFn ioControl = ::DeviceIoControl);

class WinAtaIdentify final : public AtaIdentify {
  public:
    explicit WinAtaIdentify(SmartIoControlFn ioControl = ::DeviceIoControl)
        : ioControl_(ioControl) {}
    // Opens "\\.\PhysicalDriveN" for read and write, shared for read and write, sends the
    // request and closes the drive again.
    bool Identify(int driveNumber, std::array<uint8_t, kIdentifySize>* identify) override;

  private:
    SmartIoControlFn ioControl_;
};

}  // namespace kx7
