#include "sim/simulated_drive.h"

#include <algorithm>
#include <cstring>

#include "connector/engine/crypto/aes256_inverse.h"
#include "connector/engine/crypto/derive_key.h"
#include "connector/engine/crypto/secure_zero.h"

namespace kx7::sim {

namespace {

constexpr uint8_t kInquiryPeripheralDisk = 0x00;
constexpr uint8_t kInquiryPeripheralCdRom = 0x05;
constexpr uint8_t kInquiryRemovable = 0x80;
constexpr uint8_t kInquiryVersion = 0x05;
constexpr uint8_t kInquiryResponseFormat = 0x02;

// The texts of the INQUIRY data, from which the storage stack names the interfaces.
constexpr char kVendorText[] = "SVI";
constexpr char kCdromProductText[] = "Virtual CD Drive";

void PutPadded(uint8_t* out, size_t width, const char* text) {
    std::memset(out, ' ', width);
    const size_t n = std::min(width, std::strlen(text));
    std::memcpy(out, text, n);
}

// The product an unlocked drive reports for its disk: each product of the line has its own
// name, and a device that is no KX7 at all shows a plain flash disk.
const char* DiskProductText(uint16_t productId) {
    switch (productId) {
        case kSimProductKx7:
            return "STONEVAULT KX7";
        case kSimProductKx7Fips:
            return "KX7FIPS";
        default:
            return "Flash Disk";
    }
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

std::array<uint8_t, kSimInquiryLength> BuildInquiryReply(const SimIdentity& identity,
                                                         bool unlocked) {
    std::array<uint8_t, kSimInquiryLength> reply{};
    // Until it is unlocked the drive shows itself as a removable CD-ROM, afterwards as its disk.
    reply[0] = unlocked ? kInquiryPeripheralDisk : kInquiryPeripheralCdRom;
    reply[1] = kInquiryRemovable;
    reply[2] = kInquiryVersion;
    reply[3] = kInquiryResponseFormat;
    reply[4] = static_cast<uint8_t>(kSimInquiryLength - 5);
    PutPadded(&reply[8], 8, kVendorText);
    PutPadded(&reply[16], 16, unlocked ? DiskProductText(identity.productId) : kCdromProductText);
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

// An INQUIRY text as it appears in an interface name: spaces become underscores.
std::wstring NameComponent(const char* text) {
    std::wstring component = Widen(text);
    std::replace(component.begin(), component.end(), L' ', L'_');
    return component;
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

size_t KindIndex(SimCommand command) {
    return static_cast<size_t>(command);
}

}  // namespace

SimInterfaceNames InterfaceNamesFor(const SimIdentity& identity) {
    const std::wstring revision = Widen(Revision(identity));
    const std::wstring serial = AsciiCase(Widen(identity.serial), true);
    const std::wstring vendor = NameComponent(kVendorText);
    // The mass-storage interfaces are named after the storage device below the USB node, whose
    // instance is the serial with the interface number.
    const std::wstring cdromName = L"\\\\?\\USBSTOR#CdRom&Ven_" + vendor + L"&Prod_" +
                                   NameComponent(kCdromProductText) + L"&Rev_" + revision + L"#" +
                                   serial + L"&0#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
    const std::wstring diskName = L"\\\\?\\USBSTOR#Disk&Ven_" + vendor + L"&Prod_" +
                                  NameComponent(DiskProductText(identity.productId)) + L"&Rev_" +
                                  revision + L"#" + serial +
                                  L"&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
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

SimulatedDrive::SimulatedDrive() : SimulatedDrive(SimIdentity{}) {}

SimulatedDrive::SimulatedDrive(const SimIdentity& identity)
    : SimulatedDrive(identity, std::make_shared<SimEventHub>(), true) {}

SimulatedDrive::SimulatedDrive(const SimIdentity& identity, std::shared_ptr<SimEventHub> hub,
                               bool plugged)
    : hub_(std::move(hub)),
      identity_(identity),
      plugged_(plugged),
      names_(InterfaceNamesFor(identity)) {
    // A drive fresh out of the box is ready to be authenticated.
    deviceStatus_[0] = kSimReadyBit;
    deviceSetup_[0] = kSimReadyBit;
}

SimIdentity SimulatedDrive::identity() const {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    return identity_;
}

void SimulatedDrive::SetIdentity(const SimIdentity& identity) {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    identity_ = identity;
}

std::array<uint8_t, kSimDeviceStatusLength> SimulatedDrive::deviceStatus() const {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    return deviceStatus_;
}

void SimulatedDrive::SetDeviceStatus(const std::array<uint8_t, kSimDeviceStatusLength>& status) {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    deviceStatus_ = status;
}

std::array<uint8_t, kSimDeviceSetupLength> SimulatedDrive::deviceSetup() const {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    return deviceSetup_;
}

void SimulatedDrive::SetDeviceSetup(const std::array<uint8_t, kSimDeviceSetupLength>& setup) {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    deviceSetup_ = setup;
}

uint32_t SimulatedDrive::date() const {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    return date_;
}

void SimulatedDrive::SetDate(uint32_t packedDate) {
    std::lock_guard<std::mutex> lock(hub_->mutex());
    date_ = packedDate;
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

std::array<uint8_t, kSimTimingLength> SimulatedDrive::lastTiming() const {
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

SimScsiResult SimulatedDrive::Execute(const uint8_t* cdb, size_t cdbLength, SimDirection direction,
                                      uint8_t* buffer, uint32_t length) {
    return Run(kAnyInterface, cdb, cdbLength, direction, buffer, length);
}

SimScsiResult SimulatedDrive::Run(uint64_t interfaceEpoch, const uint8_t* cdb, size_t cdbLength,
                                  SimDirection direction, uint8_t* buffer, uint32_t length) {
    const SimCommandBlock block = DecodeCommandBlock(cdb, cdbLength);
    SimCommandHook hook;
    {
        std::lock_guard<std::mutex> lock(hub_->mutex());
        hook = hook_;
    }
    if (hook) {
        hook(block.command);
    }

    SimScsiResult result;
    {
        std::lock_guard<std::mutex> lock(hub_->mutex());
        // A handle on an interface that has gone, a drive without power, a stalled drive and a
        // call set up to fail all leave the request short of the drive and its state as it was;
        // only the first two say the device is gone, for it will never answer that handle again.
        if (!plugged_ || (interfaceEpoch != kAnyInterface && interfaceEpoch != epoch_)) {
            result.deviceGone = true;
            return result;
        }
        if (stalled_) {
            return result;
        }
        if (failingCalls_ > 0) {
            --failingCalls_;
            return result;
        }
        result.completed = true;
        ++totalCalls_;
        ++counts_[KindIndex(block.command)];

        uint32_t transferred = 0;
        bool good = false;
        if (!checkCondition_[KindIndex(block.command)] && block.command != SimCommand::kUnknown &&
            (length == 0 || buffer != nullptr)) {
            good = Dispatch(block, cdb, direction, buffer, length, &transferred);
        }
        // An announce covers only the command right after it, whatever that turns out to be.
        if (block.command != SimCommand::kAnnounce || !good) {
            announcePending_ = false;
        }
        result.scsiStatus = good ? kSimStatusGood : kSimStatusCheckCondition;
        result.dataTransferLength = good ? transferred : 0;
    }
    // An accepted packet has queued the unlock's events; they go out now that the lock is free.
    hub_->Deliver();
    return result;
}

bool SimulatedDrive::Dispatch(const SimCommandBlock& block, const uint8_t* cdb,
                              SimDirection direction, uint8_t* buffer, uint32_t length,
                              uint32_t* transferred) {
    switch (block.command) {
        case SimCommand::kInquiry: {
            // The standard 36 bytes, asked for in the block and in the transfer alike.
            if (direction != SimDirection::kIn || block.length != kSimInquiryLength ||
                length != kSimInquiryLength) {
                return false;
            }
            const auto reply = BuildInquiryReply(identity_, unlocked_);
            const uint32_t count = std::min(length, inquiryReplyLength_);
            std::memcpy(buffer, reply.data(), count);
            *transferred = count;
            return true;
        }
        case SimCommand::kAnnounce:
            if (direction != SimDirection::kOut || length != 0) {
                return false;
            }
            announcedChecksum_ = block.checksum;
            announcePending_ = true;
            return true;
        case SimCommand::kReadIdentity: {
            std::array<uint8_t, kSimIdentityLength> reply{};
            reply[0] = identity_.firmwareMajor;
            reply[1] = identity_.firmwareMinor;
            reply[2] = static_cast<uint8_t>(identity_.vendorId >> 8);
            reply[3] = static_cast<uint8_t>(identity_.vendorId & 0xFF);
            reply[4] = static_cast<uint8_t>(identity_.productId >> 8);
            reply[5] = static_cast<uint8_t>(identity_.productId & 0xFF);
            std::memcpy(&reply[6], identity_.identifier.data(), identity_.identifier.size());
            *transferred = kSimIdentityLength;
            return AnswerRead(block, direction, buffer, length, reply.data(), kSimIdentityLength);
        }
        case SimCommand::kReadCommandStatus: {
            const std::array<uint8_t, kSimCommandStatusLength> reply{errorCode_, errorCommand_, 0,
                                                                     0};
            *transferred = kSimCommandStatusLength;
            return AnswerRead(block, direction, buffer, length, reply.data(),
                              kSimCommandStatusLength);
        }
        case SimCommand::kReadDeviceSetup:
            *transferred = kSimDeviceSetupLength;
            return AnswerRead(block, direction, buffer, length, deviceSetup_.data(),
                              kSimDeviceSetupLength);
        case SimCommand::kReadDeviceStatus:
            *transferred = kSimDeviceStatusLength;
            return AnswerRead(block, direction, buffer, length, deviceStatus_.data(),
                              kSimDeviceStatusLength);
        case SimCommand::kWriteTiming:
            if (!AcceptWrite(block, cdb, direction, buffer, length, kSimTimingLength)) {
                return false;
            }
            std::memcpy(lastTiming_.data(), buffer, kSimTimingLength);
            timingReceived_ = true;
            *transferred = length;
            return true;
        case SimCommand::kWriteAuthPacket:
            if (!AcceptWrite(block, cdb, direction, buffer, length, kSimAuthPacketLength)) {
                return false;
            }
            *transferred = length;
            return TakeAuthPacket(buffer);
        case SimCommand::kUnknown:
            break;
    }
    return false;
}

bool SimulatedDrive::AnswerRead(const SimCommandBlock& block, SimDirection direction,
                                uint8_t* buffer, uint32_t length, const uint8_t* reply,
                                uint16_t replyLength) {
    // The block, the transfer and the reply must all agree on the size.
    if (direction != SimDirection::kIn || block.length != replyLength || length != replyLength) {
        return false;
    }
    std::memcpy(buffer, reply, replyLength);
    return true;
}

bool SimulatedDrive::AcceptWrite(const SimCommandBlock& block, const uint8_t* cdb,
                                 SimDirection direction, const uint8_t* buffer, uint32_t length,
                                 uint16_t expectedLength) const {
    // The write must come right after an announce whose checksum covers this very block.
    if (!announcePending_ || !AnnounceBalances(announcedChecksum_, cdb)) {
        return false;
    }
    return direction == SimDirection::kOut && buffer != nullptr && block.length == expectedLength &&
           length == expectedLength;
}

bool SimulatedDrive::TakeAuthPacket(const uint8_t* buffer) {
    uint8_t key[kAes256KeySize];
    DeriveDriveKey(identity_.identifier.data(), kSimIdentifierLength, key);
    lastAuthPlaintext_.assign(kSimAuthPacketLength, 0);
    Aes256DecryptEcb(lastAuthPlaintext_.data(), buffer, key, kSimAuthPacketLength);
    SecureZero(key, sizeof(key));

    const uint8_t code = judge_ ? judge_(lastAuthPlaintext_.data(), lastAuthPlaintext_.size())
                                : JudgeAgainstHosts(hostPair_, date_, lastAuthPlaintext_.data(),
                                                    lastAuthPlaintext_.size());
    RecordError(code, kSimSubAuthPacket);
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
