// Device interface and setup class identifiers as plain bytes, so that the portable code can
// name the classes it enumerates and listens to without the platform headers.
#pragma once

#include <cstdint>

namespace kx7 {

struct InterfaceGuid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};

constexpr bool operator==(const InterfaceGuid& a, const InterfaceGuid& b) {
    if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) {
        return false;
    }
    for (int i = 0; i < 8; ++i) {
        if (a.data4[i] != b.data4[i]) {
            return false;
        }
    }
    return true;
}
constexpr bool operator!=(const InterfaceGuid& a, const InterfaceGuid& b) {
    return !(a == b);
}

// {53F56307-B6BF-11D0-94F2-00A0C91EFB8B}: where an unlocked drive shows its disk.
constexpr InterfaceGuid kGuidDevinterfaceDisk = {
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
// {53F56308-B6BF-11D0-94F2-00A0C91EFB8B}: where a locked drive shows its virtual CD-ROM.
constexpr InterfaceGuid kGuidDevinterfaceCdrom = {
    0x53F56308, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
// {A5DCBF10-6530-11D2-901F-00C04FB951ED}: USB device nodes.
constexpr InterfaceGuid kGuidDevinterfaceUsbDevice = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

// Device setup classes (not interface classes): where the system files the devices a drive shows,
// and so which class node of the device tree they go under.
// {36FC9E60-C465-11CF-8056-444553540000}: USB controllers and devices.
constexpr InterfaceGuid kGuidDevclassUsb = {
    0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
// {4D36E967-E325-11CE-BFC1-08002BE10318}: disk drives.
constexpr InterfaceGuid kGuidDevclassDiskDrive = {
    0x4D36E967, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
// {4D36E965-E325-11CE-BFC1-08002BE10318}: CD-ROM drives.
constexpr InterfaceGuid kGuidDevclassCdrom = {
    0x4D36E965, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

}  // namespace kx7
