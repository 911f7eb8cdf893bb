// The service's host of the connect engine: what the main window is to the tray connector, with
// no window. It reads the settings from the machine and the record and bindings of the user at
// the console, hands device events, the 500 ms tick and session changes to the same state and
// worker, shows the engine's boxes in the console user's session, and reports its states to the
// service control manager. Everything but the worker runs on the service's own thread, one call
// at a time; the calls of ConnectorView and ConsoleUserPresence come from the worker.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "connector/devtree/device_tracking.h"
#include "connector/engine/audit_trail.h"
#include "connector/engine/worker/connector_state.h"
#include "connector/platform/os_version.h"
#include "service/redirected_registry.h"

namespace kx7 {

// The tray connector's boxes are captioned with its program's name; the service's the same.
extern const wchar_t kAppMessageCaption[];  // "KX7AutoConnector"

// A box in the user's session answers within this time or goes away unanswered, so that the
// worker, which waits for it, never leaves the drives unserved for longer.
constexpr uint32_t kSessionBoxTimeoutSeconds = 60;
// On stop, shutdown or pre-shutdown the running drive turn gets as long as at log-off.
constexpr uint32_t kServiceStopWaitMs = 1500;
// The wait hints that go with the pending states.
constexpr uint32_t kStartWaitHintMs = 10000;
constexpr uint32_t kStopWaitHintMs = 5000;

// The states a service reports, numbered as the system numbers them.
enum class ServiceState : uint32_t {
    kStopped = 1,
    kStartPending = 2,
    kStopPending = 3,
    kRunning = 4,
};

class ServiceStatusSink {
  public:
    virtual ~ServiceStatusSink() = default;
    // exitCode is the system error the service stops with, 0 for a clean stop.
    virtual void Report(ServiceState state, uint32_t waitHintMs, uint32_t exitCode) = 0;
};

// The user at the console, and the boxes the service shows them.
class ConsoleSessions {
  public:
    virtual ~ConsoleSessions() = default;
    // The session attached to the console and the SID of the user logged on in it, as text.
    // False when nobody is logged on there.
    virtual bool ConsoleUser(uint32_t* session, std::wstring* userSid) = 0;
    // A box in the session; returns once answered, or after timeoutSeconds.
    virtual void ShowBox(uint32_t session, const std::wstring& caption, const std::wstring& text,
                         uint32_t style, uint32_t timeoutSeconds) = 0;
};

// The session changes the service is told of, numbered as the system numbers them.
enum class SessionEvent : uint32_t {
    kConsoleConnect = 1,
    kConsoleDisconnect = 2,
    kLogon = 5,
    kLogoff = 6,
    kUnlock = 8,
};

struct ServiceHostServices {
    Clock& clock;
    // The machine's registry, seen by the host through two views: the settings in the
    // machine's keys, the record and bindings in the console user's.
    Registry& registry;
    DeviceInterfaces& interfaces;
    AnsiCodePage& codePage;
    // Starts the cleanup tool in the console user's session, as that user.
    ShellLauncher& shell;
    FingerprintCollector& collector;
    OsVersionSource& os;
    TextComparer& compare;
    ConsoleSessions& sessions;
    ServiceStatusSink& status;
    EventLog* events = nullptr;
    DriveTurnLocks* turnLocks = nullptr;
};

class ServiceHost final : public ConnectorView, public ConsoleUserPresence {
  public:
    ServiceHost(ServiceHostServices services, std::wstring version);
    ServiceHost(const ServiceHost&) = delete;
    ServiceHost& operator=(const ServiceHost&) = delete;

    // Reports the start, reads the settings, the console user's record and this PC's identity,
    // and asks for the first pass. The caller then listens for device events, runs Worker on a
    // thread of its own and calls Running.
    void Start();
    void Running();
    // A step of the start failed with the system's error: written to the event log with the
    // reason, and the service reports itself stopped with that error.
    void StartFailed(const std::wstring& step, uint32_t error, const std::wstring& reason);
    // The worker thread's body; returns once a stop has ended it.
    void Worker();

    void OnDeviceEvent(const std::wstring& interfaceName, DeviceEvent event);
    void OnTick();
    // Log-on, unlock and console connect do what Reconnect does, for the user now at the
    // console; log-off and console disconnect only take note of who is there.
    void OnSessionChange(SessionEvent event);
    // Stop, shutdown, pre-shutdown: the end a confirmed Exit gives, with the running drive
    // turn waited for up to waitMs. Reports stopped either way; false when the worker did not
    // end in time, and the process must then end around it.
    bool Stop(uint32_t waitMs = kServiceStopWaitMs);

    // ConnectorView. There is no log or serial line to show: what matters to the
    // administrator is in the event log.
    void SetLogText(const std::wstring&) override {}
    void AddLogLine(const std::wstring&) override {}
    void SetDeviceSerialText(const std::wstring&) override {}
    void ShowAppMessage(const std::wstring& text) override;
    // No beep: a service has no sound in the user's session.
    void ShowRefusal(const std::wstring& text) override;
    void PostWorkerDone(uintptr_t wParam, intptr_t lParam) override;
    WindowHandle OwnerWindow() override { return 0; }

    bool UserAtConsole() override { return userAtConsole_; }

  private:
    // Points the record's view at the user now at the console; true when there is one.
    bool FollowConsoleUser();
    // Reads the console user's record and collects this PC's identity for it.
    void ReadRecordAndIdentity();
    void ShowBox(const std::wstring& caption, const std::wstring& text);

    ServiceHostServices s_;
    const std::wstring version_;
    AuditTrail audit_;
    RedirectedRegistry settingsView_;
    RedirectedRegistry recordView_;
    std::unique_ptr<ConnectorState> state_;
    std::atomic<bool> userAtConsole_{false};
    std::atomic<uint32_t> session_{0};
    std::mutex doneMutex_;
    std::condition_variable doneSignal_;
    bool workerDone_ = false;
};

}  // namespace kx7
