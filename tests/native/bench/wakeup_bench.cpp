// What the connect worker costs the machine while it has nothing to do, and how quickly it starts
// a pass once the settle countdown has run out. For a person to read, never a pass/fail limit:
//   build/native/bin/kx7_wakeup_bench
//
// - IdleWakeups: the worker's wake-ups during 10 idle seconds (virtual time), after the first
//   pass of a registered PC found nothing attached.
// - PendingWakeups: its wake-ups from a Reconnect until the pass starts, across a settle
//   countdown of 10 ticks (5 s of virtual time); tick_to_pass_ms is the virtual time from the
//   tick that ended the countdown to the pass.
// - SettleTickToPass: the same delay in real time, on real threads, as the iteration time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>

#include "connector/engine/worker/connector_state.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/latin1_code_page.h"
#include "tests/fakes/silent_window.h"
#include "tests/fakes/wake_signal.h"
#include "tests/fakes/worker_harness.h"

namespace kx7 {
namespace {

constexpr uint64_t kIdleFromMs = 10000;
constexpr uint64_t kIdleToMs = 20000;
constexpr uint64_t kReconnectAtMs = 20000;
// The harness's countdown is 10 ticks of 500 ms.
constexpr uint64_t kCountdownEndsAtMs = kReconnectAtMs + 10 * 500;

size_t ResumesIn(const std::vector<uint64_t>& resumes, uint64_t from, uint64_t to) {
    size_t count = 0;
    for (uint64_t at : resumes) {
        if (at >= from && at < to) {
            ++count;
        }
    }
    return count;
}

void BM_IdleWakeups(benchmark::State& run) {
    size_t wakeups = 0;
    for (auto _ : run) {
        test::Connector c;
        test::StoreRecord(c.registry, c.fingerprint, false);
        c.Start();
        c.Run(kIdleToMs);
        if (!c.view.calls.empty() && c.view.calls.front().kind != test::ViewCall::kWorkerDone) {
            run.SkipWithError("the idle connector showed something");
        }
        wakeups = ResumesIn(c.clock.resumes(), kIdleFromMs, kIdleToMs);
    }
    run.counters["wakeups_per_10s_idle"] = static_cast<double>(wakeups);
}
BENCHMARK(BM_IdleWakeups);

void BM_PendingWakeups(benchmark::State& run) {
    size_t wakeups = 0;
    uint64_t passAt = 0;
    for (auto _ : run) {
        test::Connector c;
        test::StoreRecord(c.registry, c.fingerprint, false);
        // Firmware too old: every pass identifies the drive, refuses it and leaves it locked,
        // so the identity read marks the start of each pass.
        sim::SimIdentity identity = test::DriveIdentity('1');
        identity.firmwareMajor = 1;
        identity.firmwareMinor = 0;
        sim::SimulatedDrive& drive = c.bus.AddDrive(identity);
        passAt = 0;
        drive.SetCommandHook([&](sim::SimCommand command) {
            if (command == sim::SimCommand::kReadIdentity && passAt == 0 &&
                c.clock.NowMs() >= kReconnectAtMs) {
                passAt = c.clock.NowMs();
            }
        });
        c.bus.Plug(drive);
        c.Start();
        c.At(kReconnectAtMs, [&] { c.state->RequestReconnect(); });
        c.Run(kReconnectAtMs + 20000);
        if (passAt < kCountdownEndsAtMs) {
            run.SkipWithError("no pass after the countdown");
        }
        wakeups = ResumesIn(c.clock.resumes(), kReconnectAtMs, passAt);
    }
    run.counters["wakeups_in_countdown"] = static_cast<double>(wakeups);
    run.counters["tick_to_pass_ms"] = static_cast<double>(passAt - kCountdownEndsAtMs);
}
BENCHMARK(BM_PendingWakeups);

// Real time, as the running program has it.
class SteadyClock final : public Clock {
  public:
    void SleepMs(uint32_t milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
    uint64_t NowMs() override {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count());
    }
    void WaitForWake() override { wake_.Wait(); }
    void Wake() override { wake_.Signal(); }

  private:
    test::WakeSignal wake_;
};

// No drive attached; the listing marks the start of a pass (a Reconnect always asks for a
// rescan).
class PassMarker final : public DeviceInterfaces {
  public:
    bool ListPresent(const InterfaceGuid&, std::vector<std::wstring>* paths) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            lastListing_ = std::chrono::steady_clock::now();
            ++listings_;
        }
        changed_.notify_all();
        paths->clear();
        return true;
    }
    std::unique_ptr<ScsiPassThrough> Open(const std::wstring&) override { return nullptr; }
    // Waits for the listing after `seen` earlier ones and returns when it happened.
    std::chrono::steady_clock::time_point WaitForListing(uint64_t seen) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return listings_ > seen; });
        return lastListing_;
    }
    uint64_t listings() {
        std::lock_guard<std::mutex> lock(mutex_);
        return listings_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t listings_ = 0;
    std::chrono::steady_clock::time_point lastListing_;
};

void BM_SettleTickToPass(benchmark::State& run) {
    SteadyClock clock;
    test::FakeRegistry registry;
    test::StoreRecord(registry, test::MatchingFingerprint(), false);
    PassMarker interfaces;
    Latin1CodePage codePage;
    test::NoShell shell;
    test::SilentView view;
    ConnectorSettings settings;
    settings.m_nInterval = 1;
    ConnectorState state(settings, view,
                         ConnectorServices{clock, registry, interfaces, codePage, shell});
    state.LoadRecordAtStartup();
    state.ReplaceFingerprint(test::MatchingFingerprint());
    state.RequestInitialScan();
    state.OnTickTimer();  // the one-tick countdown is over before the worker starts
    std::thread worker([&] { ConnectThreadProc(&state); });
    interfaces.WaitForListing(0);

    // The tick comes at no fixed phase of whatever rhythm the worker keeps, and late enough
    // for a worker that looks for requests only every so often to have seen this one.
    std::mt19937 random(12);
    std::uniform_int_distribution<int> settle(150, 250);
    double totalMs = 0;
    double longestMs = 0;
    for (auto _ : run) {
        // The pass before must have ended its request, or it would end this one too.
        while (state.g_bConnectRequested) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const uint64_t seen = interfaces.listings();
        state.RequestReconnect();
        std::this_thread::sleep_for(std::chrono::milliseconds(settle(random)));
        const auto tick = std::chrono::steady_clock::now();
        state.OnTickTimer();
        const auto started = interfaces.WaitForListing(seen);
        const std::chrono::duration<double> delay = started - tick;
        run.SetIterationTime(delay.count());
        totalMs += delay.count() * 1000;
        longestMs = std::max(longestMs, delay.count() * 1000);
    }
    state.RequestQuit();
    worker.join();
    run.counters["mean_tick_to_pass_ms"] =
        run.iterations() > 0 ? totalMs / static_cast<double>(run.iterations()) : 0;
    run.counters["max_tick_to_pass_ms"] = longestMs;
}
BENCHMARK(BM_SettleTickToPass)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kx7

BENCHMARK_MAIN();
