#include "connector/engine/worker/connector_state.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "connector/device/vendor_commands.h"
#include "connector/engine/crypto/aes256.h"
#include "connector/engine/crypto/derive_key.h"
#include "connector/engine/crypto/secure_zero.h"

namespace kx7 {

const wchar_t kRefusalCaption[] = L"KX7 HostPair Auto Connector";
const wchar_t kServiceServesText[] =
    L"The KX7 HostPair Auto Connector Service unlocks the drives on this PC; this program sends "
    L"them nothing.";

namespace {

bool FirmwareSupported(uint8_t major, uint8_t minor) {
    return major > kMinFirmwareMajor || (major == kMinFirmwareMajor && minor >= kMinFirmwareMinor);
}

std::wstring FirmwareText() {
    return L"Can't support KX7 firmware version ! (Above V" + std::to_wstring(kMinFirmwareMajor) +
           L"." + std::to_wstring(kMinFirmwareMinor) + L")";
}

std::wstring InvalidDateText(const SystemTime& date) {
    return L"Error ! Invalid system date(" + std::to_wstring(date.wYear) + L"-" +
           std::to_wstring(date.wMonth) + L"-" + std::to_wstring(date.wDay) +
           L").\r\n\r\nPlease reconnect KX7.";
}

}  // namespace

ConnectorState::ConnectorState(const ConnectorSettings& settings, ConnectorView& view,
                               ConnectorServices services)
    : m_settings(settings),
      m_nOsVersion(settings.m_nOsVersion),
      view_(view),
      services_(services),
      audit_(services.events) {}

bool ConnectorState::LoadRecordAtStartup() {
    RegisteredPcRecord record;
    const bool loaded = LoadRegisteredRecord(services_.registry, &record);
    PublishRecord(record, loaded);
    return loaded;
}

void ConnectorState::PublishRecord(const RegisteredPcRecord& record, bool loaded) {
    // Loaded into a copy first, so the fingerprint collection of a Reconnect never reads a
    // record that is half rewritten.
    m_record.Replace(record);
    m_bCleanRegistry = record.m_bCleanRegistry ? 1 : 0;
    m_bRecordLoaded = loaded ? 1 : 0;
}

void ConnectorState::ReplaceFingerprint(HostFingerprint fingerprint) {
    m_fingerprint.Replace(std::move(fingerprint));
}

// The worker sleeps until one of these writers wakes it: every write after which it may have
// something to do signals, and each signal follows the write it announces. An "Interval" of 0
// leaves no countdown to wake it, so a request signals on its own.
void ConnectorState::RequestInitialScan() {
    g_bRescanRequested = 1;
    m_nSettleTicks = m_settings.m_nInterval;
    services_.clock.Wake();
}

void ConnectorState::RequestReconnect() {
    g_bRescanRequested = 1;
    ++m_nConnectRequests;
    g_bConnectRequested = 1;
    m_nSettleTicks = m_settings.m_nInterval;
    services_.clock.Wake();
}

void ConnectorState::RequestQuit() {
    g_bRescanRequested = 0;
    g_bConnectRequested = 0;
    g_bQuit = 1;
    services_.clock.Wake();
}

void ConnectorState::OnTickTimer() {
    // Only the tick that ends the countdown, and those on which the cleanup is due, wake the
    // worker; every other tick passes without it.
    bool wake = false;
    if (m_nSettleTicks > 0) {
        wake = --m_nSettleTicks == 0;
    }
    if (m_bRemovalPending) {
        ++m_nRemovalTicks;
        wake = wake || CleanupDue();
    }
    if (wake) {
        services_.clock.Wake();
    }
}

bool ConnectorState::CleanupDue() const {
    return m_bCleanRegistry && m_bRemovalPending && m_nRemovalTicks > kRemovalTicksBeforeCleanup;
}

bool ConnectorState::IsFinalWorkerDone(uintptr_t wParam, intptr_t lParam) const {
    return g_bQuit == 1 && wParam == kWorkerDoneWParam && lParam == kWorkerDoneLParam;
}

void ConnectorState::ShowDeviceSerial(const std::wstring& serial) {
    m_strDeviceSerial.Replace(serial);
    view_.SetDeviceSerialText(serial);
}

void ConnectorState::OnDriveNodeArrival(bool hasSerial, const std::wstring& serial) {
    if (hasSerial) {
        ShowDeviceSerial(serial);
    }
    ++m_nDriveNodes;
    g_bRescanRequested = 1;
    ++m_nConnectRequests;
    g_bConnectRequested = 1;
    m_nSettleTicks = m_settings.m_nInterval;
    services_.clock.Wake();
}

void ConnectorState::OnDriveNodeRemoval(bool hasSerial) {
    // Only this thread lowers the count, so the test and the decrement cannot interleave.
    if (m_nDriveNodes > 0) {
        --m_nDriveNodes;
    }
    if (hasSerial) {
        ShowDeviceSerial(std::wstring());
    }
}

void ConnectorState::OnUnlockedDiskArrival() {
    m_nSettleTicks = m_settings.m_nInterval;
    ++m_nUnlockedDisks;
    m_bRemovalPending = 0;
    m_nRemovalTicks = 0;
    services_.clock.Wake();
}

void ConnectorState::OnUnlockedDiskRemoval() {
    if (m_nUnlockedDisks > 0) {
        --m_nUnlockedDisks;
    }
    m_nRemovalTicks = 0;
    m_bRemovalPending = 1;
}

// The worker looks at the requests only when it has been woken (see the writers above), so an
// idle connector costs the machine nothing between device events. A wake that finds nothing to
// do is harmless: the worker looks and waits again.
void ConnectorState::ConnectWorker() {
    Clock& clock = services_.clock;
    while (!g_bQuit) {
        if (!g_bConnectRequested && !CleanupDue()) {
            clock.WaitForWake();
        }
        if (CleanupDue()) {
            const std::wstring tool =
                LaunchRegistryCleanup(services_.shell, m_nOsVersion, view_.OwnerWindow());
            if (!tool.empty()) {
                audit_.CleanupStarted(tool);
            }
            m_bRemovalPending = 0;
        }
        // After Exit no new pass starts, though a drive that arrives during the last one
        // raises the request again.
        while (g_bConnectRequested && !g_bQuit) {
            // A pass waits for the settle countdown; the tick that ends it wakes us, and so
            // does Exit.
            if (m_nSettleTicks != 0) {
                clock.WaitForWake();
                continue;
            }
            RunPass();
        }
    }
    SecureZero(plaintext_.data(), plaintext_.size());
    SecureZero(ciphertext_.data(), ciphertext_.size());
    view_.PostWorkerDone(kWorkerDoneWParam, kWorkerDoneLParam);
}

void ConnectorState::EndRequest(uint32_t requestsAtStart) {
    g_bConnectRequested = 0;
    // A Reconnect or an arrival while the pass ran (perhaps while it showed a box) asked for a
    // pass of its own; clearing the flag must not swallow it. Cleared first, then checked, so a
    // request made at any moment survives.
    if (m_nConnectRequests != requestsAtStart && !g_bQuit) {
        g_bConnectRequested = 1;
    }
}

// Asked at every pass rather than once at start-up: the service may be installed or started
// while the connector runs. While it runs, the pass sends nothing to any drive, not even the
// discovery's commands, and shows no box: the service serves the drives and tells the user.
bool ConnectorState::ServiceServesTheDrives() {
    const bool running =
        services_.service != nullptr && services_.service->HostPairServiceRunning();
    if (running && !serviceWasRunning_) {
        view_.AddLogLine(std::wstring(kServiceServesText) + L"\r\n");
    }
    serviceWasRunning_ = running;
    return running;
}

bool ConnectorState::NobodyAtTheConsole() {
    const bool nobody = services_.console != nullptr && !services_.console->UserAtConsole();
    if (nobody && !nobodyWasAtTheConsole_) {
        audit_.NoConsoleUser();
    }
    nobodyWasAtTheConsole_ = nobody;
    return nobody;
}

void ConnectorState::RunPass() {
    const uint32_t requestsAtStart = m_nConnectRequests;
    if (ServiceServesTheDrives() || NobodyAtTheConsole()) {
        EndRequest(requestsAtStart);
        return;
    }
    if (!m_bRecordLoaded) {
        RegisteredPcRecord record;
        const bool loaded = LoadRegisteredRecord(services_.registry, &record);
        PublishRecord(record, loaded);
        if (!loaded) {
            audit_.DriveNotServed(kEventNotRegistered, DeviceSerial(), kNotRegisteredText);
            view_.ShowAppMessage(kNotRegisteredText);
            EndRequest(requestsAtStart);
            return;
        }
        // The fingerprint in hand was taken without this record, so it holds no adapter (the
        // adapter is the one with the registered MAC address): every MAC-bound drive would be
        // told the environment had changed until the user chose Reconnect.
        if (services_.collector != nullptr) {
            ReplaceFingerprint(services_.collector->Collect(record));
        }
    }
    // One consistent picture of both identities for the whole pass: a Reconnect meanwhile
    // publishes a new fingerprint for the next pass and cannot tear this one.
    const RegisteredPcRecord record = m_record.Copy();
    const HostFingerprint fingerprint = m_fingerprint.Copy();

    const int32_t startNodes = m_nDriveNodes;
    if (m_nDriveNodes > m_nUnlockedDisks || g_bRescanRequested) {
        DiscoveryContext context{services_.interfaces, services_.clock, services_.registry,
                                 services_.codePage};
        // Discovery's own commands to a drive are a turn too: another server's status read
        // after its packet must not get the answer to our inquiry.
        if (services_.turnLocks != nullptr) {
            context.takeTurn = [this](const std::wstring& path) -> std::shared_ptr<void> {
                const std::wstring serial = DeviceSerialFromPath(path);
                std::shared_ptr<HeldDriveTurn> turn =
                    services_.turnLocks->Take(DriveTurnLockName(serial), kDriveTurnWaitMs);
                if (!turn) {
                    audit_.DriveTurnNotTaken(serial, kDriveTurnWaitMs);
                }
                return turn;
            };
        }
        m_nDriveCount = DiscoverDrives(context, kGuidDevinterfaceCdrom, &m_deviceTable);
        g_bRescanRequested = 0;
    }
    if (m_nDriveCount < 1) {
        EndRequest(requestsAtStart);
        return;
    }
    if (PackDate(fingerprint.m_stCollected) > kLatestPackedDate) {
        const std::wstring text = InvalidDateText(fingerprint.m_stCollected);
        audit_.DriveNotServed(kEventInvalidDate, DeviceSerial(), text);
        view_.ShowAppMessage(text);
        EndRequest(requestsAtStart);
        return;
    }
    const int32_t count = m_nDriveCount;
    for (int32_t slot = 0; slot < count && slot < static_cast<int32_t>(kDeviceTableSlots); ++slot) {
        DriveTurn(static_cast<size_t>(slot), record, fingerprint);
    }
    if (m_nDriveNodes == startNodes) {
        EndRequest(requestsAtStart);
    }
}

void ConnectorState::DriveTurn(size_t slot, const RegisteredPcRecord& record,
                               const HostFingerprint& fingerprint) {
    const DeviceTable& table = m_deviceTable;
    if (table.interfaceKind[slot] == kInterfaceKindDisk) {
        return;
    }
    // The outcome of each turn is written to the event log before the user is shown it: a box
    // may stay up for as long as nobody is at the PC.
    const std::wstring path(table.devicePath[slot]);
    const std::wstring serial = DeviceSerialFromPath(path);
    if (!FirmwareSupported(table.firmwareMajor[slot], table.firmwareMinor[slot])) {
        const std::wstring text = FirmwareText();
        audit_.DriveNotServed(kEventFirmwareTooOld, serial, text);
        view_.ShowAppMessage(text);
        return;
    }
    const auto mask = static_cast<uint32_t>(table.mode[slot]);
    if (mask == 0) {
        audit_.DriveNotServed(kEventNotRegistered, serial, kNotRegisteredText);
        view_.ShowAppMessage(kNotRegisteredText);
        return;
    }
    const IdentityMismatch mismatch = FindIdentityMismatch(record, fingerprint, mask);
    if (!mismatch.text.empty()) {
        audit_.IdentityChanged(serial, mismatch.item, mismatch.entry, mismatch.current);
        view_.ShowAppMessage(mismatch.text);
        return;
    }

    // The turn is held from before the drive is opened until the last command has been
    // answered, including the waits after the packet, so that another server finds the drive
    // unlocked (its interface gone) or its refusal read; it is given back before any box.
    // Declared before the drive, so the handle is closed before the turn is given back.
    std::unique_ptr<HeldDriveTurn> turn;
    if (services_.turnLocks != nullptr) {
        turn = services_.turnLocks->Take(DriveTurnLockName(serial), kDriveTurnWaitMs);
        if (!turn) {
            audit_.DriveTurnNotTaken(serial, kDriveTurnWaitMs);
            return;
        }
    }
    std::unique_ptr<ScsiPassThrough> drive = services_.interfaces.Open(path);
    if (!drive) {
        return;
    }
    Clock& clock = services_.clock;
    std::array<uint8_t, kDeviceStatusLength> status{};
    std::array<uint8_t, kDeviceSetupLength> setup{};
    if (!ReadDeviceStatus(*drive, clock, &status) || (status[0] & kReadyForAuthMask) == 0 ||
        !ReadDeviceSetup(*drive, clock, &setup) || (setup[0] & kReadyForAuthMask) == 0) {
        return;
    }
    ShowDeviceSerial(serial);

    const auto timing = m_settings.m_timing.Pack();
    WriteTiming(*drive, clock, timing.data(), static_cast<uint16_t>(timing.size()));

    AuthPacket packet = BuildAuthenticationPacket(services_.codePage, fingerprint, mask);
    plaintext_.fill(0);
    ciphertext_.fill(0);
    std::copy(packet.begin(), packet.end(), plaintext_.begin());
    uint8_t key[kAes256KeySize];
    DeriveDriveKey(table.driveId[slot], kDriveIdentifierLength, key);
    Aes256EncryptEcb(ciphertext_.data(), plaintext_.data(), key, plaintext_.size());
    SecureZero(key, sizeof(key));
    SecureZero(packet.data(), packet.size());
    SecureZero(plaintext_.data(), plaintext_.size());

    std::array<uint8_t, kCommandStatusLength> answer{};
    if (WriteAuthPacket(*drive, clock, ciphertext_.data(),
                        static_cast<uint16_t>(ciphertext_.size()))) {
        audit_.DriveUnlocked(serial, table.productId[slot], table.firmwareMajor[slot],
                             table.firmwareMinor[slot], mask);
        clock.SleepMs(kAcceptedWaitMs);
        return;
    }
    clock.SleepMs(kRefusedWaitMs);
    const bool statusRead = ReadCommandStatus(*drive, clock, &answer);
    drive.reset();
    turn.reset();
    const std::wstring message = RefusalText(statusRead, answer);
    audit_.DriveRefused(serial, table.productId[slot], answer[0], message);
    view_.SetLogText(message);
    view_.ShowRefusal(message);
}

uint32_t ConnectThreadProc(ConnectorState* state) {
    state->g_bConnectRequested = 1;
    state->ConnectWorker();
    return 0;
}

}  // namespace kx7
