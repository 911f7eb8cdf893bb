// Device-interface names as device-change notifications carry them, any text, through the
// instance ID, the enumerator, the KX7 patterns and the whole tracking: the tree, the log and
// the worker's counters. One line of input is one notification: "+name" an arrival, anything
// else a removal.
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "connector/devtree/device_tracking.h"
#include "connector/devtree/device_tree.h"
#include "connector/engine/worker/connector_state.h"
#include "tests/fakes/fake_clock.h"
#include "tests/fakes/fake_device_interfaces.h"
#include "tests/fakes/fake_device_info.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/fake_tree_control.h"
#include "tests/fakes/latin1_code_page.h"
#include "tests/fakes/silent_window.h"
#include "tests/fuzz/fuzz_input.h"

namespace kx7 {
namespace {

// The setup classes of USB devices and of disk drives.
constexpr InterfaceGuid kUsbClass = {
    0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr InterfaceGuid kDiskDriveClass = {
    0x4D36E967, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

class QuietWindow final : public test::SilentView, public DeviceTreeUi {
  public:
    std::wstring GetLogEditText() override { return log; }
    void SetLogEditText(const std::wstring& text) override { log = text; }
    void ShowError(const std::wstring&) override {}
    std::wstring log;
};

class NoMessages final : public SystemMessages {
  public:
    std::wstring Lookup(uint32_t) override { return std::wstring(); }
};

// The instance IDs of the device nodes the tree shows.
void CollectShown(test::FakeTreeControl& tree, TreeItem root, std::set<std::wstring>* ids) {
    for (TreeItem classNode : tree.ChildrenOf(root)) {
        for (TreeItem device : tree.ChildrenOf(classNode)) {
            const auto* id = reinterpret_cast<const std::wstring*>(tree.items.at(device).data);
            ids->insert(*id);
        }
    }
}

}  // namespace
}  // namespace kx7

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kx7;
    test::FakeClock clock;
    test::FakeRegistry registry;
    test::FakeDeviceInterfaces interfaces;
    interfaces.listingFails = true;
    Latin1CodePage codePage;
    test::NoShell shell;
    QuietWindow window;
    ConnectorSettings settings;
    settings.m_nInterval = 10;
    ConnectorState state(settings, window,
                         ConnectorServices{clock, registry, interfaces, codePage, shell});
    test::FakeTreeControl tree;
    test::FakeDeviceInfoSource devices;
    devices.classDescriptions = {{kUsbClass, L"Universal Serial Bus controllers"},
                                 {kDiskDriveClass, L"Disk drives"}};
    AsciiTextComparer compare;
    NoMessages messages;
    DeviceTree deviceTree(DeviceTreeServices{tree, devices, window, state, compare, messages});
    deviceTree.SetRootItem(tree.InsertItem(0, L"PC", 0, 0));

    // Which devices are attached, as the system would list them.
    std::map<std::wstring, bool> present;
    size_t start = 0;
    while (start < size) {
        size_t end = start;
        while (end < size && data[end] != '\n') {
            ++end;
        }
        const bool arrival = end > start && data[start] == '+';
        const size_t nameStart = arrival ? start + 1 : start;
        const std::wstring name = fuzz::Latin1Text(data + nameStart, end - nameStart);
        start = end + 1;

        const std::wstring id = InstanceIdFromInterfaceName(name);
        KX7_FUZZ_CHECK(id.find(L'#') == std::wstring::npos);
        KX7_FUZZ_CHECK(name.size() <= 4 ? id.empty() : id.size() <= name.size() - 4);
        for (wchar_t c : id) {
            KX7_FUZZ_CHECK(!fuzz::IsAsciiLower(c));
        }
        const std::wstring enumerator = EnumeratorOf(id);
        KX7_FUZZ_CHECK(id.compare(0, enumerator.size(), enumerator) == 0);
        KX7_FUZZ_CHECK(enumerator.find(L'\\') == std::wstring::npos);
        KX7_FUZZ_CHECK(!(IsDriveNode(compare, id) && IsUnlockedDiskNode(compare, id)));

        auto known = devices.devices.begin();
        while (known != devices.devices.end() && known->instanceId != id) {
            ++known;
        }
        if (known == devices.devices.end()) {
            const bool usb = enumerator == L"USB";
            devices.devices.push_back(test::FakeDevice{id, usb ? kUsbClass : kDiskDriveClass, L"",
                                                       usb ? L"USB device" : L"Disk drive", true,
                                                       false});
            known = devices.devices.end() - 1;
        }
        known->present = arrival;
        present[id] = arrival;

        deviceTree.UpdateDeviceTree(name, arrival ? DeviceEvent::kArrival : DeviceEvent::kRemoval);

        KX7_FUZZ_CHECK(state.m_nDriveNodes >= 0 && state.m_nUnlockedDisks >= 0);
        KX7_FUZZ_CHECK(window.log.size() <= kMaxLogChars ||
                       window.log.find(L'\n') == window.log.size() - 1);
        // The tree shows exactly the attached devices that the system lists by enumerator.
        std::set<std::wstring> shown;
        CollectShown(tree, deviceTree.rootItem(), &shown);
        std::set<std::wstring> expected;
        for (const auto& [deviceId, attached] : present) {
            if (attached && deviceId.find(L'\\') != std::wstring::npos &&
                EnumeratorOf(deviceId) != L"ROOT") {
                expected.insert(deviceId);
            }
        }
        KX7_FUZZ_CHECK(shown == expected);
    }
    deviceTree.ReleaseAll();
    KX7_FUZZ_CHECK(tree.items.size() == 1);
    return 0;
}
