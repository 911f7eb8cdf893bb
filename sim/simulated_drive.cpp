#include "sim/simulated_drive.h"

#include <algorithm>
#include <cstring>

#include "connector/engine/crypto/aes256_inverse.h"
#include "connector/engine/crypto/secure_zero.h"

namespace kx7::sim {

namespace {

constexpr size_t kAnnounceComparedBytes = 10;
constexpr uint8_t kInquiryPeripheralDisk = 0x00;
constexpr uint8_t kInquiryPeripheralCdRom = 0x05;
constexpr uint8_t kInquiryRemovable = 0x80;
constexpr uint8_t kInquiryVersion = 0x05;
constexpr uint8_t kInquiryResponseFormat = 0x02;

bool SameBytes(const uint8_t* a, const uint8_t* b, size_t count) {
    return std::memcmp(a, b, count) == 0;
}

CommandBlock ToBlock(const uint8_t* cdb, uint8_t cdbLength) {
    CommandBlock block{};
    std::memcpy(block.data(), cdb, std::min<size_t>(cdbLength, block.size()));
    return block;
}

uint16_t LengthField(const uint8_t* cdb) {
    return static_cast<uint16_t>(cdb[4] | cdb[5] << 8);
}

void PutPadded(uint8_t* out, size_t width, const char* text) {
    std::memset(out, ' ', width);
    const size_t n = std::min(width, std::strlen(text));
    std::memcpy(out, text, n);
}

// The product revision as "M.mm" in decimal digits, enough for the firmware numbers a drive
// carries. INQUIRY and the interface names show the same text.
std::string Revision(const SimIdentity& identity) {
    std::string revision(4, '.');
    revision[0] = static_cast<char>('0' + identity.firmwareMajor % 10);
    revision[2] = static_cast<char>('0' + identity.firmwareMinor / 10 % 10);
    revision[3] = static_cast<char>('0' + identity.firmwareMinor % 10);
    return revision;
}

std::array<uint8_t, kInquiryLength> BuildInquiryReply(const SimIdentity& identity, bool unlocked) {
    std::array<uint8_t, kInquiryLength> reply{};
    // Until it is unlocked the drive shows itself as a removable CD-ROM, afterwards as its disk;
    // the texts are those the interface names are made of.
    reply[0] = unlocked ? kInquiryPeripheralDisk : kInquiryPeripheralCdRom;
    reply[1] = kInquiryRemovable;
    reply[2] = kInquiryVersion;
    reply[3] = kInquiryResponseFormat;
    reply[4] = static_cast<uint8_t>(kInquiryLength - 5);
    PutPadded(&reply[8], 8, "SVI");
    PutPadded(&reply[16], 16, unlocked ? "KX7FIPS" : "Virtual CD Drive");
    std::memcpy(&reply[32], Revision(identity).data(), 4);
    return reply;
}

std::wstring Widen(const std::string& text) {
    std::wstring wide;
    for (char c : text) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return wide;
}

std::wstring AsciiCase(std::wstring text, bool upper) {
    for (wchar_t& c : text) {
        if (upper && c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        } else if (!upper && c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
    }
    return text;
}

std::wstring Hex4(uint16_t value) {
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring text;
    for (int shift = 12; shift >= 0; shift -= 4) {
        text.push_back(kDigits[(value >> shift) & 0xF]);
    }
    return text;
}

}  // namespace

SimInterfaceNames InterfaceNamesFor(const SimIdentity& identity) {
    const std::wstring revision = Widen(Revision(identity));
    const std::wstring serial = AsciiCase(Widen(identity.serial), true);
    // The mass-storage interfaces are named after the storage device below the USB node, whose
    // instance is the serial with the interface number.
    const std::wstring cdromName = L"\\\\?\\USBSTOR#CdRom&Ven_SVI&Prod_Virtual_CD_Drive&Rev_" +
                                   revision + L"#" + serial +
                                   L"&0#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
    const std::wstring diskName = L"\\\\?\\USBSTOR#Disk&Ven_SVI&Prod_KX7FIPS&Rev_" + revision +
                                  L"#" + serial + L"&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
    SimInterfaceNames names;
    names.usbNodeName = L"\\\\?\\USB#VID_" + Hex4(identity.vendorId) + L"&PID_" +
                        Hex4(identity.productId) + L"#" + serial +
                        L"#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
    names.cdromName = cdromName;
    names.cdromPath = AsciiCase(cdromName, false);
    names.diskName = diskName;
    names.diskPath = AsciiCase(diskName, false);
    return names;
}

ScsiResult SimulatedDrive::Port::Execute(const uint8_t* cdb, uint8_t cdbLength,
                                         DataDirection direction, uint8_t* buffer, uint32_t length,
                                         uint32_t /*timeoutSeconds*/) {
    return drive_->Run(kAnyInterface, cdb, cdbLength, direction, buffer, length);
}

SimulatedDrive::SimulatedDrive() : SimulatedDrive(SimIdentity{}) {}

SimulatedDrive::SimulatedDrive(const SimIdentity& identity)
    : SimulatedDrive(identity, std::make_shared<SimEventHub>(), true) {}

SimulatedDrive::SimulatedDrive(const SimIdentity& identity, std::shared_ptr<SimEventHub> hub,
                               bool plugged)
    : hub_(std::move(hub)),
      port_(this),
      identity_(identity),
      plugged_(plugged),
      names_(InterfaceNamesFor(identity)) {
    // A drive fresh out of the box is ready to be authenticated.
    deviceStatus_[0] = kReadyForAuthMask;
    deviceSetup_[0] = kReadyForAuthMask;
}

SimIdentity SimulatedDrive::identity() const {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    return identity_;
}

void SimulatedDrive::SetIdentity(const SimIdentity& identity) {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    identity_ = identity;
}

std::array<uint8_t, kDeviceStatusLength> SimulatedDrive::deviceStatus() const {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    return deviceStatus_;
}

void SimulatedDrive::SetDeviceStatus(const std::array<uint8_t, kDeviceStatusLength>& status) {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    deviceStatus_ = status;
}

std::array<uint8_t, kDeviceSetupLength> SimulatedDrive::deviceSetup() const {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    return deviceSetup_;
}

void SimulatedDrive::SetDeviceSetup(const std::array<uint8_t, kDeviceSetupLength>& setup) {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    deviceSetup_ = setup;
}

void SimulatedDrive::SetHostPairEnabled(bool enabled) {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    hostPair_.enabled = enabled;
}

void SimulatedDrive::AddHost(const SimHost& host) {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    hostPair_.hosts.push_back(host);
}

void SimulatedDrive::ClearHosts() {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    hostPair_.hosts.clear();
}

void SimulatedDrive::SetAuthPacketJudge(AuthPacketJudge judge) {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    judge_ = std::move(judge);
}

void SimulatedDrive::SetCommandHook(SimCommandHook hook) {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    hook_ = std::move(hook);
}

void SimulatedDrive::FailNextCalls(uint32_t count) {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    failingCalls_ = count;
}

void SimulatedDrive::SetStalled(bool stalled) {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    stalled_ = stalled;
}

void SimulatedDrive::SetCheckCondition(SimCommand command, bool enabled) {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    checkCondition_[static_cast<size_t>(command)] = enabled;
}

void SimulatedDrive::SetInquiryReplyLength(uint32_t length) {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    inquiryReplyLength_ = length;
}

bool SimulatedDrive::plugged() const {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    return plugged_;
}

bool SimulatedDrive::unlocked() const {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    return unlocked_;
}

SimInterfaceNames SimulatedDrive::interfaceNames() const {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    return names_;
}

std::array<uint8_t, kTimingStagingSize> SimulatedDrive::lastTiming() const {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    return lastTiming_;
}

bool SimulatedDrive::timingReceived() const {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    return timingReceived_;
}

std::vector<uint8_t> SimulatedDrive::lastAuthPlaintext() const {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    return lastAuthPlaintext_;
}

uint8_t SimulatedDrive::lastErrorCode() const {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    return errorCode_;
}

uint8_t SimulatedDrive::lastErrorCommand() const {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    return errorCommand_;
}

uint32_t SimulatedDrive::CountOf(SimCommand command) const {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    return counts_[static_cast<size_t>(command)];
}

uint32_t SimulatedDrive::totalCalls() const {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    return totalCalls_;
}

void SimulatedDrive::QueueEvent(SimEventKind kind, const InterfaceGuid& interfaceClass,
                                const std::wstring& name) {
    SimDeviceEvent event;
    event.kind = kind;
    event.interfaceClass = interfaceClass;
    event.name = name;
    hub_->Queue(std::move(event));
}

void SimulatedDrive::PlugHeld() {
    if (plugged_) {
        return;
    }
    // The names are fixed at plug time, so the removals later carry what the arrivals said.
    names_ = InterfaceNamesFor(identity_);
    plugged_ = true;
    unlocked_ = false;
    ++epoch_;
    QueueEvent(SimEventKind::kArrival, kGuidDevinterfaceUsbDevice, names_.usbNodeName);
    QueueEvent(SimEventKind::kArrival, kGuidDevinterfaceCdrom, names_.cdromName);
}

void SimulatedDrive::UnplugHeld() {
    if (!plugged_) {
        return;
    }
    // The storage interface goes before the USB node it hangs off.
    if (unlocked_) {
        QueueEvent(SimEventKind::kRemoval, kGuidDevinterfaceDisk, names_.diskName);
    } else {
        QueueEvent(SimEventKind::kRemoval, kGuidDevinterfaceCdrom, names_.cdromName);
    }
    QueueEvent(SimEventKind::kRemoval, kGuidDevinterfaceUsbDevice, names_.usbNodeName);
    plugged_ = false;
    ++epoch_;
    // Power is gone: the drive locks itself again and forgets what the last command left.
    unlocked_ = false;
    announcePending_ = false;
    errorCode_ = 0;
    errorCommand_ = 0;
}

void SimulatedDrive::UnlockHeld() {
    if (unlocked_ || !plugged_) {
        return;
    }
    unlocked_ = true;
    ++epoch_;
    QueueEvent(SimEventKind::kRemoval, kGuidDevinterfaceCdrom, names_.cdromName);
    QueueEvent(SimEventKind::kArrival, kGuidDevinterfaceDisk, names_.diskName);
}

std::wstring SimulatedDrive::PresentPathHeld(const InterfaceGuid& interfaceClass) const {
    if (!plugged_) {
        return std::wstring();
    }
    if (interfaceClass == kGuidDevinterfaceCdrom && !unlocked_) {
        return names_.cdromPath;
    }
    if (interfaceClass == kGuidDevinterfaceDisk && unlocked_) {
        return names_.diskPath;
    }
    return std::wstring();
}

ScsiResult SimulatedDrive::Execute(const uint8_t* cdb, uint8_t cdbLength, DataDirection direction,
                                   uint8_t* buffer, uint32_t length) {
    return Run(kAnyInterface, cdb, cdbLength, direction, buffer, length);
}

ScsiResult SimulatedDrive::Run(uint64_t interfaceEpoch, const uint8_t* cdb, uint8_t cdbLength,
                               DataDirection direction, uint8_t* buffer, uint32_t length) {
    const SimCommand command = cdb == nullptr ? SimCommand::kUnknown : Classify(cdb, cdbLength);
    SimCommandHook hook;
    {
        std::lock_guard<std::mutex> lock(hub_->mutex());
        hook = hook_;
    }
    if (hook) {
        hook(command);
    }

    ScsiResult result;
    {
        std::lock_guard<std::mutex> lock(hub_->mutex());
        // A handle on an interface that has gone, a drive without power, a stalled drive and a
        // call set up to fail all look the same to the caller: the request never got there, and
        // the drive's state stays as it was.
        if (!plugged_ || (interfaceEpoch != kAnyInterface && interfaceEpoch != epoch_) ||
            stalled_) {
            return result;
        }
        if (failingCalls_ > 0) {
            --failingCalls_;
            return result;
        }
        result.completed = true;
        ++totalCalls_;
        ++counts_[static_cast<size_t>(command)];

        uint32_t transferred = 0;
        bool good = false;
        if (!checkCondition_[static_cast<size_t>(command)] && command != SimCommand::kUnknown &&
            (length == 0 || buffer != nullptr)) {
            good = Dispatch(command, cdb, direction, buffer, length, &transferred);
        }
        // An announce covers only the command right after it, whatever that turns out to be.
        if (command != SimCommand::kAnnounce || !good) {
            announcePending_ = false;
        }
        result.scsiStatus = good ? kScsiStatusGood : kScsiStatusCheckCondition;
        result.dataTransferLength = good ? transferred : 0;
    }
    // An accepted packet has queued the unlock's events; they go out now that the lock is free.
    hub_->Deliver();
    return result;
}

SimCommand SimulatedDrive::Classify(const uint8_t* cdb, uint8_t cdbLength) {
    if (cdbLength == kInquiryCdbLength) {
        const CommandBlock inquiry = BuildInquiryBlock();
        return SameBytes(cdb, inquiry.data(), kInquiryCdbLength) ? SimCommand::kInquiry
                                                                 : SimCommand::kUnknown;
    }
    if (cdbLength == kAnnounceCdbLength) {
        // Every byte but the checksum is fixed; the checksum is judged when the write arrives.
        const CommandBlock shape = BuildAnnounceBlock(BuildVendorWriteBlock(0, 0));
        const bool fits = SameBytes(cdb, shape.data(), 4) &&
                          SameBytes(cdb + 6, shape.data() + 6, kAnnounceCdbLength - 6);
        return fits ? SimCommand::kAnnounce : SimCommand::kUnknown;
    }
    if (cdbLength != kVendorCdbLength) {
        return SimCommand::kUnknown;
    }
    const uint8_t subcommand = cdb[3];
    const uint16_t lengthField = LengthField(cdb);
    const CommandBlock read = BuildVendorReadBlock(subcommand, lengthField);
    if (SameBytes(cdb, read.data(), kVendorCdbLength)) {
        switch (subcommand) {
            case kSubReadIdentity:
                return SimCommand::kReadIdentity;
            case kSubReadCommandStatus:
                return SimCommand::kReadCommandStatus;
            case kSubReadDeviceSetup:
                return SimCommand::kReadDeviceSetup;
            case kSubReadDeviceStatus:
                return SimCommand::kReadDeviceStatus;
            default:
                return SimCommand::kUnknown;
        }
    }
    const CommandBlock write = BuildVendorWriteBlock(subcommand, lengthField);
    if (SameBytes(cdb, write.data(), kVendorCdbLength)) {
        switch (subcommand) {
            case kSubWriteTiming:
                return SimCommand::kWriteTiming;
            case kSubWriteAuthPacket:
                return SimCommand::kWriteAuthPacket;
            default:
                return SimCommand::kUnknown;
        }
    }
    return SimCommand::kUnknown;
}

bool SimulatedDrive::Dispatch(SimCommand command, const uint8_t* cdb, DataDirection direction,
                              uint8_t* buffer, uint32_t length, uint32_t* transferred) {
    switch (command) {
        case SimCommand::kInquiry: {
            if (direction != DataDirection::kIn || length != cdb[4]) {
                return false;
            }
            const auto reply = BuildInquiryReply(identity_, unlocked_);
            const uint32_t count =
                std::min({length, inquiryReplyLength_, static_cast<uint32_t>(reply.size())});
            std::memcpy(buffer, reply.data(), count);
            *transferred = count;
            return true;
        }
        case SimCommand::kAnnounce:
            if (direction != DataDirection::kOut || length != 0) {
                return false;
            }
            pendingAnnounce_ = ToBlock(cdb, kAnnounceCdbLength);
            announcePending_ = true;
            return true;
        case SimCommand::kReadIdentity: {
            std::array<uint8_t, kIdentityLength> reply{};
            reply[0] = identity_.firmwareMajor;
            reply[1] = identity_.firmwareMinor;
            reply[2] = static_cast<uint8_t>(identity_.vendorId >> 8);
            reply[3] = static_cast<uint8_t>(identity_.vendorId & 0xFF);
            reply[4] = static_cast<uint8_t>(identity_.productId >> 8);
            reply[5] = static_cast<uint8_t>(identity_.productId & 0xFF);
            std::memcpy(&reply[6], identity_.identifier.data(), identity_.identifier.size());
            *transferred = kIdentityLength;
            return AnswerRead(cdb, direction, buffer, length, reply.data(), kIdentityLength);
        }
        case SimCommand::kReadCommandStatus: {
            const std::array<uint8_t, kCommandStatusLength> reply{errorCode_, errorCommand_, 0, 0};
            *transferred = kCommandStatusLength;
            return AnswerRead(cdb, direction, buffer, length, reply.data(), kCommandStatusLength);
        }
        case SimCommand::kReadDeviceSetup:
            *transferred = kDeviceSetupLength;
            return AnswerRead(cdb, direction, buffer, length, deviceSetup_.data(),
                              kDeviceSetupLength);
        case SimCommand::kReadDeviceStatus:
            *transferred = kDeviceStatusLength;
            return AnswerRead(cdb, direction, buffer, length, deviceStatus_.data(),
                              kDeviceStatusLength);
        case SimCommand::kWriteTiming:
            if (!AcceptWrite(cdb, direction, buffer, length, kTimingStagingSize)) {
                return false;
            }
            std::memcpy(lastTiming_.data(), buffer, kTimingStagingSize);
            timingReceived_ = true;
            *transferred = length;
            return true;
        case SimCommand::kWriteAuthPacket:
            if (!AcceptWrite(cdb, direction, buffer, length, kAuthPacketLength)) {
                return false;
            }
            *transferred = length;
            return TakeAuthPacket(buffer);
        case SimCommand::kUnknown:
            break;
    }
    return false;
}

bool SimulatedDrive::AnswerRead(const uint8_t* cdb, DataDirection direction, uint8_t* buffer,
                                uint32_t length, const uint8_t* reply, uint16_t replyLength) {
    // The block, the transfer and the reply must all agree on the size.
    if (direction != DataDirection::kIn || LengthField(cdb) != replyLength ||
        length != replyLength) {
        return false;
    }
    std::memcpy(buffer, reply, replyLength);
    return true;
}

bool SimulatedDrive::AcceptWrite(const uint8_t* cdb, DataDirection direction, const uint8_t* buffer,
                                 uint32_t length, uint16_t expectedLength) {
    if (!announcePending_) {
        return false;
    }
    const CommandBlock expected = BuildAnnounceBlock(ToBlock(cdb, kVendorCdbLength));
    if (!SameBytes(pendingAnnounce_.data(), expected.data(), kAnnounceComparedBytes)) {
        return false;
    }
    return direction == DataDirection::kOut && buffer != nullptr &&
           LengthField(cdb) == expectedLength && length == expectedLength;
}

bool SimulatedDrive::TakeAuthPacket(const uint8_t* buffer) {
    uint8_t key[kAes256KeySize];
    DeriveDriveKey(identity_.identifier.data(), kDriveIdentifierLength, key);
    lastAuthPlaintext_.assign(kAuthPacketLength, 0);
    Aes256DecryptEcb(lastAuthPlaintext_.data(), buffer, key, kAuthPacketLength);
    SecureZero(key, sizeof(key));

    const uint8_t code =
        judge_ ? judge_(lastAuthPlaintext_.data(), lastAuthPlaintext_.size())
               : JudgeAgainstHosts(hostPair_, lastAuthPlaintext_.data(), lastAuthPlaintext_.size());
    RecordError(code, kSubWriteAuthPacket);
    if (code != 0) {
        return false;
    }
    UnlockHeld();
    return true;
}

void SimulatedDrive::RecordError(uint8_t code, uint8_t subcommand) {
    errorCode_ = code;
    errorCommand_ = subcommand;
}

}  // namespace kx7::sim
