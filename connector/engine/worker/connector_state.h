// The connector's run-time state and the logic on it: the connect worker with its passes, and
// the small operations through which the window's timer, commands and device tracking steer
// it. The main window owns one of these and implements ConnectorView; nothing here touches a
// window directly, so a whole connect flow runs in a test without one.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "connector/device/device_interfaces.h"
#include "connector/device/device_table.h"
#include "connector/devtree/device_tracking.h"
#include "connector/engine/audit_trail.h"
#include "connector/engine/cleanup_launcher.h"
#include "connector/platform/clock.h"
#include "connector/platform/code_page.h"
#include "connector/platform/guarded.h"
#include "connector/engine/record.h"
#include "connector/platform/registry.h"
#include "connector/engine/settings.h"
#include "connector/engine/worker/auth_packet.h"
#include "connector/engine/worker/drive_turn_lock.h"
#include "connector/engine/worker/service_presence.h"
#include "connector/hostid/fingerprint.h"
#include "connector/hostid/system_info.h"

namespace kx7 {

// The message the worker leaves behind when it ends; only these exact parameters, after a
// confirmed Exit, end the program.
constexpr uint32_t WM_CONNECT_WORKER_DONE = 0x0400 + 0x52;
constexpr uintptr_t kWorkerDoneWParam = 10074;
constexpr intptr_t kWorkerDoneLParam = 565;

constexpr uint32_t kAcceptedWaitMs = 1000;  // the drive unlocks by itself meanwhile
constexpr uint32_t kRefusedWaitMs = 1500;   // before its status can be read
// The cleanup tool starts once an unlocked disk has been gone for more than this many ticks.
constexpr int32_t kRemovalTicksBeforeCleanup = 10;
constexpr uint8_t kMinFirmwareMajor = 1;
constexpr uint8_t kMinFirmwareMinor = 19;

extern const wchar_t kRefusalCaption[];  // "KX7 HostPair Auto Connector"
// The log's line while the service serves the drives instead of this program.
extern const wchar_t kServiceServesText[];

// How the state reaches the window. The calls may come from the worker thread.
class ConnectorView {
  public:
    virtual ~ConnectorView() = default;
    // Replaces the whole text of the log edit.
    virtual void SetLogText(const std::wstring& text) = 0;
    // Adds a line at the end of the log edit, after the device tracking's lines.
    virtual void AddLogLine(const std::wstring& line) = 0;
    // Shows text in the Device Serial edit.
    virtual void SetDeviceSerialText(const std::wstring& text) = 0;
    // The application's message box: OK only, exclamation icon; returns once dismissed.
    virtual void ShowAppMessage(const std::wstring& text) = 0;
    // A drive's refusal: a question beep, then an owner-less OK box with the exclamation icon
    // captioned kRefusalCaption; returns once dismissed.
    virtual void ShowRefusal(const std::wstring& text) = 0;
    // Posts WM_CONNECT_WORKER_DONE with these parameters to the window.
    virtual void PostWorkerDone(uintptr_t wParam, intptr_t lParam) = 0;
    // The window that owns an elevation prompt.
    virtual WindowHandle OwnerWindow() = 0;
};

// The platform services the worker uses.
struct ConnectorServices {
    Clock& clock;
    Registry& registry;
    DeviceInterfaces& interfaces;
    AnsiCodePage& codePage;
    ShellLauncher& shell;
    // When a pass finds the record that was missing at start-up, the fingerprint taken without
    // it is collected again; without a collector it is kept.
    FingerprintCollector* collector = nullptr;
    // Where the turns' outcomes are written for the administrator; none, nothing is written.
    EventLog* events = nullptr;
    // The machine-wide turn of each drive, shared with every other server on the PC; none, the
    // turns take no lock (a test with a single server).
    DriveTurnLocks* turnLocks = nullptr;
    // Whether the service serves the drives instead; none, this program always does.
    ServicePresence* service = nullptr;
    // The service's: passes run only while somebody is logged on at the console; none, always.
    ConsoleUserPresence* console = nullptr;
};

class ConnectorState final : public DriveNodeTracking {
  public:
    ConnectorState(const ConnectorSettings& settings, ConnectorView& view,
                   ConnectorServices services);
    ConnectorState(const ConnectorState&) = delete;
    ConnectorState& operator=(const ConnectorState&) = delete;

    // --- User-interface thread -------------------------------------------------------------
    // Start-up: loads the record (silently; the worker retries and reports).
    bool LoadRecordAtStartup();
    // A consistent copy of the registered record, for the fingerprint collection.
    RegisteredPcRecord RecordCopy() const { return m_record.Copy(); }
    // Publishes a freshly collected fingerprint in one piece.
    void ReplaceFingerprint(HostFingerprint fingerprint);
    HostFingerprint FingerprintCopy() const { return m_fingerprint.Copy(); }
    // The end of the window's initialisation, just before the worker thread starts.
    void RequestInitialScan();
    // Reconnect, after the fingerprint has been collected again and replaced.
    void RequestReconnect();
    // A confirmed Exit: no new pass starts, the running one finishes, the worker ends.
    void RequestQuit();
    // The 500 ms tick.
    void OnTickTimer();
    // True when the worker's done message means the program should end now.
    bool IsFinalWorkerDone(uintptr_t wParam, intptr_t lParam) const;

    // The device tracking's notes on a KX7's USB node and its unlocked disk.
    void OnDriveNodeArrival(bool hasSerial, const std::wstring& serial) override;
    void OnDriveNodeRemoval(bool hasSerial) override;
    void OnUnlockedDiskArrival() override;
    void OnUnlockedDiskRemoval() override;

    // --- Worker thread -----------------------------------------------------------------------
    // Runs until a quit is seen, then posts WM_CONNECT_WORKER_DONE.
    void ConnectWorker();

    // --- State, named as the window's members ------------------------------------------------
    // The requests between the window and the worker, 32-bit booleans: ends the worker's loop,
    // a pass is wanted, the device table must be rebuilt before it.
    std::atomic<int32_t> g_bQuit{0};
    std::atomic<int32_t> g_bConnectRequested{0};
    std::atomic<int32_t> g_bRescanRequested{0};
    const ConnectorSettings m_settings;
    std::atomic<int32_t> m_nSettleTicks{0};
    std::atomic<int32_t> m_bRemovalPending{0};
    std::atomic<int32_t> m_nRemovalTicks{0};
    std::atomic<int32_t> m_nDriveNodes{0};
    std::atomic<int32_t> m_nUnlockedDisks{0};
    std::atomic<int32_t> m_nDriveCount{0};
    std::atomic<int32_t> m_bRecordLoaded{0};
    std::atomic<int32_t> m_bCleanRegistry{0};
    const uint32_t m_nOsVersion;

    std::wstring DeviceSerial() const { return m_strDeviceSerial.Copy(); }
    // Touched by the worker only; tests read it between passes.
    const DeviceTable& deviceTable() const { return m_deviceTable; }

  private:
    // The cleanup tool is wanted and an unlocked disk has been gone for long enough.
    bool CleanupDue() const;
    void RunPass();
    // True when the service serves the drives, so this pass leaves them alone; says so in the
    // log once each time the service is found running after it was not.
    bool ServiceServesTheDrives();
    // True when the service has nobody at the console to serve; writes that to the event log
    // once each time it is found after there was somebody.
    bool NobodyAtTheConsole();
    // Ends the pending request, unless another one was made since the pass began.
    void EndRequest(uint32_t requestsAtStart);
    void DriveTurn(size_t slot, const RegisteredPcRecord& record,
                   const HostFingerprint& fingerprint);
    void PublishRecord(const RegisteredPcRecord& record, bool loaded);
    void ShowDeviceSerial(const std::wstring& serial);

    ConnectorView& view_;
    ConnectorServices services_;
    AuditTrail audit_;
    // Counts the requests for a pass (Reconnect, drive arrivals), so a pass can tell whether one
    // came while it ran.
    std::atomic<uint32_t> m_nConnectRequests{0};
    Guarded<RegisteredPcRecord> m_record;
    Guarded<HostFingerprint> m_fingerprint;
    Guarded<std::wstring> m_strDeviceSerial;
    DeviceTable m_deviceTable{};
    // The worker's own: the service was running at the last pass, and the log has said so.
    bool serviceWasRunning_ = false;
    bool nobodyWasAtTheConsole_ = false;
    // The worker's packet buffers live with the state, so there is nothing to allocate (and
    // nothing that could fail) once the program runs.
    std::array<uint8_t, kAuthBufferSize> plaintext_{};
    std::array<uint8_t, kAuthBufferSize> ciphertext_{};
};

// The worker thread's entry: raises the connect request, runs the worker, returns 0.
uint32_t ConnectThreadProc(ConnectorState* state);

}  // namespace kx7
