// The service's host over the simulated bus and an in-memory registry: whose record it serves,
// what it does with nobody at the console, where its boxes go, and how it reports its states.
#include "service/service_host.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "connector/engine/record.h"
#include "connector/engine/settings.h"
#include "tests/fakes/wake_signal.h"
#include "tests/fakes/worker_harness.h"

namespace kx7::test {
namespace {

const std::wstring kUserA = L"S-1-5-21-1004336348-1177238915-682003330-1001";
const std::wstring kUserB = L"S-1-5-21-1004336348-1177238915-682003330-1002";

class FakeSessions final : public ConsoleSessions {
  public:
    bool ConsoleUser(uint32_t* id, std::wstring* sid) override {
        *id = session;
        *sid = user;
        return !user.empty();
    }
    void ShowBox(uint32_t id, const std::wstring& caption, const std::wstring& text, uint32_t style,
                 uint32_t timeout) override {
        boxes.push_back(std::to_wstring(id) + L"|" + caption + L"|" + text + L"|" +
                        std::to_wstring(style) + L"|" + std::to_wstring(timeout));
    }
    uint32_t session = 1;
    std::wstring user;
    std::vector<std::wstring> boxes;
};

class RecordingStatus final : public ServiceStatusSink {
  public:
    void Report(ServiceState state, uint32_t waitHintMs, uint32_t exitCode) override {
        reports.push_back(std::to_string(static_cast<uint32_t>(state)) + "/" +
                          std::to_string(waitHintMs) + "/" + std::to_string(exitCode));
    }
    std::vector<std::string> reports;
};

class Windows7 final : public OsVersionSource {
  public:
    bool GetVersion(uint32_t* major, uint32_t* minor) override {
        *major = 6;
        *minor = 1;
        return true;
    }
};

// A real wake between two threads, with sleeps that take no time.
class ThreadClock final : public Clock {
  public:
    void SleepMs(uint32_t) override {}
    uint64_t NowMs() override { return 0; }
    void WaitForWake() override { wake_.Wait(); }
    void Wake() override { wake_.Signal(); }

  private:
    WakeSignal wake_;
};

class ServedPc {
  public:
    explicit ServedPc(Clock& clock)
        : host(ServiceHostServices{clock, registry, busInterfaces, codePage, shell, collector,
                                   windows7, compare, sessions, status, &events, &locks},
               L"2.0.5.3") {
        bus.SetEventListener([this](const sim::SimDeviceEvent& e) {
            if (IsNotificationClass(e.interfaceClass)) {
                host.OnDeviceEvent(e.name, e.kind == sim::SimEventKind::kArrival
                                               ? DeviceEvent::kArrival
                                               : DeviceEvent::kRemoval);
            }
        });
    }

    // A drive bound in the hive of user; paired with this PC on the drive too, or not at all.
    sim::SimulatedDrive& AddDrive(char tag, const std::wstring& user, bool paired) {
        sim::SimulatedDrive& drive = bus.AddDrive(DriveIdentity(tag));
        if (paired) {
            drive.AddHost(HostFor(MatchingFingerprint(), 0x1F, sim::PackSimDate(2030, 1, 1)));
        }
        registry.SetDwordValue(
            RegRoot::kUsers,
            user + L"\\" + DriveBindingKeyPath(codePage, drive.identity().identifier.data()),
            L"Mode", 0x1F);
        return drive;
    }

    FakeRegistry registry;
    sim::SimulatedBus bus;
    sim::SimBusInterfaces busInterfaces{bus};
    Latin1CodePage codePage;
    RecordingShell shell;
    FixedCollector collector{MatchingFingerprint()};
    Windows7 windows7;
    AsciiTextComparer compare;
    FakeSessions sessions;
    RecordingStatus status;
    RecordingEventLog events;
    FakeDriveTurnLocks locks;
    ServiceHost host;
};

TEST(ServiceHost, ServesTheConsoleUsersRecordOnlyAndShowsTheBoxesInTheirSession) {
    FakeClock clock;
    ServedPc pc(clock);
    VirtualTimeline timeline(clock, [&pc] { pc.host.OnTick(); });
    const SystemTime& today = MatchingFingerprint().m_stCollected;
    pc.bus.SetDate(sim::PackSimDate(today.wYear, today.wMonth, today.wDay));
    StoreRecord(pc.registry, MatchingFingerprint(), false, RegRoot::kUsers, kUserA + L"\\");
    sim::SimulatedDrive& paired = pc.AddDrive('A', kUserA, true);
    sim::SimulatedDrive& refusing = pc.AddDrive('R', kUserA, false);
    pc.sessions.user = kUserA;

    const auto logOn = [&pc](uint32_t session, const std::wstring& user, SessionEvent event) {
        pc.sessions.session = session;
        pc.sessions.user = user;
        pc.host.OnSessionChange(event);
    };
    timeline.At(1000, [&] { pc.bus.Plug(paired); });
    timeline.At(15000, [&] { logOn(1, L"", SessionEvent::kLogoff); });
    // Two passes with nobody at the console: the drive stays locked, and that is written once.
    timeline.At(16000, [&] { pc.bus.Plug(refusing); });
    timeline.At(25000, [&] { pc.bus.Unplug(refusing); });
    timeline.At(26000, [&] { pc.bus.Plug(refusing); });
    // Another user, who has no record: their box, in their session.
    timeline.At(40000, [&] { logOn(3, kUserB, SessionEvent::kLogon); });
    // The first user back at the console, in a session of another number.
    timeline.At(60000, [&] { logOn(2, kUserA, SessionEvent::kConsoleConnect); });
    timeline.At(80000, [&] { pc.host.Stop(0); });
    pc.host.Start();
    pc.host.Running();
    pc.host.Worker();

    EXPECT_TRUE(paired.unlocked());
    EXPECT_FALSE(refusing.unlocked());
    EXPECT_EQ(refusing.CountOf(sim::SimCommand::kWriteAuthPacket), 1u)
        << "the refused drive was tried only once its user was back";
    EXPECT_EQ(pc.sessions.boxes,
              (std::vector<std::wstring>{
                  L"3|KX7AutoConnector|Error ! This computer is not registered on the HostPair."
                  L"\r\n\r\nPlease register to use the KX7.|48|60",
                  L"2|KX7 HostPair Auto Connector|Empty Host PC ID !|48|60"}));
    EXPECT_EQ(pc.collector.records,
              (std::vector<std::wstring>{L"00-1B-21-3C-4D-5E", L"", L"00-1B-21-3C-4D-5E"}))
        << "each user's record was read, and this PC's identity collected for it";
    int nobodyEvents = 0;
    for (const std::wstring& line : pc.events.lines) {
        nobodyEvents += line == L"2007 W" ? 1 : 0;
    }
    EXPECT_EQ(nobodyEvents, 1);
    EXPECT_EQ(pc.events.lines.front(), L"1002 I 2.0.5.3");
    EXPECT_EQ(pc.events.lines.back(), L"1003 I 2.0.5.3");
    // The settings are the machine's: their defaults were written there, and nowhere else.
    EXPECT_EQ(pc.registry.StoredDword(RegRoot::kLocalMachine, kAutoConnKeyPath, L"Interval"), 10);
    EXPECT_FALSE(pc.registry.HasKey(RegRoot::kCurrentUser, kAutoConnKeyPath));
    EXPECT_FALSE(pc.registry.HasKey(RegRoot::kUsers, kUserA + L"\\" + kAutoConnKeyPath));
}

TEST(ServiceHost, StopEndsTheWorkerWithinTheBoundOrReportsStoppedWithoutIt) {
    ThreadClock clock;
    ServedPc pc(clock);
    pc.host.Start();
    std::thread worker([&pc] { pc.host.Worker(); });
    pc.host.Running();
    EXPECT_TRUE(pc.host.Stop(60000));
    worker.join();
    EXPECT_EQ(pc.status.reports,
              (std::vector<std::string>{"2/10000/0", "4/0/0", "3/5000/0", "1/0/0"}));

    // A worker that never ends (stuck in a command) is waited for no longer than the bound.
    ServedPc stuck(clock);
    stuck.host.Start();
    EXPECT_FALSE(stuck.host.Stop(1));
    EXPECT_EQ(stuck.status.reports.back(), "1/0/0");

    ServedPc failed(clock);
    failed.host.StartFailed(L"RegisterDeviceNotificationW", 87, L"The parameter is incorrect.");
    EXPECT_EQ(failed.status.reports, (std::vector<std::string>{"1/0/87"}));
    EXPECT_EQ(failed.events.lines,
              (std::vector<std::wstring>{L"1004 W RegisterDeviceNotificationW|The parameter is "
                                         L"incorrect."}));
}

}  // namespace
}  // namespace kx7::test
