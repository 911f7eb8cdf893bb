#include "service/service_host.h"

#include <chrono>
#include <utility>

#include "connector/engine/record.h"

namespace kx7 {

const wchar_t kAppMessageCaption[] = L"KX7AutoConnector";

namespace {

// OK only, with the exclamation icon: the style of both kinds of box.
constexpr uint32_t kBoxStyle = 0x30;

}  // namespace

ServiceHost::ServiceHost(ServiceHostServices services, std::wstring version)
    : s_(services),
      version_(std::move(version)),
      audit_(services.events),
      settingsView_(services.registry),
      recordView_(services.registry) {
    settingsView_.ToMachine();
    recordView_.ToUser(std::wstring());
}

void ServiceHost::Start() {
    s_.status.Report(ServiceState::kStartPending, kStartWaitHintMs, 0);
    ConnectorSettings settings;
    LoadConnectorSettings(settingsView_, s_.os, &settings);
    state_ = std::make_unique<ConnectorState>(
        settings, *this,
        ConnectorServices{s_.clock, recordView_, s_.interfaces, s_.codePage, s_.shell,
                          &s_.collector, s_.events, s_.turnLocks, nullptr, this});
    FollowConsoleUser();
    ReadRecordAndIdentity();
    state_->RequestInitialScan();
}

void ServiceHost::Running() {
    s_.status.Report(ServiceState::kRunning, 0, 0);
    audit_.ServiceStarted(version_);
}

void ServiceHost::StartFailed(const std::wstring& step, uint32_t error,
                              const std::wstring& reason) {
    audit_.ServiceNotStarted(step, reason);
    s_.status.Report(ServiceState::kStopped, 0, error);
}

void ServiceHost::Worker() {
    ConnectThreadProc(state_.get());
}

bool ServiceHost::FollowConsoleUser() {
    uint32_t session = 0;
    std::wstring sid;
    const bool present = s_.sessions.ConsoleUser(&session, &sid) && !sid.empty();
    recordView_.ToUser(present ? sid : std::wstring());
    session_ = session;
    userAtConsole_ = present;
    return present;
}

void ServiceHost::ReadRecordAndIdentity() {
    state_->LoadRecordAtStartup();
    state_->ReplaceFingerprint(s_.collector.Collect(state_->RecordCopy()));
}

void ServiceHost::OnDeviceEvent(const std::wstring& interfaceName, DeviceEvent event) {
    TrackDriveNodes(s_.compare, *state_, InstanceIdFromInterfaceName(interfaceName), event);
}

void ServiceHost::OnTick() {
    state_->OnTickTimer();
}

void ServiceHost::OnSessionChange(SessionEvent event) {
    const bool present = FollowConsoleUser();
    const bool newUserAtConsole = event == SessionEvent::kLogon || event == SessionEvent::kUnlock ||
                                  event == SessionEvent::kConsoleConnect;
    if (present && newUserAtConsole) {
        ReadRecordAndIdentity();
        state_->RequestReconnect();
    }
}

bool ServiceHost::Stop(uint32_t waitMs) {
    s_.status.Report(ServiceState::kStopPending, kStopWaitHintMs, 0);
    bool ended = true;
    if (state_ != nullptr) {
        state_->RequestQuit();
        std::unique_lock<std::mutex> lock(doneMutex_);
        ended = doneSignal_.wait_for(lock, std::chrono::milliseconds(waitMs),
                                     [this] { return workerDone_; });
    }
    audit_.ServiceEnded(version_);
    s_.status.Report(ServiceState::kStopped, 0, 0);
    return ended;
}

void ServiceHost::PostWorkerDone(uintptr_t wParam, intptr_t lParam) {
    if (!state_->IsFinalWorkerDone(wParam, lParam)) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(doneMutex_);
        workerDone_ = true;
    }
    doneSignal_.notify_all();
}

void ServiceHost::ShowBox(const std::wstring& caption, const std::wstring& text) {
    // Nobody at the console, nobody to tell: the event log has it already.
    if (userAtConsole_) {
        s_.sessions.ShowBox(session_, caption, text, kBoxStyle, kSessionBoxTimeoutSeconds);
    }
}

void ServiceHost::ShowAppMessage(const std::wstring& text) {
    ShowBox(kAppMessageCaption, text);
}

void ServiceHost::ShowRefusal(const std::wstring& text) {
    ShowBox(kRefusalCaption, text);
}

}  // namespace kx7
