// Discovery against simulated drives listed by a scripted interface enumeration: which paths
// become candidates, what a rejected drive leaves behind, the per-drive "Mode" and the limits
// of the table.
#include "connector/device/device_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sim/simulated_drive.h"
#include "tests/fakes/fake_clock.h"
#include "tests/fakes/fake_device_interfaces.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/latin1_code_page.h"
#include "sim/seams/sim_seams.h"

namespace kx7 {
namespace {

using sim::SimCommand;
using sim::SimIdentity;
using sim::SimulatedDrive;

constexpr uint8_t kPattern = 0xA5;
const std::wstring kCdTail = L"#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";

std::wstring CdPath(const std::wstring& serial) {
    return L"\\\\?\\usbstor#cdrom&ven_svi&prod_virtual_cd_drive&rev_1.00#" + serial + kCdTail;
}

std::wstring AgentKey(const std::wstring& id) {
    return L"SOFTWARE\\Stonevault\\KX7EntryPCAgent\\" + id + L"\\";
}

class DeviceTableTest : public ::testing::Test {
  protected:
    DeviceTableTest() {
        // Stale contents everywhere, so that every byte discovery writes (or must not) shows.
        std::memset(table_.get(), kPattern, sizeof(DeviceTable));
        std::memset(pristine_.get(), kPattern, sizeof(DeviceTable));
    }

    // A drive answering with the identifier text (up to 16 bytes, zero-padded).
    SimulatedDrive* Drive(const std::string& id, uint16_t productId = 0x1180,
                          uint8_t firmwareMajor = 2, uint8_t firmwareMinor = 1) {
        SimIdentity identity;
        identity.productId = productId;
        identity.firmwareMajor = firmwareMajor;
        identity.firmwareMinor = firmwareMinor;
        std::memcpy(identity.identifier.data(), id.data(), std::min<size_t>(id.size(), 16));
        drives_.push_back(std::make_unique<SimulatedDrive>(identity));
        return drives_.back().get();
    }
    // Listed for the class; opening it reaches the drive, or fails without one.
    void List(const InterfaceGuid& cls, const std::wstring& path, SimulatedDrive* drive) {
        bus_.Add(cls, path, [drive]() -> std::unique_ptr<ScsiPassThrough> {
            return drive == nullptr ? nullptr : std::make_unique<sim::SimDrivePort>(*drive);
        });
    }
    int Discover(const InterfaceGuid& cls = kGuidDevinterfaceCdrom) {
        DiscoveryContext context{bus_, clock_, registry_, codePage_};
        return DiscoverDrives(context, cls, table_.get());
    }
    std::wstring SlotPath(size_t slot) const { return table_->devicePath[slot]; }
    std::string SlotId(size_t slot) const {
        return reinterpret_cast<const char*>(table_->driveId[slot]);
    }
    bool Untouched() const {
        return std::memcmp(table_.get(), pristine_.get(), sizeof(DeviceTable)) == 0;
    }

    test::FakeDeviceInterfaces bus_;
    test::FakeClock clock_;
    test::FakeRegistry registry_;
    Latin1CodePage codePage_;
    std::vector<std::unique_ptr<SimulatedDrive>> drives_;
    std::unique_ptr<DeviceTable> table_ = std::make_unique<DeviceTable>();
    std::unique_ptr<DeviceTable> pristine_ = std::make_unique<DeviceTable>();
};

TEST_F(DeviceTableTest, NothingFoundLeavesTheTableAlone) {
    // A drive of another maker on the USB storage stack is not even opened.
    List(kGuidDevinterfaceCdrom,
         L"\\\\?\\usbstor#cdrom&ven_other&prod_virtual_cd_drive#1" + kCdTail, Drive("X"));
    EXPECT_EQ(Discover(), 0);
    EXPECT_TRUE(bus_.opened.empty());
    EXPECT_TRUE(Untouched());

    List(kGuidDevinterfaceCdrom, CdPath(L"2"), Drive("KX7"));
    bus_.listingFails = true;
    EXPECT_EQ(Discover(), 0);
    EXPECT_TRUE(bus_.opened.empty());
    EXPECT_TRUE(Untouched());
}

TEST_F(DeviceTableTest, PathMustNameAKx7InterfaceOfTheClass) {
    const std::wstring disk = L"\\\\?\\usbstor#disk&ven_svi&prod_stonevault_kx7&rev_1.00#7#{x}";
    const std::wstring fips = L"\\\\?\\usbstor#disk&ven_svi&prod_kx7fips&rev_1.00#8#{x}";
    struct Case {
        InterfaceGuid cls;
        std::wstring path;
        int admitted;
    } cases[] = {
        {kGuidDevinterfaceCdrom, CdPath(L"1"), 1},
        {kGuidDevinterfaceDisk, disk, 1},
        {kGuidDevinterfaceDisk, fips, 1},
        {kGuidDevinterfaceCdrom, L"\\\\?\\USBSTOR#cdrom&ven_svi&prod_virtual_cd_drive#1", 0},
        {kGuidDevinterfaceCdrom, L"\\\\?\\usbstor#cdrom&VEN_SVI&prod_virtual_cd_drive#1", 0},
        {kGuidDevinterfaceCdrom, L"\\\\?\\scsi#cdrom&ven_svi&prod_virtual_cd_drive#1", 0},
        {kGuidDevinterfaceCdrom, L"ven_svi&prod_virtual_cd_drive#usbstor#1", 0},
        {kGuidDevinterfaceDisk, L"\\\\?\\usbstor#disk&ven_svi&prod_other#1", 0},
        {kGuidDevinterfaceDisk, L"\\\\?\\usbstor#disk&ven_abc&prod_kx7fips#1", 0},
        // The product component counts only in lower case and only past the path's start;
        // one character in is enough.
        {kGuidDevinterfaceCdrom, L"\\\\?\\usbstor#cdrom&ven_svi&PROD_VIRTUAL_CD_DRIVE#1", 0},
        {kGuidDevinterfaceDisk, L"\\\\?\\usbstor#disk&ven_svi&PROD_STONEVAULT_KX7#1", 0},
        {kGuidDevinterfaceDisk, L"\\\\?\\usbstor#disk&ven_svi&PROD_KX7FIPS#1", 0},
        {kGuidDevinterfaceCdrom, L"prod_virtual_cd_drive&ven_svi#usbstor#1", 0},
        {kGuidDevinterfaceDisk, L"prod_stonevault_kx7&ven_svi#usbstor#1", 0},
        {kGuidDevinterfaceDisk, L"prod_kx7fips&ven_svi#usbstor#1", 0},
        {kGuidDevinterfaceCdrom, L"&prod_virtual_cd_drive&ven_svi#usbstor#1", 1},
        {kGuidDevinterfaceDisk, L"&prod_stonevault_kx7&ven_svi#usbstor#1", 1},
        {kGuidDevinterfaceDisk, L"&prod_kx7fips&ven_svi#usbstor#1", 1},
        {kGuidDevinterfaceDisk, CdPath(L"1"), 0},
        {kGuidDevinterfaceCdrom, disk, 0},
        {kGuidDevinterfaceUsbDevice, CdPath(L"1"), 0},
    };
    // Only a CD-ROM interface has its "Mode" read; a disk keeps 0 whatever its key holds.
    registry_.SetDwordValue(RegRoot::kCurrentUser, AgentKey(L"KX7"), L"Mode", 0x1F);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path.begin(), c.path.end()));
        bus_.Clear();
        List(c.cls, c.path, Drive("KX7"));
        EXPECT_EQ(Discover(c.cls), c.admitted);
        EXPECT_EQ(bus_.opened.size(), static_cast<size_t>(c.admitted));
        if (c.admitted == 1) {
            EXPECT_EQ(SlotPath(0), c.path);
            const bool disk = c.cls == kGuidDevinterfaceDisk;
            EXPECT_EQ(table_->interfaceKind[0], disk ? kInterfaceKindDisk : kInterfaceKindCdrom);
            EXPECT_EQ(table_->mode[0], disk ? 0 : 0x1F);
        }
    }
}

TEST_F(DeviceTableTest, RejectedDriveLeavesOnlyItsFirmwareInTheSlot) {
    List(kGuidDevinterfaceCdrom, CdPath(L"1"), Drive("WRONGPRODUCT", 0x1182, 9, 7));
    EXPECT_EQ(Discover(), 0);
    EXPECT_EQ(table_->firmwareMajor[0], 9);
    EXPECT_EQ(table_->firmwareMinor[0], 7);
    // Everything else, the identifier included, is as it was.
    table_->firmwareMajor[0] = kPattern;
    table_->firmwareMinor[0] = kPattern;
    EXPECT_TRUE(Untouched());

    // The next candidate takes the same slot and overwrites the firmware bytes.
    List(kGuidDevinterfaceCdrom, CdPath(L"2"), Drive("GOOD", 0x1181, 3, 4));
    EXPECT_EQ(Discover(), 1);
    EXPECT_EQ(SlotPath(0), CdPath(L"2"));
    EXPECT_EQ(SlotId(0).substr(0, 4), "GOOD");
    EXPECT_EQ(table_->firmwareMajor[0], 3);
    EXPECT_EQ(table_->firmwareMinor[0], 4);
}

TEST_F(DeviceTableTest, EachDriveGetsTheModeOfItsOwnKey) {
    registry_.SetDwordValue(RegRoot::kCurrentUser, AgentKey(L"DRIVE-A"), L"Mode", 0x15);
    registry_.SetDwordValue(RegRoot::kCurrentUser, AgentKey(L"DRIVE-B"), L"Mode", 0x03);
    registry_.AddKey(RegRoot::kCurrentUser, AgentKey(L"NO-VALUE"));
    registry_.SetString(RegRoot::kCurrentUser, AgentKey(L"STRING"), L"Mode", L"21");
    registry_.SetDwordValue(RegRoot::kCurrentUser, AgentKey(L"TOP-BIT"), L"Mode", 0x80000001u);
    const char* ids[] = {"DRIVE-A", "DRIVE-B", "NO-VALUE", "STRING", "TOP-BIT", "NO-KEY"};
    const int32_t modes[] = {0x15, 0x03, 0, 0, 0, 0};
    for (size_t i = 0; i < 6; ++i) {
        List(kGuidDevinterfaceCdrom, CdPath(std::to_wstring(i)), Drive(ids[i]));
    }
    ASSERT_EQ(Discover(), 6);
    for (size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(ids[i]);
        EXPECT_EQ(SlotPath(i), CdPath(std::to_wstring(i)));
        EXPECT_EQ(SlotId(i).substr(0, std::strlen(ids[i])), ids[i]);
        EXPECT_EQ(table_->interfaceKind[i], kInterfaceKindCdrom);
        EXPECT_EQ(table_->mode[i], modes[i]);
    }
    EXPECT_EQ(registry_.opens().size(), 6u);
    EXPECT_EQ(registry_.openHandles(), 0u);
}

TEST_F(DeviceTableTest, KeyNameEndsAtTheIdentifiersFirstZeroOrAfterSixteenBytes) {
    List(kGuidDevinterfaceCdrom, CdPath(L"1"), Drive("ABCDEFGHIJKLMNOP"));
    List(kGuidDevinterfaceCdrom, CdPath(L"2"), Drive(std::string("ABCDEFGHIJ\0LMNOP", 16)));
    ASSERT_EQ(Discover(), 2);
    ASSERT_EQ(registry_.opens().size(), 2u);
    // Byte 16 still holds the stale pattern: the name must not run into it.
    EXPECT_EQ(table_->driveId[0][16], kPattern);
    EXPECT_EQ(registry_.opens()[0].path, AgentKey(L"ABCDEFGHIJKLMNOP"));
    EXPECT_EQ(registry_.opens()[0].access, kKeyReadWrite);
    EXPECT_EQ(registry_.opens()[1].path, AgentKey(L"ABCDEFGHIJ"));
    EXPECT_EQ(table_->driveId[1][11], 'L');  // all 16 bytes are kept, the zero included
}

TEST_F(DeviceTableTest, DrivesThatDoNotAnswerAreSkippedSilently) {
    SimulatedDrive* unopenable = Drive("UNOPENABLE");
    SimulatedDrive* identityRefused = Drive("REFUSED");
    identityRefused->SetCheckCondition(SimCommand::kReadIdentity, true);
    SimulatedDrive* unreachable = Drive("UNREACHABLE");
    unreachable->FailNextCalls(600);
    SimulatedDrive* inquiryRefused = Drive("NOINQUIRY");
    inquiryRefused->SetCheckCondition(SimCommand::kInquiry, true);
    List(kGuidDevinterfaceCdrom, CdPath(L"1"), nullptr);  // does not open
    List(kGuidDevinterfaceCdrom, CdPath(L"2"), identityRefused);
    List(kGuidDevinterfaceCdrom, CdPath(L"3"), unreachable);
    List(kGuidDevinterfaceCdrom, CdPath(L"4"), inquiryRefused);
    List(kGuidDevinterfaceCdrom, CdPath(L"5"), Drive("GOOD"));

    ASSERT_EQ(Discover(), 1);
    EXPECT_EQ(SlotPath(0), CdPath(L"5"));
    EXPECT_EQ(SlotId(0).substr(0, 4), "GOOD");
    EXPECT_EQ(unopenable->totalCalls(), 0u);
    EXPECT_EQ(identityRefused->CountOf(SimCommand::kInquiry), 0u);
    EXPECT_EQ(inquiryRefused->CountOf(SimCommand::kInquiry), 1u);
    // The unreachable drive held discovery for its whole retry minute.
    EXPECT_EQ(clock_.TotalSleptMs(), 600u * 100u);
    EXPECT_EQ(registry_.opens().size(), 1u);
}

TEST_F(DeviceTableTest, TwentyFirstDriveAndOverlongPathAreLeftOut) {
    // A path of 260 characters cannot be stored with its terminator; one of 259 can.
    std::wstring tooLong = CdPath(L"LONG");
    tooLong.insert(tooLong.size() - kCdTail.size(), kDevicePathChars - tooLong.size(), L'x');
    ASSERT_EQ(tooLong.size(), kDevicePathChars);
    const std::wstring longest = tooLong.substr(0, kDevicePathChars - 1);
    List(kGuidDevinterfaceCdrom, tooLong, Drive("LONG"));
    List(kGuidDevinterfaceCdrom, longest, Drive("LONGEST"));
    for (int i = 1; i <= 20; ++i) {
        List(kGuidDevinterfaceCdrom, CdPath(std::to_wstring(i)), Drive("D" + std::to_string(i)));
    }

    ASSERT_EQ(Discover(), 20);
    ASSERT_EQ(bus_.opened.size(), 20u);
    EXPECT_EQ(bus_.opened.front(), longest);  // the overlong one was never opened
    EXPECT_EQ(SlotPath(0), longest);
    for (size_t slot = 1; slot < kDeviceTableSlots; ++slot) {
        EXPECT_EQ(SlotPath(slot), CdPath(std::to_wstring(slot)));
        EXPECT_EQ(SlotId(slot).substr(0, 1), "D");
        EXPECT_EQ(table_->interfaceKind[slot], kInterfaceKindCdrom);
    }
    // The twenty-first KX7 found no slot and was not even asked who it is.
    EXPECT_EQ(drives_.back()->totalCalls(), 0u);
    EXPECT_EQ(registry_.opens().size(), 20u);

    sim::SimDrivePort port(*drives_[0]);
    EXPECT_FALSE(ReadDriveInfo(port, clock_, table_.get(), kDeviceTableSlots));
    EXPECT_EQ(drives_[0]->totalCalls(), 0u);
}

}  // namespace
}  // namespace kx7
