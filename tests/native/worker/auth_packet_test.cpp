#include "connector/engine/worker/auth_packet.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/fakes/latin1_code_page.h"
#include "tests/fakes/worker_harness.h"

namespace kx7 {
namespace {

// A MAC text whose characters add up to exactly 1000.
std::wstring TextSummingTo(int total) {
    std::wstring text;
    while (total >= 100) {
        text.push_back(L'd');  // 100
        total -= 100;
    }
    if (total > 0) {
        text.push_back(static_cast<wchar_t>(total));
    }
    return text;
}

HostFingerprint Fingerprint() {
    HostFingerprint fp = test::MatchingFingerprint();
    fp.m_stCollected.wYear = 2024;
    fp.m_stCollected.wMonth = 3;
    fp.m_stCollected.wDay = 7;
    return fp;
}

uint16_t Le16(const AuthPacket& p, size_t at) {
    return static_cast<uint16_t>(p[at] | (p[at + 1] << 8));
}

TEST(ItemChecksum, LowByteOfEachUnitCountsAsSignedByte) {
    EXPECT_EQ(ItemChecksum(L""), 0);
    EXPECT_EQ(ItemChecksum(L"AB"), 0x41 + 0x42);
    // U+00FF and U+01FF both have the low byte 0xFF, which counts as -1.
    EXPECT_EQ(ItemChecksum(std::wstring(L"A\u00ff\u01ff")), 0x41 - 2);
    EXPECT_EQ(ItemChecksum(std::wstring(1, L'\u0080')), 0xFF80);
}

TEST(AuthenticationPacket, LayoutForEveryItemBound) {
    Latin1CodePage cp;
    const HostFingerprint fp = Fingerprint();
    const AuthPacket p = BuildAuthenticationPacket(cp, fp, 0x1F);
    const uint16_t checks[5] = {ItemChecksum(fp.m_strMacId), ItemChecksum(fp.m_strDiskSerial),
                                ItemChecksum(fp.m_strComputerName), ItemChecksum(fp.m_strOsKey),
                                ItemChecksum(fp.m_strCpuId)};
    uint16_t sum = 0;
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(Le16(p, 96 + 2 * i), checks[i]) << "item " << i;
        sum = static_cast<uint16_t>(sum + checks[i]);
    }
    EXPECT_EQ(Le16(p, 106), static_cast<uint16_t>(~sum));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&p[32])), "OFFICE-PC");
    const uint8_t date[4] = {0x07, 0x03, 0xE8, 0x07};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(p[112 + i], date[i]);
    }
    for (size_t i = 0; i < p.size(); ++i) {
        const bool used = (i >= 32 && i < 41) || (i >= 96 && i < 108) || (i >= 112 && i < 116);
        if (!used) {
            EXPECT_EQ(p[i], 0) << "byte " << i;
        }
    }
}

TEST(AuthenticationPacket, SelectedItemsPackWithoutGapsAndUnknownBitsAreIgnored) {
    Latin1CodePage cp;
    HostFingerprint fp = Fingerprint();
    AuthPacket p = BuildAuthenticationPacket(cp, fp, 32);
    for (size_t i = 96; i < 106; ++i) {
        EXPECT_EQ(p[i], 0);
    }
    EXPECT_EQ(p[106], 0xFF);
    EXPECT_EQ(p[107], 0xFF);

    fp.m_strMacId = TextSummingTo(1000);
    ASSERT_EQ(ItemChecksum(fp.m_strMacId), 1000);
    p = BuildAuthenticationPacket(cp, fp, 1);
    EXPECT_EQ(p[96], 0xE8);
    EXPECT_EQ(p[97], 0x03);
    EXPECT_EQ(p[106], 0x17);
    EXPECT_EQ(p[107], 0xFC);

    // Disk serial and CPU id only: the CPU check takes the second slot.
    p = BuildAuthenticationPacket(cp, fp, kBindDiskSerial | kBindCpuId | 0x40);
    EXPECT_EQ(Le16(p, 96), ItemChecksum(fp.m_strDiskSerial));
    EXPECT_EQ(Le16(p, 98), ItemChecksum(fp.m_strCpuId));
    EXPECT_EQ(Le16(p, 100), 0);
}

TEST(AuthenticationPacket, ComputerNameIsCutTo31BytesWithByte63Zero) {
    Latin1CodePage cp;
    HostFingerprint fp = Fingerprint();
    fp.m_strComputerName = std::wstring(40, L'N');
    const AuthPacket p = BuildAuthenticationPacket(cp, fp, 4);
    for (size_t i = 32; i < 63; ++i) {
        EXPECT_EQ(p[i], 'N');
    }
    EXPECT_EQ(p[63], 0);
    EXPECT_EQ(p[64], 0);

    uint8_t small[4] = {1, 1, 1, 1};
    EXPECT_EQ(HostNameToAnsi(cp, L"PC\u00e9\u4e00", small, sizeof(small)), 3u);
    EXPECT_EQ(small[2], 0xE9);
    EXPECT_EQ(small[3], 0);
}

TEST(DeviceSerialFromPath, TakesTheInstanceSegment) {
    EXPECT_EQ(DeviceSerialFromPath(L"\\\\?\\usbstor#cdrom&ven_svi&prod_virtual_cd_drive&rev_2.00#"
                                   L"0123456789ab&0#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}"),
              L"0123456789AB");
    EXPECT_EQ(DeviceSerialFromPath(L"\\\\?\\usbstor#x#&serial#{c}"), L"&SERIAL")
        << "an \"&\" at the start is kept";
    EXPECT_EQ(DeviceSerialFromPath(L"\\\\?\\usbstor#abc#{c}"), L"ABC");
    // Paths without the usual shape give no serial instead of a piece of something else.
    EXPECT_EQ(DeviceSerialFromPath(L"\\\\?\\usbstor#serial"), L"");
    EXPECT_EQ(DeviceSerialFromPath(L"\\\\?\\usbstor"), L"");
    EXPECT_EQ(DeviceSerialFromPath(L"##"), L"");
}

TEST(IdentityMismatchText, ReportsOnlyTheFirstBoundDifference) {
    RegisteredPcRecord record;
    record.m_nNicIndex = -2;
    record.m_strNicDescription = L"Intel(R) Ethernet";
    record.m_strMacId = L"00-1B-21-3C-4D-5F";
    HostFingerprint fp = Fingerprint();
    record.m_strDiskSerial = L"OTHER";
    record.m_strComputerName = fp.m_strComputerName;
    record.m_strOsKey = fp.m_strOsKey;
    record.m_strCpuId = L"906EA";

    EXPECT_EQ(IdentityMismatchText(record, fp, kBindMacAddress),
              L"Error ! System environment has changed.\r\n\r\nNic #-2 Name : Intel(R) "
              L"Ethernet\r\nEntry   MAC ID : 00-1B-21-3C-4D-5F\r\nCurrent MAC ID : "
              L"00-1B-21-3C-4D-5E\r\n");
    EXPECT_EQ(IdentityMismatchText(record, fp, kBindDiskSerial | kBindCpuId),
              L"Error ! System environment has changed.\r\n\r\nDisk Serial : Entry( OTHER ), "
              L"Current( WD-WCC4N1234567 )");
    EXPECT_EQ(IdentityMismatchText(record, fp, kBindCpuId | kBindComputerName),
              L"Error ! System environment has changed.\r\n\r\nCPU ID : Entry( 906EA ), "
              L"Current( 306C3 )");
    EXPECT_EQ(IdentityMismatchText(record, fp, kBindComputerName | kBindOsKey | 32), L"");
    record.m_strOsKey = L"bcdfg-hjkmp-qrtvw-xy234-6789b";
    EXPECT_EQ(IdentityMismatchText(record, fp, kBindOsKey),
              L"Error ! System environment has changed.\r\n\r\nOS Key : Entry( "
              L"bcdfg-hjkmp-qrtvw-xy234-6789b ), Current( BCDFG-HJKMP-QRTVW-XY234-6789B )");
}

TEST(RefusalText, KnownCodesOtherCodesAndSystemErrors) {
    EXPECT_EQ(RefusalText(true, {27, 0x41, 0, 0}),
              L"The HostPair mode is disable. After changing the KX7 setup, use.");
    EXPECT_EQ(RefusalText(true, {28, 0x41, 0, 0}), L"Empty Host PC ID !");
    EXPECT_EQ(RefusalText(true, {29, 0x41, 0, 0}), L"Can't find PC ID !");
    EXPECT_EQ(RefusalText(true, {30, 0x41, 0, 0}), L"The system authentication has expired !");
    EXPECT_EQ(RefusalText(true, {200, 0x41, 0, 0}),
              L"KX7 Invalid Error code !, Cmd = 41, Err Code = 200");
    EXPECT_EQ(RefusalText(true, {29, 0x3A, 0, 0}), L"KX7 System Error !, Cmd = 3A, Err Code = 29");
    EXPECT_EQ(RefusalText(false, {0, 0, 0, 0}), L"KX7 System Error !, Cmd = 0, Err Code = 0");
}

}  // namespace
}  // namespace kx7
