#include "tests/fakes/worker_harness.h"

#include <utility>

#include "connector/engine/record.h"
#include "sim/host_acceptance.h"

namespace kx7::test {
namespace {

const wchar_t kPcInfoPath[] = L"SOFTWARE\\Stonevault\\KX7EntryPCAgent\\PCInfo";

class NoMessages final : public SystemMessages {
  public:
    std::wstring Lookup(uint32_t) override { return std::wstring(); }
};
NoMessages g_noMessages;

}  // namespace

HostFingerprint MatchingFingerprint() {
    HostFingerprint fp;
    fp.m_stCollected.wYear = 2026;
    fp.m_stCollected.wMonth = 12;
    fp.m_stCollected.wDay = 8;
    fp.m_strNicDescription = L"Intel(R) Ethernet Connection";
    fp.m_strMacId = L"00-1B-21-3C-4D-5E";
    fp.m_strDiskSerial = L"WD-WCC4N1234567";
    fp.m_strComputerName = L"OFFICE-PC";
    fp.m_strOsKey = L"BCDFG-HJKMP-QRTVW-XY234-6789B";
    fp.m_strCpuId = L"306C3";
    return fp;
}

void StoreRecord(FakeRegistry& registry, const HostFingerprint& fp, bool cleanRegistry,
                 RegRoot root, const std::wstring& under) {
    const std::wstring pcInfo = under + kPcInfoPath;
    registry.SetDwordValue(root, pcInfo, L"NICIndex", 1);
    registry.SetString(root, pcInfo, L"NICDescription", fp.m_strNicDescription);
    registry.SetString(root, pcInfo, L"MACID", fp.m_strMacId);
    registry.SetString(root, pcInfo, L"DIskSerial", fp.m_strDiskSerial);
    registry.SetString(root, pcInfo, L"ComputerName", fp.m_strComputerName);
    registry.SetString(root, pcInfo, L"OSKey", fp.m_strOsKey);
    registry.SetString(root, pcInfo, L"CPUID", fp.m_strCpuId);
    registry.SetDwordValue(root, pcInfo, L"CleanRegistry", cleanRegistry ? 1 : 0);
}

sim::SimHost HostFor(const HostFingerprint& fp, uint32_t mask, uint32_t expiry) {
    sim::SimHost host;
    Latin1CodePage codePage;
    host.computerName = codePage.ToAnsi(fp.m_strComputerName);
    host.bindingMask = mask;
    const std::wstring* items[] = {&fp.m_strMacId, &fp.m_strDiskSerial, &fp.m_strComputerName,
                                   &fp.m_strOsKey, &fp.m_strCpuId};
    for (size_t i = 0; i < sim::kSimItemCount; ++i) {
        host.checkValues[i] = sim::CheckValueOf(*items[i]);
    }
    host.expiry = expiry;
    return host;
}

sim::SimIdentity DriveIdentity(char tag) {
    sim::SimIdentity identity;
    for (size_t i = 0; i < identity.identifier.size(); ++i) {
        identity.identifier[i] = static_cast<uint8_t>('K' + i);
    }
    identity.identifier[15] = static_cast<uint8_t>(tag);
    identity.serial = std::string("0123456789A") + tag;
    // Both products of the line, so that the tracking meets both names of an unlocked disk.
    identity.productId = tag % 2 == 0 ? sim::kSimProductKx7Fips : sim::kSimProductKx7;
    return identity;
}

Connector::Connector(uint32_t osVersion, FingerprintCollector* collector) {
    ConnectorSettings settings;
    settings.m_nInterval = 10;
    settings.m_nDetachDelay = 10;
    settings.m_nOsVersion = osVersion;
    state = std::make_unique<ConnectorState>(
        settings, view,
        ConnectorServices{clock, registry, busInterfaces, codePage, shell, collector, &events,
                          &locks, &service});
    tree.InsertItem(0, L"OFFICE-PC", 0, 0);
    deviceTree = std::make_unique<DeviceTree>(
        DeviceTreeServices{tree, devices, view, *state, compare, g_noMessages});
    deviceTree->SetRootItem(tree.GetChildItem(0));
    devices.classDescriptions = {{kGuidDevclassUsb, L"Universal Serial Bus controllers"},
                                 {kGuidDevclassDiskDrive, L"Disk drives"}};
    bus.SetEventListener([this](const sim::SimDeviceEvent& e) { OnEvent(e); });
}

Connector::~Connector() {
    deviceTree->ReleaseAll();
}

void Connector::Register(sim::SimulatedDrive& drive, uint32_t mask) {
    drive.AddHost(HostFor(fingerprint, mask, sim::PackSimDate(2030, 1, 1)));
    const sim::SimIdentity identity = drive.identity();
    registry.SetDwordValue(RegRoot::kCurrentUser,
                           DriveBindingKeyPath(codePage, identity.identifier.data()), L"Mode",
                           mask);
}

sim::SimulatedDrive& Connector::AddRegisteredDrive(char tag, uint32_t mask) {
    sim::SimulatedDrive& drive = bus.AddDrive(DriveIdentity(tag));
    Register(drive, mask);
    return drive;
}

void Connector::Start() {
    const SystemTime& today = fingerprint.m_stCollected;
    bus.SetDate(sim::PackSimDate(today.wYear, today.wMonth, today.wDay));
    state->LoadRecordAtStartup();
    state->ReplaceFingerprint(fingerprint);
    state->RequestInitialScan();
}

void Connector::Run(uint64_t quitAtMs) {
    At(quitAtMs, [this] { state->RequestQuit(); });
    ConnectThreadProc(state.get());
}

VirtualTimeline::VirtualTimeline(FakeClock& clock, std::function<void()> tick)
    : clock_(clock), tick_(std::move(tick)) {
    clock_.OnSleep([this](uint32_t) { OnSleep(); });
    clock_.OnIdle([this] { return NextEventAt(); });
}

void VirtualTimeline::At(uint64_t atMs, std::function<void()> action) {
    script_.emplace(atMs, std::move(action));
}

void VirtualTimeline::OnSleep() {
    const uint64_t now = clock_.NowMs();
    while (nextTickMs_ <= now) {
        tick_();
        nextTickMs_ += 500;
    }
    while (!script_.empty() && script_.begin()->first <= now) {
        auto action = std::move(script_.begin()->second);
        script_.erase(script_.begin());
        action();
    }
}

uint64_t VirtualTimeline::NextEventAt() const {
    if (!script_.empty() && script_.begin()->first < nextTickMs_) {
        return script_.begin()->first;
    }
    return nextTickMs_;
}

// The system lists a device while it is attached and delivers its interface's notification to
// the window, whose device tracking takes it from there.
void Connector::OnEvent(const sim::SimDeviceEvent& event) {
    if (!IsNotificationClass(event.interfaceClass)) {
        return;
    }
    const bool arrival = event.kind == sim::SimEventKind::kArrival;
    const std::wstring id = InstanceIdFromInterfaceName(event.name);
    if (EnumeratorOf(id) == L"USB" || EnumeratorOf(id) == L"USBSTOR") {
        FakeDevice* known = nullptr;
        for (FakeDevice& device : devices.devices) {
            if (device.instanceId == id) {
                known = &device;
            }
        }
        if (known == nullptr) {
            const bool usb = EnumeratorOf(id) == L"USB";
            devices.devices.push_back(
                FakeDevice{id, usb ? kGuidDevclassUsb : kGuidDevclassDiskDrive,
                           usb ? L"" : L"SVI KX7 USB Device",
                           usb ? L"USB Mass Storage Device" : L"Disk drive", true, false});
            known = &devices.devices.back();
        }
        known->present = arrival;
    }
    deviceTree->UpdateDeviceTree(event.name,
                                 arrival ? DeviceEvent::kArrival : DeviceEvent::kRemoval);
}

}  // namespace kx7::test
