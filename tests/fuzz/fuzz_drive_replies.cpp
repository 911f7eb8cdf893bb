// What drives answer, any bytes and any status, as discovery and a drive's turn read it: the
// identity reply into the device table and the registry key of its binding, INQUIRY data of any
// reported length, the status and setup blocks, the writes, and the refusal status into the
// text the user sees. Calls may also fail to reach the drive, up to the retry limit.
//
// Input: a flags byte (bit 0: list the disk interface class instead of the CD-ROM one); the
// stored "Mode" (type, 4 bytes; size, 1 byte; 8 data bytes); a path count (0-3) and for each
// path its length and Latin-1 bytes (length 0: a usual KX7 path of the class); then the
// replies, each a byte that is 1 when the call did not reach the drive, the SCSI status, the
// reported transfer length (2 bytes) and, for reads that reached it, as many data bytes as were
// asked for.
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "connector/device/device_table.h"
#include "connector/device/vendor_commands.h"
#include "connector/engine/worker/auth_packet.h"
#include "tests/fakes/fake_clock.h"
#include "tests/fakes/fake_device_interfaces.h"
#include "tests/fakes/latin1_code_page.h"
#include "tests/fuzz/fuzz_input.h"

namespace kx7 {
namespace {

const wchar_t kCdromPath[] =
    L"\\\\?\\usbstor#cdrom&ven_svi&prod_virtual_cd_drive&rev_2.00#0123456789a%d&0#"
    L"{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
const wchar_t kDiskPath[] =
    L"\\\\?\\usbstor#disk&ven_svi&prod_stonevault_kx7&rev_2.00#0123456789a%d&0#"
    L"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

class ScriptedDrive final : public ScsiPassThrough {
  public:
    explicit ScriptedDrive(fuzz::ByteReader* replies) : replies_(replies) {}
    ScsiResult Execute(const uint8_t* cdb, uint8_t cdbLength, DataDirection direction,
                       uint8_t* buffer, uint32_t length, uint32_t) override {
        KX7_FUZZ_CHECK(cdbLength == 6 || cdbLength == 10 || cdbLength == 16);
        KX7_FUZZ_CHECK(cdb != nullptr && (buffer != nullptr || length == 0));
        ScsiResult result;
        result.completed = replies_->Byte() != 1;
        result.scsiStatus = replies_->Byte();
        result.dataTransferLength = replies_->U16();
        if (!result.completed) {
            return result;  // a call that never got there brings nothing back
        }
        if (direction == DataDirection::kIn && length > 0) {
            // Every byte the caller offered is written, so a buffer shorter than its length
            // shows up at once.
            const std::vector<uint8_t> data = replies_->Bytes(length);
            std::memcpy(buffer, data.data(), length);
        } else if (length > 0) {
            volatile uint8_t last = buffer[length - 1];  // and every byte it sends is readable
            (void)last;
        }
        return result;
    }

  private:
    fuzz::ByteReader* replies_;
};

// Every key opens and every value reads as the one stored "Mode".
class OneValueRegistry final : public Registry {
  public:
    OneValueRegistry(uint32_t type, std::vector<uint8_t> data)
        : type_(type), data_(std::move(data)) {}
    long OpenKey(RegRoot, const std::wstring& path, uint32_t, RegKey* key) override {
        paths.push_back(path);
        *key = 1;
        return kErrorSuccess;
    }
    long CreateKey(RegRoot, const std::wstring&, uint32_t, RegKey*) override {
        return kErrorAccessDenied;
    }
    long QueryValue(RegKey, const std::wstring&, uint32_t* type, uint8_t* data,
                    uint32_t* size) override {
        if (type != nullptr) {
            *type = type_;
        }
        const uint32_t available = *size;
        *size = static_cast<uint32_t>(data_.size());
        if (data == nullptr) {
            return kErrorSuccess;
        }
        if (data_.size() > available) {
            return kErrorMoreData;
        }
        if (!data_.empty()) {
            std::memcpy(data, data_.data(), data_.size());
        }
        return kErrorSuccess;
    }
    long SetDword(RegKey, const std::wstring&, uint32_t) override { return kErrorAccessDenied; }
    void CloseKey(RegKey) override {}
    long EnumSubKey(RegKey, uint32_t, std::wstring*) override { return kErrorNoMoreItems; }
    std::vector<std::wstring> paths;

  private:
    uint32_t type_;
    std::vector<uint8_t> data_;
};

}  // namespace
}  // namespace kx7

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kx7;
    fuzz::ByteReader input(data, size);
    const bool diskClass = (input.Byte() & 1) != 0;
    const uint32_t modeType = input.U32();
    const size_t modeSize = input.Byte() % 9;
    std::vector<uint8_t> modeData = input.Bytes(8);
    modeData.resize(modeSize);
    std::vector<std::wstring> paths;
    const size_t pathCount = input.Byte() % 4;
    for (size_t i = 0; i < pathCount; ++i) {
        const size_t length = input.Byte();
        if (length == 0) {
            wchar_t path[kDevicePathChars];
            std::swprintf(path, kDevicePathChars, diskClass ? kDiskPath : kCdromPath,
                          static_cast<int>(i));
            paths.push_back(path);
        } else {
            const std::vector<uint8_t> bytes = input.Bytes(length);
            paths.push_back(fuzz::Latin1Text(bytes.data(), bytes.size()));
        }
    }

    test::FakeClock clock;
    OneValueRegistry registry(modeType, modeData);
    Latin1CodePage codePage;
    // Every class lists every path; each open is a drive answering from the input.
    test::FakeDeviceInterfaces bus;
    for (const std::wstring& path : paths) {
        bus.AddForEveryClass(path, [&input] { return std::make_unique<ScriptedDrive>(&input); });
    }
    DiscoveryContext context{bus, clock, registry, codePage};
    DeviceTable table{};
    const int admitted =
        DiscoverDrives(context, diskClass ? kGuidDevinterfaceDisk : kGuidDevinterfaceCdrom, &table);
    KX7_FUZZ_CHECK(admitted >= 0 && static_cast<size_t>(admitted) <= paths.size());
    int32_t storedMode = 0;
    if (modeType == kRegDword && modeSize == 4) {
        storedMode = static_cast<int32_t>(modeData[0] | modeData[1] << 8 | modeData[2] << 16 |
                                          static_cast<uint32_t>(modeData[3]) << 24);
    }
    for (int slot = 0; slot < admitted; ++slot) {
        const wchar_t* path = table.devicePath[slot];
        KX7_FUZZ_CHECK(wmemchr(path, L'\0', kDevicePathChars) != nullptr);
        bool listed = false;
        for (const std::wstring& p : paths) {
            listed = listed || p == path;
        }
        KX7_FUZZ_CHECK(listed);
        KX7_FUZZ_CHECK(table.driveId[slot][kDriveIdBytes - 1] == 0);
        KX7_FUZZ_CHECK(table.interfaceKind[slot] ==
                       (diskClass ? kInterfaceKindDisk : kInterfaceKindCdrom));
        KX7_FUZZ_CHECK(table.mode[slot] == (diskClass ? 0 : (storedMode > 0 ? storedMode : 0)));
        DeviceSerialFromPath(path);
    }

    // A drive's turn, on whatever answers are left.
    ScriptedDrive drive(&input);
    std::array<uint8_t, kDeviceStatusLength> status{};
    std::array<uint8_t, kDeviceSetupLength> setup{};
    ReadDeviceStatus(drive, clock, &status);
    ReadDeviceSetup(drive, clock, &setup);
    const std::array<uint8_t, kTimingStagingSize> timing{};
    WriteTiming(drive, clock, timing.data(), static_cast<uint16_t>(timing.size()));
    const std::array<uint8_t, kAuthBufferSize> packet{};
    WriteAuthPacket(drive, clock, packet.data(), static_cast<uint16_t>(packet.size()));
    std::array<uint8_t, kCommandStatusLength> answer{};
    const bool statusRead = ReadCommandStatus(drive, clock, &answer);
    KX7_FUZZ_CHECK(!RefusalText(statusRead, answer).empty());
    std::array<uint8_t, kInquiryLength> inquiry{};
    Inquiry(drive, clock, &inquiry);
    std::array<uint8_t, kIdentityLength> identity{};
    if (ReadIdentity(drive, clock, &identity)) {
        ParseDriveIdentity(identity);
    }
    return 0;
}
