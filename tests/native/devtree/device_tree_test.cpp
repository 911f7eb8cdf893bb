#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "connector/devtree/device_tracking.h"
#include "connector/devtree/device_tree.h"
#include "sim/simulated_drive.h"
#include "tests/fakes/worker_harness.h"

namespace kx7::test {
namespace {

const wchar_t kUsbName1181[] =
    L"\\\\?\\USB#VID_6B2F&PID_1181#AB12#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
const wchar_t kUsbId1181[] = L"USB\\VID_6B2F&PID_1181\\AB12";
const wchar_t kFipsDiskName[] =
    L"\\\\?\\USBSTOR#Disk&Ven_SVI&Prod_KX7FIPS&Rev_1.00#0123456789AB&0#"
    L"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const wchar_t kFipsDiskId[] = L"USBSTOR\\DISK&VEN_SVI&PROD_KX7FIPS&REV_1.00\\0123456789AB&0";
const wchar_t kMouseName[] =
    L"\\\\?\\HID#VID_046D&PID_C077#7&1a2b3c&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const wchar_t kMouseId[] = L"HID\\VID_046D&PID_C077\\7&1A2B3C&0&0000";
const wchar_t kKeyboardId[] = L"HID\\VID_046D&PID_C31C\\7&9F&0&0000";
const wchar_t kKeyboardName[] =
    L"\\\\?\\HID#VID_046D&PID_C31C#7&9f&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const wchar_t kRootName[] = L"\\\\?\\ROOT#NET#0000#{ad498944-762f-11d0-8dcb-00c04fc3358c}";

// {745A17A0-74D3-11D0-B6FE-00A0C90F57DA}: the setup class of human interface devices.
constexpr InterfaceGuid kHidClass = {
    0x745A17A0, 0x74D3, 0x11D0, {0xB6, 0xFE, 0x00, 0xA0, 0xC9, 0x0F, 0x57, 0xDA}};

// A message table that knows one code.
class OneMessage final : public SystemMessages {
  public:
    OneMessage(uint32_t code, const wchar_t* text) : code_(code), text_(text) {}
    std::wstring Lookup(uint32_t code) override { return code == code_ ? text_ : L""; }

  private:
    uint32_t code_;
    std::wstring text_;
};

class DeviceTreeTest : public ::testing::Test {
  protected:
    DeviceTreeTest() {
        c.devices.classDescriptions.push_back({kHidClass, L"Human Interface Devices"});
        c.devices.devices = {
            {kMouseId, kHidClass, L"", L"HID-compliant mouse", true, false},
            {kKeyboardId, kHidClass, L"", L"", true, false},
            {kUsbId1181, kGuidDevclassUsb, L"", L"USB Mass Storage Device", true, false},
        };
    }
    void Arrive(const wchar_t* name) {
        c.deviceTree->UpdateDeviceTree(name, DeviceEvent::kArrival);
    }
    void Leave(const wchar_t* name) { c.deviceTree->UpdateDeviceTree(name, DeviceEvent::kRemoval); }
    TreeItem root() { return c.deviceTree->rootItem(); }
    std::vector<std::wstring> Classes() { return c.tree.ChildTexts(root()); }
    std::vector<std::wstring> DevicesOf(size_t classIndex) {
        return c.tree.ChildTexts(c.tree.ChildrenOf(root()).at(classIndex));
    }

    Connector c;
};

TEST(InstanceIds, AreDerivedFromTheInterfaceName) {
    EXPECT_EQ(
        InstanceIdFromInterfaceName(
            L"\\\\?\\USB#VID_6B2F&PID_1180#0123456789AB#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"),
        L"USB\\VID_6B2F&PID_1180\\0123456789AB");
    EXPECT_EQ(InstanceIdFromInterfaceName(kFipsDiskName), kFipsDiskId);
    EXPECT_EQ(InstanceIdFromInterfaceName(L"\\\\?\\usb#vid_6b2f&pid_1180#ab#{x}"),
              L"USB\\VID_6B2F&PID_1180\\AB")
        << "upper case";
    EXPECT_EQ(InstanceIdFromInterfaceName(L"\\\\?\\NOHASH"), L"NOHASH") << "nothing to cut";
    EXPECT_EQ(InstanceIdFromInterfaceName(L"\\\\?\\"), L"");
    EXPECT_EQ(EnumeratorOf(L"USBSTOR\\DISK&VEN_SVI\\1"), L"USBSTOR");
    EXPECT_EQ(EnumeratorOf(L"NOSLASH"), L"");
}

TEST(InstanceIds, KX7PatternsAreCaseInsensitivePrefixes) {
    AsciiTextComparer compare;
    EXPECT_TRUE(IsDriveNode(compare, L"USB\\VID_6B2F&PID_1180\\SERIAL"));
    EXPECT_TRUE(IsDriveNode(compare, L"usb\\vid_6b2f&pid_1181"));
    EXPECT_TRUE(IsDriveNode(compare, L"USB\\VID_6B2F&PID_11800\\X")) << "a prefix is enough";
    EXPECT_FALSE(IsDriveNode(compare, L"USB\\VID_6B2F&PID_118")) << "shorter than the pattern";
    EXPECT_FALSE(IsDriveNode(compare, L"USB\\VID_6B2F&PID_1182\\X"));
    EXPECT_FALSE(IsDriveNode(compare, L"HID\\VID_6B2F&PID_1180\\X"));
    EXPECT_TRUE(IsUnlockedDiskNode(compare, kFipsDiskId));
    EXPECT_TRUE(IsUnlockedDiskNode(compare, L"USBSTOR\\DISK&VEN_SVI&PROD_STONEVAULT_KX7&REV_1\\S"));
    EXPECT_FALSE(IsUnlockedDiskNode(compare, L"USBSTOR\\DISK&VEN_SVI&PROD_STONEVAULT_KX"));
    EXPECT_FALSE(IsUnlockedDiskNode(compare, L"USBSTOR\\CDROM&VEN_SVI&PROD_KX7FIPS\\S"));
    EXPECT_FALSE(IsDriveNode(compare, kFipsDiskId));
}

TEST_F(DeviceTreeTest, DriveNodeArrivalAndRemovalMoveTheWorkersState) {
    ConnectorState& s = *c.state;
    s.m_nSettleTicks = 3;
    Arrive(kUsbName1181);
    EXPECT_EQ(c.view.logText, L"Adding USB\\VID_6B2F&PID_1181\\AB12\r\n");
    EXPECT_EQ(s.DeviceSerial(), L"AB12");
    EXPECT_EQ(c.view.Texts(ViewCall::kSerial), std::vector<std::wstring>{L"AB12"});
    EXPECT_EQ(s.m_nDriveNodes, 1);
    EXPECT_EQ(s.g_bRescanRequested, 1);
    EXPECT_EQ(s.g_bConnectRequested, 1);
    EXPECT_EQ(s.m_nSettleTicks, 10) << "the settle wait starts again";
    EXPECT_EQ(c.devices.requests.back().enumerator, L"USB");
    EXPECT_TRUE(c.devices.requests.back().presentOnly);

    // A second arrival of the same device shows no second node, but still counts.
    Arrive(kUsbName1181);
    EXPECT_EQ(s.m_nDriveNodes, 2);
    ASSERT_EQ(Classes().size(), 1u);
    EXPECT_EQ(DevicesOf(0), std::vector<std::wstring>{L"USB Mass Storage Device"});

    Leave(kUsbName1181);
    Leave(kUsbName1181);
    Leave(kUsbName1181);
    EXPECT_EQ(s.m_nDriveNodes, 0) << "never below 0";
    EXPECT_EQ(s.DeviceSerial(), L"");
    EXPECT_EQ(c.view.Texts(ViewCall::kSerial).back(), L"");
    EXPECT_FALSE(c.devices.requests.back().presentOnly) << "absent devices are looked at too";
    EXPECT_TRUE(Classes().empty()) << "the class went with its only device";
    const std::wstring adding = L"Adding USB\\VID_6B2F&PID_1181\\AB12\r\n";
    const std::wstring removing = L"Removing USB\\VID_6B2F&PID_1181\\AB12\r\n";
    EXPECT_EQ(c.view.logText, adding + adding + removing + removing + removing);
}

TEST_F(DeviceTreeTest, UnlockedDiskNodesArmAndDisarmTheCleanup) {
    ConnectorState& s = *c.state;
    // Unlocked disks counted, removal pending, removal ticks.
    const auto cleanup = [&s] {
        return std::vector<int>{s.m_nUnlockedDisks, s.m_bRemovalPending, s.m_nRemovalTicks};
    };
    Leave(kFipsDiskName);
    EXPECT_EQ(cleanup(), (std::vector<int>{0, 1, 0})) << "pending even with no disk counted";

    s.m_nRemovalTicks = 7;
    s.m_nSettleTicks = 0;
    Arrive(kFipsDiskName);
    EXPECT_EQ(cleanup(), (std::vector<int>{1, 0, 0}));
    EXPECT_EQ(s.m_nSettleTicks, 10);
    EXPECT_EQ(s.g_bConnectRequested, 0) << "a disk asks for no pass";
    EXPECT_EQ(s.DeviceSerial(), L"") << "nor does it change the serial";

    s.m_nRemovalTicks = 4;
    Leave(kFipsDiskName);
    EXPECT_EQ(cleanup(), (std::vector<int>{0, 1, 0}));
}

TEST_F(DeviceTreeTest, RootDevicesAreOnlyLogged) {
    Arrive(kRootName);
    EXPECT_EQ(c.view.logText, L"Adding ROOT\\NET\\0000\r\n");
    EXPECT_TRUE(c.devices.requests.empty());
    EXPECT_TRUE(Classes().empty());
}

TEST_F(DeviceTreeTest, ClassNodesLiveAsLongAsTheirDevices) {
    Arrive(kMouseName);
    Arrive(kKeyboardName);
    ASSERT_EQ(Classes(), std::vector<std::wstring>{L"Human Interface Devices"});
    // No friendly name: the description; neither: "Unknown".
    EXPECT_EQ(DevicesOf(0), (std::vector<std::wstring>{L"HID-compliant mouse", L"Unknown"}));
    const TreeItem classNode = c.tree.ChildrenOf(root()).at(0);
    const int hidImage = c.devices.GetClassImageIndex(kHidClass);
    ASSERT_GT(hidImage, 0);
    EXPECT_EQ(c.tree.items[classNode].image, hidImage);
    EXPECT_TRUE(c.tree.items[classNode].expanded);
    EXPECT_TRUE(c.tree.items[root()].expanded);
    EXPECT_EQ(c.tree.items[c.tree.ChildrenOf(classNode).at(0)].image, hidImage);

    Leave(kMouseName);
    EXPECT_EQ(Classes().size(), 1u) << "one of two left";
    EXPECT_EQ(DevicesOf(0), std::vector<std::wstring>{L"Unknown"});
    Leave(kKeyboardName);
    EXPECT_TRUE(Classes().empty());

    // A removal of something never shown changes nothing.
    Leave(kMouseName);
    EXPECT_TRUE(Classes().empty());
    EXPECT_EQ(c.tree.items.size(), 1u) << "only the root";
}

TEST_F(DeviceTreeTest, ClassWithoutDescriptionOrImage) {
    c.devices.classDescriptions.clear();
    Arrive(kMouseName);
    ASSERT_EQ(Classes(), std::vector<std::wstring>{L""});
    EXPECT_EQ(c.tree.items[c.tree.ChildrenOf(root()).at(0)].image, -1);
}

TEST_F(DeviceTreeTest, DeviceMissingFromTheSetLeavesTheTreeButNotTheTracking) {
    c.devices.devices.clear();
    Arrive(kUsbName1181);
    EXPECT_EQ(c.state->m_nDriveNodes, 1);
    EXPECT_TRUE(Classes().empty());

    // An unreadable element ends the search even when the device comes after it.
    c.devices.devices = {{L"HID\\OTHER\\1", kHidClass, L"", L"x", true, true},
                         {kMouseId, kHidClass, L"", L"HID-compliant mouse", true, false}};
    Arrive(kMouseName);
    EXPECT_TRUE(Classes().empty());
}

TEST_F(DeviceTreeTest, UnobtainableDeviceSetIsReportedAndSkipsTheTracking) {
    OneMessage messages(5, L"Access is denied.\r\n");
    DeviceTree tree(DeviceTreeServices{c.tree, c.devices, c.view, *c.state, c.compare, messages});
    tree.SetRootItem(root());
    c.devices.failWith = 5;
    tree.UpdateDeviceTree(kUsbName1181, DeviceEvent::kArrival);
    c.devices.failWith = 0xE000020B;
    tree.UpdateDeviceTree(kUsbName1181, DeviceEvent::kArrival);
    EXPECT_EQ(c.view.Texts(ViewCall::kTreeErrorBox),
              (std::vector<std::wstring>{L"SetupDiGetClassDevs(): Access is denied.",
                                         L"SetupDiGetClassDevs(): Unknown error 0xE000020B"}));
    EXPECT_EQ(c.view.logText,
              L"Adding USB\\VID_6B2F&PID_1181\\AB12\r\n"
              L"Adding USB\\VID_6B2F&PID_1181\\AB12\r\n")
        << "logged all the same";
    EXPECT_EQ(c.state->m_nDriveNodes, 0);
    EXPECT_EQ(c.state->g_bConnectRequested, 0);
}

TEST_F(DeviceTreeTest, ReleaseAllFreesEveryNodeButTheRoot) {
    Arrive(kMouseName);
    Arrive(kUsbName1181);
    ASSERT_EQ(c.tree.items.size(), 5u);
    c.deviceTree->ReleaseAll();  // the sanitizer build reports any block left behind
    EXPECT_EQ(c.tree.items.size(), 1u);
}

TEST_F(DeviceTreeTest, RefusedInsertLeavesNoEmptyClassNode) {
    c.tree.refuseInserts = true;
    Arrive(kMouseName);
    c.tree.refuseInserts = false;
    EXPECT_TRUE(Classes().empty());
}

TEST(DeviceLog, KeepsItsNewestWholeLines) {
    EXPECT_EQ(AppendLogLine(L"", L"Adding A\r\n", 30), L"Adding A\r\n");
    EXPECT_EQ(AppendLogLine(L"Adding A\r\nAdding B\r\n", L"Adding C\r\n", 25),
              L"Adding B\r\nAdding C\r\n");
    EXPECT_EQ(AppendLogLine(L"Adding A\r\n", L"Adding B\r\n", 20), L"Adding A\r\nAdding B\r\n");
    EXPECT_EQ(AppendLogLine(L"Error text without a break", L"Adding B\r\n", 15), L"Adding B\r\n");
    EXPECT_EQ(AppendLogLine(L"A\r\n", L"A line longer than the limit\r\n", 10),
              L"A line longer than the limit\r\n");
}

TEST(ErrorTexts, DropTheLineBreakOrNameTheCode) {
    OneMessage messages(2, L"The system cannot find the file specified.\r\n");
    EXPECT_EQ(ErrorCodeText(messages, 2), L"The system cannot find the file specified.");
    EXPECT_EQ(ErrorCodeText(messages, 13), L"Unknown error 0xD");
    EXPECT_EQ(ErrorCodeText(messages, 0), L"Unknown error 0x0");
}

// The whole road: a drive is plugged in, its notification goes through the device tracking to
// the worker, the drive unlocks and its disk's notification comes back the same way.
TEST(DeviceTreeRoad, PluggedDriveIsUnlockedAndItsDiskShown) {
    Connector c;
    StoreRecord(c.registry, c.fingerprint, false);
    sim::SimulatedDrive& drive = c.AddRegisteredDrive('7', 0x1F);
    c.Start();
    c.At(1000, [&] { c.bus.Plug(drive); });
    c.Run(15000);
    EXPECT_TRUE(drive.unlocked());
    EXPECT_EQ(c.state->m_nDriveNodes, 1);
    EXPECT_EQ(c.state->m_nUnlockedDisks, 1);
    EXPECT_EQ(c.state->DeviceSerial(), L"0123456789A7");
    const std::wstring log = c.view.logText;
    EXPECT_EQ(log.find(L"Adding USB\\VID_6B2F&PID_1180\\0123456789A7\r\n"), 0u) << log;
    EXPECT_NE(log.find(L"\r\nAdding USBSTOR\\DISK&VEN_SVI&PROD_"), std::wstring::npos) << log;
    EXPECT_EQ(log.find(L"CDROM"), std::wstring::npos) << "the CD-ROM class is not listened to";
    ASSERT_EQ(c.tree.ChildTexts(c.deviceTree->rootItem()),
              (std::vector<std::wstring>{L"Universal Serial Bus controllers", L"Disk drives"}));
}

}  // namespace
}  // namespace kx7::test
