#include "sim/simulated_bus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "connector/device/device_table.h"
#include "connector/device/vendor_commands.h"
#include "tests/fakes/fake_clock.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/latin1_code_page.h"
#include "sim/seams/sim_seams.h"
#include "tests/native/sim/sim_test_support.h"

namespace kx7::sim {
namespace {

using namespace test_support;

constexpr uint32_t kToday = PackSimDate(2024, 3, 7);

class SimulatedBusTest : public ::testing::Test {
  protected:
    void SetUp() override {
        bus_.SetDate(kToday);
        bus_.SetEventListener([this](const SimDeviceEvent& event) {
            std::lock_guard<std::mutex> lock(mutex_);
            events_.push_back(event);
        });
    }
    std::vector<SimDeviceEvent> TakeEvents() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<SimDeviceEvent> taken;
        taken.swap(events_);
        return taken;
    }
    std::vector<std::wstring> List(const InterfaceGuid& interfaceClass) {
        std::vector<std::wstring> paths{L"stale"};
        EXPECT_TRUE(bus_.ListPresent(interfaceClass, &paths));
        return paths;
    }
    // Unlocks through the judge, for tests about what follows an unlock.
    void Unlock(SimulatedDrive& drive) {
        drive.SetAuthPacketJudge([](const uint8_t*, size_t) -> uint8_t { return 0; });
        auto handle = interfaces_.Open(drive.interfaceNames().cdromPath);
        ASSERT_NE(handle, nullptr);
        const Packet packet{};
        ASSERT_TRUE(WriteAuthPacket(*handle, clock_, packet.data(), kSimAuthPacketLength));
    }
    static bool Completes(ScsiPassThrough& port) {
        const CommandBlock block = BuildVendorReadBlock(kSubReadIdentity, kIdentityLength);
        std::array<uint8_t, kIdentityLength> reply{};
        return port
            .Execute(block.data(), kVendorCdbLength, DataDirection::kIn, reply.data(),
                     kIdentityLength, 10)
            .completed;
    }

    SimulatedBus bus_;
    // The connector's view of the bus, through which the commands below reach the drives.
    sim::SimBusInterfaces interfaces_{bus_};
    test::FakeClock clock_;
    std::mutex mutex_;
    std::vector<SimDeviceEvent> events_;
};

TEST_F(SimulatedBusTest, AcceptedPacketUnlocksTheDrive) {
    const SimIdentity identity = SampleIdentity();
    SimulatedDrive& drive = bus_.AddDrive(identity);
    drive.AddHost(SampleHost(0x15, kToday));
    EXPECT_TRUE(List(kGuidDevinterfaceCdrom).empty());
    ASSERT_TRUE(bus_.Plug(drive));

    const std::vector<std::wstring> cdroms = List(kGuidDevinterfaceCdrom);
    ASSERT_EQ(cdroms.size(), 1u);
    EXPECT_EQ(cdroms[0],
              L"\\\\?\\usbstor#cdrom&ven_svi&prod_virtual_cd_drive&rev_3.07#5a17bc91&0#"
              L"{53f56308-b6bf-11d0-94f2-00a0c91efb8b}");
    EXPECT_EQ(SerialOfPath(cdroms[0]), L"5A17BC91");
    EXPECT_TRUE(List(kGuidDevinterfaceDisk).empty());
    EXPECT_TRUE(List(kGuidDevinterfaceUsbDevice).empty());

    auto cdrom = interfaces_.Open(cdroms[0]);
    ASSERT_NE(cdrom, nullptr);
    std::array<uint8_t, kInquiryLength> inquiry{};
    ASSERT_TRUE(Inquiry(*cdrom, clock_, &inquiry));
    EXPECT_EQ(inquiry[0], 0x05);
    const auto cipher = Encrypt(HostPacket("OFFICE-PC\xe9", 0x15, kToday), identity);
    ASSERT_TRUE(WriteAuthPacket(*cdrom, clock_, cipher.data(), kSimAuthPacketLength));
    EXPECT_TRUE(drive.unlocked());

    const std::vector<SimDeviceEvent> events = TakeEvents();
    ASSERT_EQ(events.size(), 4u);
    const std::pair<SimEventKind, InterfaceGuid> expected[] = {
        {SimEventKind::kArrival, kGuidDevinterfaceUsbDevice},
        {SimEventKind::kArrival, kGuidDevinterfaceCdrom},
        {SimEventKind::kRemoval, kGuidDevinterfaceCdrom},
        {SimEventKind::kArrival, kGuidDevinterfaceDisk}};
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].kind, expected[i].first) << i;
        EXPECT_TRUE(events[i].interfaceClass == expected[i].second) << i;
    }
    EXPECT_EQ(InstanceIdOf(events[0].name), L"USB\\VID_6B2F&PID_1181\\5A17BC91");
    EXPECT_EQ(InstanceIdOf(events[3].name)
                  .rfind(L"USBSTOR\\DISK&VEN_SVI&PROD_KX7FIPS&REV_3.07\\5A17BC91", 0),
              0u);
    EXPECT_EQ(events[1].name, events[2].name);

    // The CD-ROM is gone, handle and all; the disk has taken its place.
    EXPECT_TRUE(List(kGuidDevinterfaceCdrom).empty());
    EXPECT_FALSE(Completes(*cdrom));
    EXPECT_EQ(interfaces_.Open(cdroms[0]), nullptr);
    const std::vector<std::wstring> disks = List(kGuidDevinterfaceDisk);
    ASSERT_EQ(disks.size(), 1u);
    EXPECT_EQ(disks[0].rfind(L"\\\\?\\usbstor#disk&ven_svi&prod_kx7fips&rev_3.07#", 0), 0u);
    EXPECT_EQ(SerialOfPath(disks[0]), L"5A17BC91");
    auto disk = interfaces_.Open(disks[0]);
    ASSERT_NE(disk, nullptr);
    ASSERT_TRUE(Inquiry(*disk, clock_, &inquiry));
    EXPECT_EQ(inquiry[0], 0x00);
}

// Unlocked, each product presents its disk under its own name, so that the connector's two disk
// patterns both have something to match; a device of another product matches neither.
TEST_F(SimulatedBusTest, UnlockedDiskIsNamedAfterTheProduct) {
    struct Product {
        uint16_t productId;
        char serialTail;
        const wchar_t* diskName;
        const char* inquiryProduct;
    } products[] = {
        {0x1180, '1',
         L"\\\\?\\USBSTOR#Disk&Ven_SVI&Prod_STONEVAULT_KX7&Rev_3.07#5A17BC91&0#"
         L"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
         "STONEVAULT KX7  "},
        {0x1181, '2',
         L"\\\\?\\USBSTOR#Disk&Ven_SVI&Prod_KX7FIPS&Rev_3.07#5A17BC92&0#"
         L"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
         "KX7FIPS         "},
        {0x1182, '3',
         L"\\\\?\\USBSTOR#Disk&Ven_SVI&Prod_Flash_Disk&Rev_3.07#5A17BC93&0#"
         L"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
         "Flash Disk      "},
    };
    for (const Product& product : products) {
        SimIdentity identity = SampleIdentity(product.serialTail);
        identity.productId = product.productId;
        SimulatedDrive& drive = bus_.AddDrive(identity);
        ASSERT_TRUE(bus_.Plug(drive));
        Unlock(drive);
        EXPECT_EQ(drive.interfaceNames().diskName, product.diskName);
        auto disk = interfaces_.Open(drive.interfaceNames().diskPath);
        ASSERT_NE(disk, nullptr);
        std::array<uint8_t, kInquiryLength> inquiry{};
        ASSERT_TRUE(Inquiry(*disk, clock_, &inquiry));
        EXPECT_EQ(std::string(inquiry.begin() + 16, inquiry.begin() + 32), product.inquiryProduct);
    }
    std::vector<std::wstring> arrivedDisks;
    for (const SimDeviceEvent& event : TakeEvents()) {
        if (event.kind == SimEventKind::kArrival && event.interfaceClass == kGuidDevinterfaceDisk) {
            arrivedDisks.push_back(InstanceIdOf(event.name));
        }
    }
    ASSERT_EQ(arrivedDisks.size(), 3u);
    EXPECT_EQ(arrivedDisks[0].rfind(L"USBSTOR\\DISK&VEN_SVI&PROD_STONEVAULT_KX7&REV_", 0), 0u);
    EXPECT_EQ(arrivedDisks[1].rfind(L"USBSTOR\\DISK&VEN_SVI&PROD_KX7FIPS&REV_", 0), 0u);
    EXPECT_EQ(arrivedDisks[2].rfind(L"USBSTOR\\DISK&VEN_SVI&PROD_FLASH_DISK&REV_", 0), 0u);

    // Discovery on the disk class takes the two KX7 disks and leaves the other one out.
    test::FakeRegistry registry;
    Latin1CodePage codePage;
    DiscoveryContext context{interfaces_, clock_, registry, codePage};
    auto table = std::make_unique<DeviceTable>();
    ASSERT_EQ(DiscoverDrives(context, kGuidDevinterfaceDisk, table.get()), 2);
    EXPECT_EQ(std::wstring(table->devicePath[0]).find(L"prod_stonevault_kx7&"), 25u);
    EXPECT_EQ(std::wstring(table->devicePath[1]).find(L"prod_kx7fips&"), 25u);
    EXPECT_EQ(table->interfaceKind[0], kInterfaceKindDisk);
    EXPECT_EQ(table->interfaceKind[1], kInterfaceKindDisk);
}

TEST_F(SimulatedBusTest, UnplugRelocksAndRetiresHandles) {
    SimulatedDrive& a = bus_.AddDrive(SampleIdentity('1'));
    SimulatedDrive& b = bus_.AddDrive(SampleIdentity('2'));
    ASSERT_TRUE(bus_.Plug(a));
    ASSERT_TRUE(bus_.Plug(b));
    EXPECT_FALSE(bus_.Plug(a));
    Unlock(a);
    const SimInterfaceNames namesA = a.interfaceNames();
    auto disk = interfaces_.Open(namesA.diskPath);
    ASSERT_NE(disk, nullptr);
    TakeEvents();

    ASSERT_TRUE(bus_.Unplug(a));
    EXPECT_FALSE(bus_.Unplug(a));
    EXPECT_FALSE(bus_.Replug(a));
    std::vector<std::wstring> gone;
    for (const SimDeviceEvent& event : TakeEvents()) {
        EXPECT_EQ(event.kind, SimEventKind::kRemoval);
        gone.push_back(event.name);
    }
    EXPECT_EQ(gone, (std::vector<std::wstring>{namesA.diskName, namesA.usbNodeName}));
    EXPECT_FALSE(a.unlocked());
    EXPECT_FALSE(Completes(*disk));
    sim::SimDrivePort directToA(a);
    EXPECT_FALSE(Completes(directToA));
    EXPECT_EQ(interfaces_.Open(namesA.diskPath), nullptr);
    EXPECT_TRUE(List(kGuidDevinterfaceDisk).empty());

    // Back in, locked and at the end of the plug order; the old handle stays dead.
    ASSERT_TRUE(bus_.Plug(a));
    EXPECT_EQ(List(kGuidDevinterfaceCdrom),
              (std::vector<std::wstring>{b.interfaceNames().cdromPath, namesA.cdromPath}));
    EXPECT_FALSE(Completes(*disk));
    ASSERT_TRUE(bus_.Replug(b));
    EXPECT_EQ(List(kGuidDevinterfaceCdrom),
              (std::vector<std::wstring>{namesA.cdromPath, b.interfaceNames().cdromPath}));
    // Paths open whatever their case; a drive of another bus is not ours to plug.
    EXPECT_NE(interfaces_.Open(a.interfaceNames().cdromName), nullptr);
    SimulatedBus other;
    EXPECT_FALSE(other.Plug(a));

    bus_.SetListingFails(true);
    std::vector<std::wstring> paths{L"stale"};
    EXPECT_FALSE(bus_.ListPresent(kGuidDevinterfaceCdrom, &paths));
    EXPECT_TRUE(paths.empty());
}

TEST_F(SimulatedBusTest, ListenerMayCallBackIntoTheBus) {
    SimulatedDrive& a = bus_.AddDrive(SampleIdentity('1'));
    SimulatedDrive& b = bus_.AddDrive(SampleIdentity('2'));
    std::vector<std::wstring> names;
    int depth = 0;
    int deepest = 0;
    bus_.SetEventListener([&](const SimDeviceEvent& event) {
        deepest = std::max(deepest, ++depth);
        names.push_back(event.name);
        if (event.name == a.interfaceNames().usbNodeName) {
            bus_.Plug(b);
        }
        --depth;
    });
    ASSERT_TRUE(bus_.Plug(a));
    // The nested plug's events wait for the ones already queued, and the listener is never
    // entered from inside itself.
    EXPECT_EQ(deepest, 1);
    EXPECT_EQ(names, (std::vector<std::wstring>{
                         a.interfaceNames().usbNodeName, a.interfaceNames().cdromName,
                         b.interfaceNames().usbNodeName, b.interfaceNames().cdromName}));
}

TEST_F(SimulatedBusTest, HookRunsBeforeEachCommand) {
    SimulatedDrive& a = bus_.AddDrive(SampleIdentity('1'));
    SimulatedDrive& b = bus_.AddDrive(SampleIdentity('2'));
    ASSERT_TRUE(bus_.Plug(a));
    std::vector<SimCommand> seen;
    a.SetCommandHook([&](SimCommand command) {
        seen.push_back(command);
        if (command == SimCommand::kReadDeviceStatus) {
            bus_.Plug(b);  // a second drive turns up in the middle of the pass
        } else if (command == SimCommand::kWriteAuthPacket) {
            bus_.Unplug(a);  // and the first is pulled just before its packet
        }
    });
    auto handle = interfaces_.Open(a.interfaceNames().cdromPath);
    ASSERT_NE(handle, nullptr);
    std::array<uint8_t, kDeviceStatusLength> status{};
    ASSERT_TRUE(ReadDeviceStatus(*handle, clock_, &status));
    EXPECT_EQ(List(kGuidDevinterfaceCdrom).size(), 2u);

    const Packet packet{};
    EXPECT_FALSE(WriteAuthPacket(*handle, clock_, packet.data(), kSimAuthPacketLength));
    EXPECT_EQ(a.CountOf(SimCommand::kAnnounce), 1u);
    EXPECT_EQ(a.CountOf(SimCommand::kWriteAuthPacket), 0u);
    // The write finds the drive gone, so it is tried once and not retried.
    EXPECT_EQ(seen, (std::vector<SimCommand>{SimCommand::kReadDeviceStatus, SimCommand::kAnnounce,
                                             SimCommand::kWriteAuthPacket}));
}

TEST_F(SimulatedBusTest, StalledDriveHoldsTheCallerUntilCleared) {
    SimulatedDrive& drive = bus_.AddDrive(SampleIdentity());
    ASSERT_TRUE(bus_.Plug(drive));
    drive.SetStalled(true);
    clock_.OnSleep([&](uint32_t) {
        if (clock_.sleeps().size() == 3) {
            drive.SetStalled(false);
        }
    });
    sim::SimDrivePort port(drive);
    std::array<uint8_t, kIdentityLength> identity{};
    ASSERT_TRUE(ReadIdentity(port, clock_, &identity));
    EXPECT_EQ(clock_.sleeps().size(), 3u);
    EXPECT_EQ(drive.totalCalls(), 1u);

    test::FakeClock patient;
    drive.SetStalled(true);
    EXPECT_FALSE(ReadIdentity(port, patient, &identity));
    EXPECT_EQ(patient.sleeps().size(), kPassThroughAttempts);
    EXPECT_EQ(patient.TotalSleptMs(), uint64_t{kPassThroughAttempts} * kPassThroughRetryDelayMs);
    EXPECT_EQ(drive.totalCalls(), 1u);
}

// A connect worker lists, opens and talks to the drives while the test thread pulls them in and
// out. Run under ThreadSanitizer as well; here the events must still pair up per drive.
TEST_F(SimulatedBusTest, WorkerAndPlugsOnTwoThreads) {
    std::vector<SimulatedDrive*> drives;
    for (char tail : {'1', '2', '3'}) {
        SimulatedDrive& drive = bus_.AddDrive(SampleIdentity(tail));
        drive.AddHost(SampleHost(0x15, kToday));
        ASSERT_TRUE(bus_.Plug(drive));
        drives.push_back(&drive);
    }
    std::atomic<bool> stop{false};
    std::atomic<int> passes{0};
    std::thread worker([&] {
        test::FakeClock clock;
        while (!stop) {
            std::vector<std::wstring> paths;
            bus_.ListPresent(kGuidDevinterfaceCdrom, &paths);
            for (const std::wstring& path : paths) {
                auto handle = interfaces_.Open(path);
                std::array<uint8_t, kIdentityLength> reply{};
                if (handle == nullptr || !ReadIdentity(*handle, clock, &reply)) {
                    continue;
                }
                const DriveIdentity read = ParseDriveIdentity(reply);
                SimIdentity identity;
                identity.identifier = read.driveId;
                const auto cipher = Encrypt(HostPacket("OFFICE-PC\xe9", 0x15, kToday), identity);
                WriteAuthPacket(*handle, clock, cipher.data(), kSimAuthPacketLength);
            }
            ++passes;
        }
    });
    // Keep plugging until the worker has been through enough passes to have met it.
    for (int round = 0; round < 300 || passes < 100; ++round) {
        bus_.Replug(*drives[round % drives.size()]);
        std::this_thread::yield();
    }
    // Once the plugging stops, the worker gets every drive unlocked.
    const auto allUnlocked = [&] {
        for (SimulatedDrive* drive : drives) {
            if (!drive->unlocked()) {
                return false;
            }
        }
        return true;
    };
    while (!allUnlocked()) {
        std::this_thread::yield();
    }
    stop = true;
    worker.join();
    for (SimulatedDrive* drive : drives) {
        bus_.Unplug(*drive);
    }

    // Per interface name the events alternate arrival, removal, ... and end with a removal.
    std::map<std::wstring, SimEventKind> last;
    for (const SimDeviceEvent& event : TakeEvents()) {
        const auto it = last.find(event.name);
        const SimEventKind previous = it == last.end() ? SimEventKind::kRemoval : it->second;
        ASSERT_NE(event.kind, previous) << std::string(event.name.begin(), event.name.end());
        last[event.name] = event.kind;
    }
    EXPECT_EQ(last.size(), 9u);  // three drives, each a USB node, a CD-ROM and a disk
    for (const auto& entry : last) {
        EXPECT_EQ(entry.second, SimEventKind::kRemoval);
    }
}

}  // namespace
}  // namespace kx7::sim
