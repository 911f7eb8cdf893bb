// The worker on a thread of its own while the test thread plays the window: ticks, Reconnects
// that replace the fingerprint mid-pass, and a quit. Meant for ThreadSanitizer as much as for
// the checks: every value the two threads share must be reached without a race.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "connector/engine/worker/connector_state.h"
#include "tests/fakes/wake_signal.h"
#include "tests/fakes/worker_harness.h"

namespace kx7::test {
namespace {

// Real, but shortened, waits: a pass with its 1500 ms refusal wait takes 1.5 ms. The wake is a
// real one between the threads.
class FastClock final : public Clock {
  public:
    void SleepMs(uint32_t ms) override {
        std::this_thread::sleep_for(std::chrono::microseconds(ms));
        now_ += ms;
    }
    uint64_t NowMs() override { return now_; }
    void WaitForWake() override { wake_.Wait(); }
    void Wake() override { wake_.Signal(); }

  private:
    std::atomic<uint64_t> now_{0};
    WakeSignal wake_;
};

class CountingView final : public ConnectorView {
  public:
    void SetLogText(const std::wstring&) override {}
    void AddLogLine(const std::wstring&) override {}
    void SetDeviceSerialText(const std::wstring&) override {}
    void ShowAppMessage(const std::wstring&) override { ++appBoxes; }
    void ShowRefusal(const std::wstring& text) override {
        if (text == L"KX7 Invalid Error code !, Cmd = 41, Err Code = 99") {
            ++consistentRefusals;
        } else {
            ++otherRefusals;
        }
    }
    void PostWorkerDone(uintptr_t, intptr_t) override { done = true; }
    WindowHandle OwnerWindow() override { return 0; }

    std::atomic<int> appBoxes{0};
    std::atomic<int> consistentRefusals{0};
    std::atomic<int> otherRefusals{0};
    std::atomic<bool> done{false};
};

TEST(ThreadedWorker, ReconnectsDuringPassesNeverTearTheFingerprint) {
    FastClock clock;
    FakeRegistry registry;
    sim::SimulatedBus bus;
    sim::SimBusInterfaces interfaces(bus);
    Latin1CodePage codePage;
    RecordingShell shell;
    CountingView view;
    const HostFingerprint a = MatchingFingerprint();
    HostFingerprint b = a;
    b.m_strComputerName = L"OTHER-NAME-OF-THIS-PC";
    StoreRecord(registry, a, false);

    sim::SimulatedDrive& drive = bus.AddDrive(DriveIdentity('1'));
    // Only the MAC is bound, so both fingerprints pass the identity check; the name in the
    // packet must be one of the two whole names. 99 keeps the drive locked for the next pass.
    drive.SetAuthPacketJudge([](const uint8_t* plain, size_t) {
        const char* name = reinterpret_cast<const char*>(plain + 32);
        return (std::strcmp(name, "OFFICE-PC") == 0 ||
                std::strcmp(name, "OTHER-NAME-OF-THIS-PC") == 0)
                   ? uint8_t{99}
                   : uint8_t{29};
    });
    registry.SetDwordValue(RegRoot::kCurrentUser,
                           DriveBindingKeyPath(codePage, drive.identity().identifier.data()),
                           L"Mode", kBindMacAddress);
    bus.Plug(drive);

    ConnectorSettings settings;
    settings.m_nInterval = 1;
    ConnectorState state(settings, view,
                         ConnectorServices{clock, registry, interfaces, codePage, shell});
    state.LoadRecordAtStartup();
    state.ReplaceFingerprint(a);
    state.RequestInitialScan();
    std::thread worker([&] { ConnectThreadProc(&state); });

    for (int round = 0; view.consistentRefusals < 20 && round < 20000; ++round) {
        state.ReplaceFingerprint(round % 2 == 0 ? b : a);
        state.RequestReconnect();
        state.OnTickTimer();
        if (round % 7 == 0) {
            state.OnDriveNodeArrival(true, L"0123456789A1");
            state.OnDriveNodeRemoval(true);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    state.RequestQuit();
    worker.join();

    EXPECT_TRUE(view.done);
    EXPECT_GE(view.consistentRefusals, 20);
    EXPECT_EQ(view.otherRefusals, 0);
    EXPECT_EQ(view.appBoxes, 0);
}

}  // namespace
}  // namespace kx7::test
