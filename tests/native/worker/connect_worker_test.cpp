#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "connector/engine/worker/connector_state.h"
#include "sim/host_acceptance.h"
#include "tests/fakes/fake_device_interfaces.h"
#include "tests/fakes/silent_window.h"
#include "tests/fakes/worker_harness.h"

namespace kx7::test {
namespace {

using sim::SimCommand;

constexpr uint32_t kAllItems = 0x1F;
// The box's text as the event log holds it, on one line.
constexpr wchar_t kNotRegisteredLogged[] =
    L"Error ! This computer is not registered on the HostPair. / Please register to use the KX7.";

TEST(ConnectWorker, OneArrivalUnlocksTheDriveAndItsDiskIsCounted) {
    Connector c;
    StoreRecord(c.registry, c.fingerprint, false);
    sim::SimulatedDrive& drive = c.AddRegisteredDrive('1');
    uint64_t firstIdentifyAt = 0;
    drive.SetCommandHook([&](SimCommand command) {
        if (command == SimCommand::kReadIdentity && firstIdentifyAt == 0) {
            firstIdentifyAt = c.clock.NowMs();
        }
    });
    c.Start();
    c.At(2000, [&] { c.bus.Plug(drive); });
    uint32_t identifyAfterUnlock = 0;
    c.At(20000, [&] {
        identifyAfterUnlock = drive.CountOf(SimCommand::kReadIdentity);
        // A pass with nothing new attached; whoever raises a request wakes the worker.
        c.state->g_bConnectRequested = 1;
        c.clock.Wake();
    });
    c.Run(30000);

    EXPECT_TRUE(drive.unlocked());
    EXPECT_TRUE(c.view.Texts(ViewCall::kAppBox).empty());
    EXPECT_TRUE(c.view.Texts(ViewCall::kRefusalBox).empty());
    EXPECT_TRUE(c.view.Texts(ViewCall::kLog).empty()) << "an accepted packet leaves the log alone";
    EXPECT_EQ(c.events.lines, std::vector<std::wstring>{L"2000 A 0123456789A1|KX7|2.0|0x1F"});
    EXPECT_EQ(c.state->DeviceSerial(), L"0123456789A1");
    EXPECT_EQ(c.state->m_nDriveNodes, 1);
    EXPECT_EQ(c.state->m_nUnlockedDisks, 1);
    EXPECT_EQ(drive.lastTiming(), DriveTimingBlock().Pack());
    // The first pass waited for the settle countdown restarted by the arrival.
    EXPECT_GE(firstIdentifyAt, 2000u + 10 * 500);
    // Drive nodes and disks balance, so the later pass used the old table instead of
    // identifying drives again.
    EXPECT_EQ(drive.CountOf(SimCommand::kReadIdentity), identifyAfterUnlock);
    EXPECT_EQ(c.view.calls.back().kind, ViewCall::kWorkerDone);
    EXPECT_EQ(c.view.calls.back().text, L"10074,565");
    EXPECT_TRUE(c.state->IsFinalWorkerDone(kWorkerDoneWParam, kWorkerDoneLParam));
}

TEST(ConnectWorker, UnregisteredPcIsToldOnceUntilReconnect) {
    Connector c;
    c.Start();
    c.At(60000, [&] { c.state->RequestReconnect(); });
    c.Run(120000);
    const auto boxes = c.view.Texts(ViewCall::kAppBox);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], kNotRegisteredText);
    EXPECT_GE(c.view.calls[0].atMs, 10 * 500u);
    EXPECT_LT(c.view.calls[0].atMs, 10 * 500u + 1000);
    EXPECT_GE(c.view.calls[1].atMs, 60000u + 10 * 500);
    const std::wstring notRegistered = L"2003 W (unknown)|" + std::wstring(kNotRegisteredLogged);
    EXPECT_EQ(c.events.lines, std::vector<std::wstring>(2, notRegistered));

    // Registered but nothing attached: silent, and the request ends.
    Connector registered;
    StoreRecord(registered.registry, registered.fingerprint, false);
    registered.Start();
    registered.Run(20000);
    EXPECT_EQ(registered.view.calls.size(), 1u) << "only the worker's done message";
    EXPECT_EQ(registered.state->g_bConnectRequested, 0);
}

struct Refusal {
    const char* name;
    std::function<void(sim::SimulatedDrive&, Connector&)> arrange;
    std::wstring text;
    const wchar_t* code;  // as the event names it
    friend void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }
};

class DriveRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(DriveRefusal, IsShownInTheLogAndInABox) {
    Connector c;
    StoreRecord(c.registry, c.fingerprint, false);
    sim::SimulatedDrive& drive = c.AddRegisteredDrive('1');
    GetParam().arrange(drive, c);
    c.bus.Plug(drive);
    c.Start();
    c.Run(20000);
    EXPECT_FALSE(drive.unlocked());
    EXPECT_EQ(c.view.Texts(ViewCall::kRefusalBox), std::vector<std::wstring>{GetParam().text});
    EXPECT_EQ(c.view.Texts(ViewCall::kLog), std::vector<std::wstring>{GetParam().text});
    EXPECT_TRUE(c.view.Texts(ViewCall::kAppBox).empty());
    EXPECT_EQ(c.events.lines,
              std::vector<std::wstring>{L"2001 W 0123456789A1|KX7|" +
                                        std::wstring(GetParam().code) + L"|" + GetParam().text});
}

INSTANTIATE_TEST_SUITE_P(
    Codes, DriveRefusal,
    ::testing::Values(
        Refusal{"Disabled", [](sim::SimulatedDrive& d, Connector&) { d.SetHostPairEnabled(false); },
                L"The HostPair mode is disable. After changing the KX7 setup, use.", L"27"},
        Refusal{"NoHost", [](sim::SimulatedDrive& d, Connector&) { d.ClearHosts(); },
                L"Empty Host PC ID !", L"28"},
        Refusal{"WrongCheckValue",
                [](sim::SimulatedDrive& d, Connector& c) {
                    d.ClearHosts();
                    sim::SimHost host = HostFor(c.fingerprint, kAllItems, 0xFFFFFFFF);
                    host.checkValues[sim::kSimItemOsKey] ^= 1;
                    d.AddHost(host);
                },
                L"Can't find PC ID !", L"29"},
        Refusal{"Expired",
                [](sim::SimulatedDrive& d, Connector& c) {
                    d.ClearHosts();
                    d.AddHost(HostFor(c.fingerprint, kAllItems, sim::PackSimDate(2026, 12, 7)));
                },
                L"The system authentication has expired !", L"30"},
        Refusal{"OtherCode",
                [](sim::SimulatedDrive& d, Connector&) {
                    d.SetAuthPacketJudge([](const uint8_t*, size_t) { return uint8_t{77}; });
                },
                L"KX7 Invalid Error code !, Cmd = 41, Err Code = 77", L"77"},
        Refusal{"StatusReadFails",
                [](sim::SimulatedDrive& d, Connector&) {
                    d.SetCheckCondition(SimCommand::kReadCommandStatus, true);
                    d.SetAuthPacketJudge([](const uint8_t*, size_t) { return uint8_t{29}; });
                },
                L"KX7 System Error !, Cmd = 0, Err Code = 0", L"0"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

TEST(ConnectWorker, GatesBeforeThePacket) {
    struct Case {
        uint8_t major, minor;
        uint32_t mode;
        bool served;
    };
    const Case cases[] = {{1, 18, kAllItems, false}, {1, 19, kAllItems, true},
                          {1, 20, kAllItems, true},  {2, 0, kAllItems, true},
                          {0, 25, kAllItems, false}, {2, 0, 0, false}};
    for (const Case& k : cases) {
        Connector c;
        StoreRecord(c.registry, c.fingerprint, false);
        sim::SimIdentity identity = DriveIdentity('1');
        identity.firmwareMajor = k.major;
        identity.firmwareMinor = k.minor;
        sim::SimulatedDrive& drive = c.bus.AddDrive(identity);
        c.Register(drive, kAllItems);
        if (k.mode == 0) {
            c.registry.SetDwordValue(RegRoot::kCurrentUser,
                                     DriveBindingKeyPath(c.codePage, identity.identifier.data()),
                                     L"Mode", 0);
        }
        c.bus.Plug(drive);
        c.Start();
        c.Run(20000);
        const std::string where = std::to_string(k.major) + "." + std::to_string(k.minor);
        EXPECT_EQ(drive.unlocked(), k.served) << where;
        if (!k.served) {
            EXPECT_EQ(drive.CountOf(SimCommand::kReadDeviceStatus), 0u) << where;
            EXPECT_EQ(c.view.Texts(ViewCall::kAppBox),
                      std::vector<std::wstring>{
                          k.mode == 0 ? std::wstring(kNotRegisteredText)
                                      : L"Can't support KX7 firmware version ! (Above V1.19)"})
                << where;
            EXPECT_EQ(c.events.lines,
                      std::vector<std::wstring>{
                          k.mode == 0 ? L"2003 W 0123456789A1|" + std::wstring(kNotRegisteredLogged)
                                      : L"2004 W 0123456789A1|Can't support KX7 firmware "
                                        L"version ! (Above V1.19)"})
                << where;
        }
    }
}

TEST(ConnectWorker, ChangedIdentityReportsTheFirstDifferenceOnly) {
    Connector c;
    StoreRecord(c.registry, c.fingerprint, false);
    sim::SimulatedDrive& drive = c.AddRegisteredDrive('1', kBindDiskSerial | kBindCpuId);
    c.fingerprint.m_strDiskSerial = L"NEW-DISK";
    c.fingerprint.m_strCpuId = L"906EA";
    c.bus.Plug(drive);
    c.Start();
    c.Run(20000);
    EXPECT_EQ(c.view.Texts(ViewCall::kAppBox),
              std::vector<std::wstring>{L"Error ! System environment has changed.\r\n\r\nDisk "
                                        L"Serial : Entry( WD-WCC4N1234567 ), Current( NEW-DISK )"});
    EXPECT_EQ(c.events.lines,
              std::vector<std::wstring>{L"2002 W 0123456789A1|Disk Serial|****4567|****DISK"});
    EXPECT_FALSE(drive.unlocked());

    // The event tells which item changed, not enough of it to build a packet elsewhere, and
    // nothing in a value can start a line or be expanded when the event is shown.
    const std::tuple<uint32_t, std::wstring HostFingerprint::*, std::wstring, std::wstring>
        items[] = {
            {kBindMacAddress, &HostFingerprint::m_strMacId, L"00-1B-21-3C-4D-5",
             L"MAC ID|XX-XX-XX-XX-4D-5E|****"},
            {kBindComputerName, &HostFingerprint::m_strComputerName, L"P\r\n\t\x7F",
             L"Computer Name|****E-PC|**** \uFFFD"},
            {kBindOsKey, &HostFingerprint::m_strOsKey, L"BCDFG-HJKMP-QRTVW-XY234-%1%%4",
             L"OS Key|XXXXX-XXXXX-XXXXX-XXXXX-6789B|XXXXX-XXXXX-XXXXX-XXXXX-\uFF051\uFF05\uFF054"},
            {kBindCpuId, &HostFingerprint::m_strCpuId, L"906EA", L"CPU ID|****|****"},
        };
    for (const auto& [bit, member, current, event] : items) {
        Connector changed;
        StoreRecord(changed.registry, changed.fingerprint, false);
        sim::SimulatedDrive& bound = changed.AddRegisteredDrive('1', bit);
        changed.fingerprint.*member = current;
        changed.bus.Plug(bound);
        changed.Start();
        changed.Run(20000);
        EXPECT_EQ(changed.events.lines, std::vector<std::wstring>{L"2002 W 0123456789A1|" + event});
    }
}

TEST(ConnectWorker, InvalidDateEndsThePass) {
    Connector c;
    StoreRecord(c.registry, c.fingerprint, false);
    sim::SimulatedDrive& drive = c.AddRegisteredDrive('1');
    c.fingerprint.m_stCollected.wYear = 10000;
    c.fingerprint.m_stCollected.wMonth = 1;
    c.fingerprint.m_stCollected.wDay = 2;
    c.bus.Plug(drive);
    c.Start();
    c.Run(20000);
    EXPECT_EQ(c.view.Texts(ViewCall::kAppBox),
              std::vector<std::wstring>{
                  L"Error ! Invalid system date(10000-1-2).\r\n\r\nPlease reconnect KX7."});
    EXPECT_EQ(c.events.lines, std::vector<std::wstring>{
                                  L"2005 W 0123456789A1|Error ! Invalid system date(10000-1-2)."
                                  L" / Please reconnect KX7."});
    EXPECT_EQ(drive.CountOf(SimCommand::kReadDeviceStatus), 0u);
}

TEST(ConnectWorker, SecondDriveWaitsForTheFirstRefusalToBeDismissed) {
    Connector c;
    StoreRecord(c.registry, c.fingerprint, false);
    sim::SimulatedDrive& first = c.AddRegisteredDrive('1');
    sim::SimulatedDrive& second = c.AddRegisteredDrive('2');
    first.SetHostPairEnabled(false);
    uint32_t secondCallsWhileBoxUp = 99;
    c.view.onCall = [&](const ViewCall& call) {
        if (call.kind == ViewCall::kRefusalBox) {
            secondCallsWhileBoxUp = second.CountOf(SimCommand::kReadDeviceStatus);
        }
    };
    c.bus.Plug(first);
    c.bus.Plug(second);
    c.Start();
    c.Run(30000);
    EXPECT_EQ(secondCallsWhileBoxUp, 0u);
    EXPECT_FALSE(first.unlocked());
    EXPECT_TRUE(second.unlocked());
}

TEST(ConnectWorker, ArrivalDuringAPassBringsAnotherPassAfterTheCountdown) {
    Connector c;
    StoreRecord(c.registry, c.fingerprint, false);
    sim::SimulatedDrive& first = c.AddRegisteredDrive('1');
    sim::SimulatedDrive& late = c.AddRegisteredDrive('2');
    uint64_t pluggedAt = 0;
    first.SetCommandHook([&](SimCommand command) {
        if (command == SimCommand::kWriteAuthPacket && pluggedAt == 0) {
            pluggedAt = c.clock.NowMs();
            c.bus.Plug(late);
        }
    });
    uint64_t lateServedAt = 0;
    late.SetCommandHook([&](SimCommand command) {
        if (command == SimCommand::kReadDeviceStatus && lateServedAt == 0) {
            lateServedAt = c.clock.NowMs();
        }
    });
    c.bus.Plug(first);
    c.Start();
    c.Run(60000);
    EXPECT_TRUE(first.unlocked());
    EXPECT_TRUE(late.unlocked());
    ASSERT_GT(pluggedAt, 0u);
    EXPECT_GE(lateServedAt, pluggedAt + 10 * 500);
    EXPECT_EQ(c.state->g_bConnectRequested, 0);
}

TEST(ConnectWorker, ExitDuringAPassStillServesTheRemainingDrivesButNoneThatArrives) {
    Connector c;
    StoreRecord(c.registry, c.fingerprint, false);
    sim::SimulatedDrive& first = c.AddRegisteredDrive('1');
    sim::SimulatedDrive& second = c.AddRegisteredDrive('2');
    sim::SimulatedDrive& late = c.AddRegisteredDrive('3');
    first.SetCommandHook([&](SimCommand command) {
        if (command == SimCommand::kWriteTiming) {
            c.state->RequestQuit();
            c.bus.Plug(late);  // its arrival raises the connect request again
        }
    });
    c.bus.Plug(first);
    c.bus.Plug(second);
    c.Start();
    c.Run(600000);
    EXPECT_TRUE(first.unlocked());
    EXPECT_TRUE(second.unlocked());
    EXPECT_EQ(late.CountOf(SimCommand::kReadDeviceStatus), 0u) << "no pass after Exit";
    EXPECT_TRUE(c.view.Texts(ViewCall::kAppBox).empty());
    EXPECT_EQ(c.events.lines,
              (std::vector<std::wstring>{L"2000 A 0123456789A1|KX7|2.0|0x1F",
                                         L"2000 A 0123456789A2|KX7 FIPS|2.0|0x1F"}));
    EXPECT_LT(c.clock.NowMs(), 20000u) << "the worker ended right after the pass";
    EXPECT_EQ(c.view.calls.back().kind, ViewCall::kWorkerDone);
}

TEST(ConnectWorker, CleanupStartsOncePerRemovalAfterTenTicks) {
    for (const uint32_t os : {0x601u, 0u}) {
        Connector c(os);
        StoreRecord(c.registry, c.fingerprint, true);
        c.Start();
        // Removed, back before the countdown ran out, removed again and left out.
        c.At(10000, [&] { c.state->OnUnlockedDiskRemoval(); });
        c.At(14000, [&] { c.state->OnUnlockedDiskArrival(); });
        uint64_t startedAt = 0;
        c.At(20000, [&] { c.state->OnUnlockedDiskRemoval(); });
        c.At(25000, [&] { EXPECT_TRUE(c.shell.Started().empty()) << "not before 11 ticks"; });
        c.At(26100, [&] {
            EXPECT_EQ(c.shell.Started().size(), 1u);
            startedAt = 1;
        });
        c.Run(60000);
        EXPECT_EQ(startedAt, 1u);
        const std::wstring expected =
            os == 0 ? L"open C:\\Program Files\\Stone vault\\SVCleanRegXP.exe"
                    : L"runas C:\\Program Files\\Stone vault\\SVCleanRegWin7.exe";
        EXPECT_EQ(c.shell.Started(), std::vector<std::wstring>{expected});
        EXPECT_EQ(c.events.lines,
                  std::vector<std::wstring>{L"3000 I " + expected.substr(expected.find(L' ') + 1)});
    }

    Connector off;
    StoreRecord(off.registry, off.fingerprint, false);
    off.Start();
    off.At(1000, [&] { off.state->OnUnlockedDiskRemoval(); });
    off.Run(30000);
    EXPECT_TRUE(off.shell.Started().empty());
}

// The worker's fixed waits, read off the virtual clock: 1000 ms after an accepted packet and
// 1500 ms before a refusal's status read, and nothing else. Between device events it does not
// sleep at all but waits to be woken, and the pass starts on the tick that ends the settle
// countdown, not before and not a poll later.
TEST(ConnectWorkerTiming, WaitsAreFixedAndThePassFollowsTheCountdown) {
    Connector c;
    StoreRecord(c.registry, c.fingerprint, false);
    sim::SimulatedDrive& accepting = c.AddRegisteredDrive('A');
    sim::SimulatedDrive& refusing = c.AddRegisteredDrive('R');
    refusing.SetHostPairEnabled(false);
    std::vector<std::pair<SimCommand, uint64_t>> commands;
    auto record = [&](SimCommand command) { commands.push_back({command, c.clock.NowMs()}); };
    accepting.SetCommandHook(record);
    refusing.SetCommandHook(record);
    c.Start();
    c.At(3000, [&] { c.bus.Plug(accepting); });
    c.At(3000, [&] { c.bus.Plug(refusing); });
    c.Run(20000);

    EXPECT_EQ(c.clock.sleeps(), (std::vector<uint32_t>{1000, 1500}));
    ASSERT_FALSE(commands.empty());
    // The arrival at 3000 restarted the countdown of 10 ticks.
    EXPECT_EQ(commands.front().second, 3000u + 10 * 500);
    // One wake-up per event of the window (start, arrivals, end of the countdown, the unlocked
    // disk, Exit) and per fixed wait: a worker that looked every 50 ms would have woken 400
    // times in these 20 s.
    EXPECT_LE(c.clock.resumes().size(), 10u);

    uint64_t acceptedAt = 0;
    uint64_t refusedPacketAt = 0;
    uint64_t statusAt = 0;
    for (const auto& [command, time] : commands) {
        if (command == SimCommand::kWriteAuthPacket) {
            (acceptedAt == 0 ? acceptedAt : refusedPacketAt) = time;
        } else if (command == SimCommand::kReadCommandStatus && refusedPacketAt != 0) {
            statusAt = time;
        }
    }
    ASSERT_NE(refusedPacketAt, 0u);
    EXPECT_EQ(refusedPacketAt - acceptedAt, 1000u) << "nothing else waits in between";
    EXPECT_EQ(statusAt - refusedPacketAt, 1500u);
    EXPECT_TRUE(accepting.unlocked());
}

// With "Interval" 0 no tick ends a countdown, so the requests themselves must wake the worker:
// the start, an arrival and a Reconnect each bring a pass at once. Ticks alone wake nobody.
TEST(ConnectWorkerTiming, WithoutCountdownEveryRequestWakesTheWorker) {
    FakeClock clock;
    FakeRegistry registry;
    StoreRecord(registry, MatchingFingerprint(), false);
    // Lists no drive and notes when it was asked, which is when a pass starts: every request
    // here also asks for a rescan.
    FakeDeviceInterfaces interfaces;
    std::vector<uint64_t> passes;
    interfaces.onListing = [&] { passes.push_back(clock.NowMs()); };
    Latin1CodePage codePage;
    SilentView view;
    NoShell shell;
    ConnectorSettings settings;
    settings.m_nInterval = 0;
    ConnectorState state(settings, view,
                         ConnectorServices{clock, registry, interfaces, codePage, shell});
    state.LoadRecordAtStartup();
    state.ReplaceFingerprint(MatchingFingerprint());
    state.RequestInitialScan();

    // The window's side in virtual time: a tick every 500 ms, an arrival, a Reconnect, Exit.
    std::map<uint64_t, std::function<void()>> script = {
        {1234, [&] { state.OnDriveNodeArrival(true, L"0123456789AB"); }},
        {7777, [&] { state.RequestReconnect(); }},
        {20000, [&] { state.RequestQuit(); }}};
    uint64_t nextTick = 500;
    clock.OnIdle(
        [&] { return script.empty() ? nextTick : std::min(nextTick, script.begin()->first); });
    clock.OnSleep([&](uint32_t) {
        for (; nextTick <= clock.NowMs(); nextTick += 500) {
            state.OnTickTimer();
        }
        while (!script.empty() && script.begin()->first <= clock.NowMs()) {
            const std::function<void()> action = script.begin()->second;
            script.erase(script.begin());
            action();
        }
    });
    ConnectThreadProc(&state);

    EXPECT_EQ(passes, (std::vector<uint64_t>{0, 1234, 7777}));
    EXPECT_TRUE(clock.sleeps().empty());
    EXPECT_LE(clock.resumes().size(), 4u) << "40 ticks came and went";
}

TEST(ConnectWorkerTiming, OnlyTheExactDoneMessageAfterExitEndsTheProgram) {
    Connector c;
    EXPECT_FALSE(c.state->IsFinalWorkerDone(kWorkerDoneWParam, kWorkerDoneLParam)) << "before Exit";
    c.state->g_bQuit = 1;
    EXPECT_TRUE(c.state->IsFinalWorkerDone(10074, 565));
    EXPECT_FALSE(c.state->IsFinalWorkerDone(10075, 565));
    EXPECT_FALSE(c.state->IsFinalWorkerDone(10074, 564));
    EXPECT_FALSE(c.state->IsFinalWorkerDone(0, 0));
}

// A Reconnect chosen while a pass shows its box is a request of its own: the pass that ends
// afterwards must not clear it.
TEST(ConnectWorkerRequests, ReconnectDuringABoxIsServedAfterIt) {
    Connector c;
    StoreRecord(c.registry, c.fingerprint, false);
    sim::SimulatedDrive& drive = c.AddRegisteredDrive('1');
    drive.SetHostPairEnabled(false);
    bool reconnected = false;
    c.view.onCall = [&](const ViewCall& call) {
        if (call.kind == ViewCall::kRefusalBox && !reconnected) {
            reconnected = true;
            drive.SetHostPairEnabled(true);  // the user fixed the drive meanwhile
            c.state->RequestReconnect();
        }
    };
    c.Start();
    c.At(1000, [&] { c.bus.Plug(drive); });
    c.Run(30000);
    EXPECT_TRUE(reconnected);
    EXPECT_TRUE(drive.unlocked()) << "the Reconnect made during the box was served";
    EXPECT_EQ(drive.CountOf(SimCommand::kWriteAuthPacket), 2u);
    EXPECT_EQ(c.state->g_bConnectRequested, 0) << "and then the request ended";
}

// The PC is paired while the connector runs: the fingerprint taken at start, without a record,
// chose no adapter. The pass that first finds the record takes the fingerprint again.
TEST(ConnectWorkerRequests, RecordFoundLaterBringsAFreshFingerprint) {
    for (const bool withCollector : {true, false}) {
        FixedCollector collector(MatchingFingerprint());
        Connector c(0x601, withCollector ? &collector : nullptr);
        sim::SimulatedDrive& drive = c.AddRegisteredDrive('1');
        HostFingerprint atStart = c.fingerprint;
        atStart.m_strMacId.clear();  // no record: no adapter chosen
        atStart.m_strNicDescription.clear();
        c.fingerprint = atStart;
        c.Start();
        c.fingerprint = MatchingFingerprint();
        StoreRecord(c.registry, c.fingerprint, false);  // the registration program runs now
        c.At(1000, [&] { c.bus.Plug(drive); });
        c.Run(20000);
        if (withCollector) {
            EXPECT_TRUE(drive.unlocked());
            EXPECT_TRUE(c.view.Texts(ViewCall::kAppBox).empty());
            EXPECT_EQ(collector.records, std::vector<std::wstring>{c.fingerprint.m_strMacId})
                << "collected once, for the record found";
        } else {
            EXPECT_FALSE(drive.unlocked()) << "the stale fingerprint fails the MAC check";
            ASSERT_EQ(c.view.Texts(ViewCall::kAppBox).size(), 1u);
            EXPECT_EQ(c.view.Texts(ViewCall::kAppBox)[0].rfind(
                          L"Error ! System environment has changed.", 0),
                      0u);
        }
    }
}

// A drive's machine-wide turn is held around its commands (marked *), discovery's included, and
// given back before the box. A drive whose turn another program holds is left alone, with an
// event and no box.
TEST(ConnectWorkerServers, TheTurnIsHeldWhileTalkingToTheDriveOnly) {
    Connector c;
    StoreRecord(c.registry, c.fingerprint, false);
    sim::SimulatedDrive& busy = c.AddRegisteredDrive('0');
    sim::SimulatedDrive& refusing = c.AddRegisteredDrive('1');
    refusing.SetHostPairEnabled(false);
    const std::wstring lock = L"Global\\KX7HostPair.Drive.0123456789A1";
    c.locks.held.insert(L"Global\\KX7HostPair.Drive.0123456789A0");
    const wchar_t* names[] = {L"inquiry", L"announce", L"identity", L"command status",
                              L"setup",   L"status",   L"timing",   L"packet"};
    refusing.SetCommandHook([&](SimCommand command) {
        const bool held = c.locks.held.count(lock) != 0;
        c.locks.trace.push_back(names[static_cast<int>(command)] + std::wstring(held ? L"*" : L""));
    });
    c.view.onCall = [&](const ViewCall& call) {
        if (call.kind == ViewCall::kRefusalBox) {
            c.locks.trace.push_back(L"box");
        }
    };
    c.bus.Plug(busy);
    c.bus.Plug(refusing);
    c.Start();
    c.Run(20000);
    EXPECT_EQ(c.locks.trace,
              (std::vector<std::wstring>{L"take " + lock, L"identity*", L"inquiry*",
                                         L"give " + lock, L"take " + lock, L"status*", L"setup*",
                                         L"announce*", L"timing*", L"announce*", L"packet*",
                                         L"command status*", L"give " + lock, L"box"}));
    EXPECT_EQ(busy.CountOf(SimCommand::kReadIdentity), 0u);
    EXPECT_EQ(c.events.lines[0], L"2006 W 0123456789A0|10");
    EXPECT_EQ(c.view.Texts(ViewCall::kAppBox).size(), 0u);
}

// While the service runs, passes send nothing to any drive and show one line in the log, after
// the device lines; once it has stopped, a Reconnect serves the drives.
TEST(ConnectWorkerServers, WhileTheServiceRunsNoDriveIsTouched) {
    Connector c;
    StoreRecord(c.registry, c.fingerprint, false);
    sim::SimulatedDrive& drive = c.AddRegisteredDrive('1');
    c.service.running = true;
    c.bus.Plug(drive);
    c.Start();
    c.At(10000, [&] { c.state->RequestReconnect(); });
    std::wstring logWhileRunning;
    c.At(20000, [&] {
        EXPECT_EQ(drive.CountOf(SimCommand::kReadIdentity), 0u);
        logWhileRunning = c.view.logText;
        c.service.running = false;
        c.state->RequestReconnect();
    });
    c.Run(40000);
    EXPECT_EQ(logWhileRunning,
              L"Adding USB\\VID_6B2F&PID_1180\\0123456789A1\r\nThe KX7 HostPair "
              L"Auto Connector Service unlocks the drives on this PC; this program "
              L"sends them nothing.\r\n");
    EXPECT_TRUE(drive.unlocked());
}

}  // namespace
}  // namespace kx7::test
