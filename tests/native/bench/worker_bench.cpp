// The cost of one accepted connect pass against the simulated drive, with every wait taken
// out: discovery, identification, status reads, timing, packet, key derivation, encryption and
// the drive's own decryption and check. Run it to keep a pass cheap:
//   build/native/bin/kx7_worker_bench
#include <benchmark/benchmark.h>

#include "connector/engine/record.h"
#include "connector/engine/worker/connector_state.h"
#include "sim/host_acceptance.h"
#include "sim/simulated_bus.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/latin1_code_page.h"

namespace kx7 {
namespace {

class NoView final : public ConnectorView {
  public:
    void SetLogText(const std::wstring&) override {}
    void SetDeviceSerialText(const std::wstring&) override {}
    void ShowAppMessage(const std::wstring&) override {}
    void ShowRefusal(const std::wstring&) override {}
    void PostWorkerDone(uintptr_t, intptr_t) override {}
    WindowHandle OwnerWindow() override { return 0; }
};

class NoShell final : public ShellLauncher {
  public:
    bool GetModulePath(std::wstring*) override { return false; }
    void ShellOpenHidden(const std::wstring&) override {}
    void ShellRunAsHidden(WindowHandle, const std::wstring&) override {}
};

// Waits cost nothing; once the drive has unlocked the worker is told to end.
class InstantClock final : public Clock {
  public:
    explicit InstantClock(const sim::SimulatedDrive* drive) : drive_(drive) {}
    void SleepMs(uint32_t) override {
        if (drive_->unlocked()) {
            g_bQuit = 1;
        }
    }
    uint64_t NowMs() override { return 0; }

  private:
    const sim::SimulatedDrive* drive_;
};

void BM_AcceptedPass(benchmark::State& run) {
    const std::wstring pcInfo = L"SOFTWARE\\Stonevault\\KX7EntryPCAgent\\PCInfo";
    HostFingerprint fp;
    fp.m_stCollected.wYear = 2026;
    fp.m_stCollected.wMonth = 12;
    fp.m_stCollected.wDay = 8;
    fp.m_strMacId = L"00-1B-21-3C-4D-5E";
    fp.m_strDiskSerial = L"WD-WCC4N1234567";
    fp.m_strComputerName = L"OFFICE-PC";
    fp.m_strOsKey = L"BCDFG-HJKMP-QRTVW-XY234-6789B";
    fp.m_strCpuId = L"306C3";

    test::FakeRegistry registry;
    const RegRoot hkcu = RegRoot::kCurrentUser;
    registry.SetDwordValue(hkcu, pcInfo, L"NICIndex", 0);
    registry.SetString(hkcu, pcInfo, L"NICDescription", L"Ethernet");
    registry.SetString(hkcu, pcInfo, L"MACID", fp.m_strMacId);
    registry.SetString(hkcu, pcInfo, L"DIskSerial", fp.m_strDiskSerial);
    registry.SetString(hkcu, pcInfo, L"ComputerName", fp.m_strComputerName);
    registry.SetString(hkcu, pcInfo, L"OSKey", fp.m_strOsKey);
    registry.SetString(hkcu, pcInfo, L"CPUID", fp.m_strCpuId);
    registry.SetDwordValue(hkcu, pcInfo, L"CleanRegistry", 0);

    sim::SimulatedBus bus;
    sim::SimIdentity identity;
    for (size_t i = 0; i < identity.identifier.size(); ++i) {
        identity.identifier[i] = static_cast<uint8_t>('A' + i);
    }
    sim::SimulatedDrive& drive = bus.AddDrive(identity);
    sim::SimHost host;
    host.computerName = "OFFICE-PC";
    host.bindingMask = 0x1F;
    const std::wstring* items[] = {&fp.m_strMacId, &fp.m_strDiskSerial, &fp.m_strComputerName,
                                   &fp.m_strOsKey, &fp.m_strCpuId};
    for (size_t i = 0; i < sim::kSimItemCount; ++i) {
        host.checkValues[i] = sim::CheckValueOf(*items[i]);
    }
    host.expiry = sim::PackSimDate(2030, 1, 1);
    drive.AddHost(host);
    Latin1CodePage codePage;
    registry.SetDwordValue(hkcu, DriveBindingKeyPath(codePage, identity.identifier.data()), L"Mode",
                           0x1F);

    InstantClock clock(&drive);
    NoView view;
    NoShell shell;
    ConnectorSettings settings;
    ConnectorState state(settings, view, ConnectorServices{clock, registry, bus, codePage, shell});
    state.LoadRecordAtStartup();
    state.ReplaceFingerprint(fp);

    for (auto _ : run) {
        run.PauseTiming();
        bus.Unplug(drive);
        bus.Plug(drive);
        g_bQuit = 0;
        g_bRescanRequested = 1;
        run.ResumeTiming();
        ConnectThreadProc(&state);
    }
    if (!drive.unlocked()) {
        run.SkipWithError("the pass did not unlock the drive");
    }
}
BENCHMARK(BM_AcceptedPass);

}  // namespace
}  // namespace kx7

BENCHMARK_MAIN();
