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
#include "tests/fakes/silent_window.h"
#include "tests/fakes/worker_harness.h"

namespace kx7 {
namespace {

// Waits cost nothing; once the drive has unlocked the worker is told to end, and a worker that
// waits for a wake has nothing left to do either.
class InstantClock final : public Clock {
  public:
    explicit InstantClock(const sim::SimulatedDrive* drive) : drive_(drive) {}
    void SleepMs(uint32_t) override {
        if (drive_->unlocked()) {
            state->g_bQuit = 1;
        }
    }
    uint64_t NowMs() override { return 0; }
    void WaitForWake() override { state->g_bQuit = 1; }
    void Wake() override {}

    ConnectorState* state = nullptr;  // the state whose worker this clock serves

  private:
    const sim::SimulatedDrive* drive_;
};

void BM_AcceptedPass(benchmark::State& run) {
    const HostFingerprint fp = test::MatchingFingerprint();
    test::FakeRegistry registry;
    test::StoreRecord(registry, fp, false);
    sim::SimulatedBus bus;
    bus.SetDate(
        sim::PackSimDate(fp.m_stCollected.wYear, fp.m_stCollected.wMonth, fp.m_stCollected.wDay));
    sim::SimBusInterfaces interfaces(bus);
    const sim::SimIdentity identity = test::DriveIdentity('1');
    sim::SimulatedDrive& drive = bus.AddDrive(identity);
    drive.AddHost(test::HostFor(fp, 0x1F, sim::PackSimDate(2030, 1, 1)));
    Latin1CodePage codePage;
    registry.SetDwordValue(RegRoot::kCurrentUser,
                           DriveBindingKeyPath(codePage, identity.identifier.data()), L"Mode",
                           0x1F);

    InstantClock clock(&drive);
    test::SilentView view;
    test::NoShell shell;
    ConnectorSettings settings;
    ConnectorState state(settings, view,
                         ConnectorServices{clock, registry, interfaces, codePage, shell});
    clock.state = &state;
    state.LoadRecordAtStartup();
    state.ReplaceFingerprint(fp);

    for (auto _ : run) {
        run.PauseTiming();
        bus.Unplug(drive);
        bus.Plug(drive);
        state.g_bQuit = 0;
        state.g_bRescanRequested = 1;
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
