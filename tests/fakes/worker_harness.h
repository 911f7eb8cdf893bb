// A connector with no window: the state under test, a recording view, the simulated bus and
// registry, the device tracking over an in-memory tree, and a script that plays the user-interface
// thread in virtual time. The worker runs on the test's own thread; every sleep it makes advances
// the clock, fires the 500 ms ticks and any scripted action that has come due, and a wait for a
// wake runs the ticks and actions one after another until one of them wakes it, so a whole flow
// runs deterministically at once.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "connector/engine/worker/connector_state.h"
#include "connector/devtree/device_tree.h"
#include "sim/simulated_bus.h"
#include "sim/seams/sim_seams.h"
#include "tests/fakes/fake_clock.h"
#include "tests/fakes/fake_device_info.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/fake_tree_control.h"
#include "tests/fakes/latin1_code_page.h"
#include "tests/fakes/recording_shell.h"

namespace kx7::test {

struct ViewCall {
    enum Kind { kLog, kSerial, kAppBox, kRefusalBox, kWorkerDone, kTreeErrorBox } kind;
    std::wstring text;
    uint64_t atMs;
};

class RecordingView final : public ConnectorView, public DeviceTreeUi {
  public:
    explicit RecordingView(FakeClock& clock) : clock_(clock) {}
    // The worker's writes to the log are recorded; the device tracking's lines only change the
    // text, as both write the same edit control.
    void SetLogText(const std::wstring& text) override {
        logText = text;
        Add(ViewCall::kLog, text);
    }
    void AddLogLine(const std::wstring& line) override { logText += line; }
    void SetDeviceSerialText(const std::wstring& text) override { Add(ViewCall::kSerial, text); }
    void ShowAppMessage(const std::wstring& text) override { Add(ViewCall::kAppBox, text); }
    void ShowRefusal(const std::wstring& text) override { Add(ViewCall::kRefusalBox, text); }
    void PostWorkerDone(uintptr_t wParam, intptr_t lParam) override {
        Add(ViewCall::kWorkerDone, std::to_wstring(wParam) + L"," + std::to_wstring(lParam));
    }
    WindowHandle OwnerWindow() override { return 0x4711; }

    std::wstring GetLogEditText() override { return logText; }
    void SetLogEditText(const std::wstring& text) override { logText = text; }
    void ShowError(const std::wstring& text) override { Add(ViewCall::kTreeErrorBox, text); }

    std::wstring logText;
    std::vector<ViewCall> calls;
    // Runs as the call is made, as if a box were up until it returns.
    std::function<void(const ViewCall&)> onCall;

    std::vector<std::wstring> Texts(ViewCall::Kind kind) const {
        std::vector<std::wstring> texts;
        for (const ViewCall& c : calls) {
            if (c.kind == kind) {
                texts.push_back(c.text);
            }
        }
        return texts;
    }

  private:
    void Add(ViewCall::Kind kind, const std::wstring& text) {
        calls.push_back({kind, text, clock_.NowMs()});
        if (onCall) {
            onCall(calls.back());
        }
    }
    FakeClock& clock_;
};

// The events the worker writes, one line each: the ID, I, W or A (information, warning, audit
// success) and the insertion strings joined by "|".
class RecordingEventLog final : public EventLog {
  public:
    std::vector<std::wstring> lines;

  private:
    void Write(EventType type, uint32_t eventId,
               const std::vector<std::wstring>& strings) override {
        std::wstring line = std::to_wstring(eventId) + L" " +
                            (type == EventType::kWarning        ? L"W"
                             : type == EventType::kAuditSuccess ? L"A"
                                                                : L"I");
        for (size_t i = 0; i < strings.size(); ++i) {
            line += (i == 0 ? L" " : L"|") + strings[i];
        }
        lines.push_back(line);
    }
};

// The machine's drive locks: each take and give-back goes into trace ("take NAME", "give NAME"),
// where a test may interleave the drive's commands. A name in held (this connector's turn, or a
// test's entry for another program's) cannot be taken.
class FakeDriveTurnLocks final : public DriveTurnLocks {
  public:
    std::unique_ptr<HeldDriveTurn> Take(const std::wstring& name, uint32_t) override {
        if (!held.insert(name).second) {
            return nullptr;
        }
        trace.push_back(L"take " + name);
        return std::make_unique<Held>(this, name);
    }
    std::vector<std::wstring> trace;
    std::set<std::wstring> held;

  private:
    struct Held final : HeldDriveTurn {
        Held(FakeDriveTurnLocks* l, std::wstring n) : locks(l), name(std::move(n)) {}
        ~Held() override {
            locks->held.erase(name);
            locks->trace.push_back(L"give " + name);
        }
        FakeDriveTurnLocks* locks;
        std::wstring name;
    };
};

struct FakeServicePresence final : ServicePresence {
    bool HostPairServiceRunning() override { return running; }
    bool running = false;
};

// Plays the user-interface thread in virtual time: each sleep of the worker runs the 500 ms ticks
// and the scripted actions that have come due, in order, and a worker waiting for a wake sleeps
// until the next of them.
class VirtualTimeline {
  public:
    VirtualTimeline(FakeClock& clock, std::function<void()> tick);
    // Schedules action to run on the first sleep at or after atMs of virtual time.
    void At(uint64_t atMs, std::function<void()> action);

  private:
    void OnSleep();
    // When the next tick or scripted action is due.
    uint64_t NextEventAt() const;

    FakeClock& clock_;
    std::function<void()> tick_;
    uint64_t nextTickMs_ = 500;
    std::multimap<uint64_t, std::function<void()>> script_;
};

// Collects the same fingerprint for every record, noting each record's MAC address.
class FixedCollector final : public FingerprintCollector {
  public:
    explicit FixedCollector(HostFingerprint fingerprint) : fingerprint_(std::move(fingerprint)) {}
    HostFingerprint Collect(const RegisteredPcRecord& record) override {
        records.push_back(record.m_strMacId);
        return fingerprint_;
    }
    std::vector<std::wstring> records;

  private:
    HostFingerprint fingerprint_;
};

// The registered texts of this PC, which the fingerprint matches unless a test changes it.
HostFingerprint MatchingFingerprint();
void StoreRecord(FakeRegistry& registry, const HostFingerprint& fp, bool cleanRegistry,
                 RegRoot root = RegRoot::kCurrentUser, const std::wstring& under = L"");
// The drive's host entry for this PC as the registration program would write it.
sim::SimHost HostFor(const HostFingerprint& fp, uint32_t mask, uint32_t expiry);
sim::SimIdentity DriveIdentity(char tag);

class Connector {
  public:
    explicit Connector(uint32_t osVersion = 0x601, FingerprintCollector* collector = nullptr);
    // Frees the blocks the tracking hung on the tree's nodes, as the window does when it goes.
    ~Connector();

    // Binds the drive to this PC: a host entry on the drive and "Mode" in the registry.
    void Register(sim::SimulatedDrive& drive, uint32_t mask);
    // Adds a drive to the bus, made from DriveIdentity(tag) and bound to this PC for mask.
    sim::SimulatedDrive& AddRegisteredDrive(char tag, uint32_t mask = 0x1F);
    // Start-up as the window does it: record, fingerprint, initial scan request. The drives on
    // the bus take the fingerprint's date as theirs.
    void Start();
    // Runs the worker until it ends; the script sets the quit request at quitAtMs at the
    // latest, or earlier through its own actions.
    void Run(uint64_t quitAtMs);
    void At(uint64_t atMs, std::function<void()> action) { timeline_.At(atMs, std::move(action)); }

    FakeClock clock;
    FakeRegistry registry;
    sim::SimulatedBus bus;
    sim::SimBusInterfaces busInterfaces{bus};
    Latin1CodePage codePage;
    RecordingShell shell;
    RecordingView view{clock};
    RecordingEventLog events;
    FakeDriveTurnLocks locks;
    FakeServicePresence service;
    HostFingerprint fingerprint = MatchingFingerprint();
    std::unique_ptr<ConnectorState> state;
    // The window's device tracking, fed with the bus's notifications.
    FakeTreeControl tree;
    FakeDeviceInfoSource devices;
    AsciiTextComparer compare;
    std::unique_ptr<DeviceTree> deviceTree;

  private:
    void OnEvent(const sim::SimDeviceEvent& event);

    VirtualTimeline timeline_{clock, [this] { state->OnTickTimer(); }};
};

}  // namespace kx7::test
