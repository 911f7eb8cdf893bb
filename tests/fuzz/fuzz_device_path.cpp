// Device interface paths as the platform lists them, any UTF-16 text, into the serial the
// worker shows and into discovery's choice of candidates.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "connector/device/device_table.h"
#include "connector/engine/worker/auth_packet.h"
#include "tests/fakes/fake_clock.h"
#include "tests/fakes/fake_device_interfaces.h"
#include "tests/fuzz/fuzz_input.h"

namespace kx7 {
namespace {

class NoRegistry final : public Registry {
  public:
    long OpenKey(RegRoot, const std::wstring&, uint32_t, RegKey*) override {
        return kErrorFileNotFound;
    }
    long CreateKey(RegRoot, const std::wstring&, uint32_t, RegKey*) override {
        return kErrorAccessDenied;
    }
    long QueryValue(RegKey, const std::wstring&, uint32_t*, uint8_t*, uint32_t*) override {
        return kErrorFileNotFound;
    }
    long SetDword(RegKey, const std::wstring&, uint32_t) override { return kErrorAccessDenied; }
    void CloseKey(RegKey) override {}
    long EnumSubKey(RegKey, uint32_t, std::wstring*) override { return kErrorNoMoreItems; }
};

class NoCodePage final : public AnsiCodePage {
  public:
    std::wstring ToWide(const char*, size_t) override { return std::wstring(); }
    std::string ToAnsi(const std::wstring&) override { return std::string(); }
};

}  // namespace
}  // namespace kx7

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kx7;
    const std::wstring path = fuzz::Utf16Text(data, size);

    const std::wstring serial = DeviceSerialFromPath(path);
    KX7_FUZZ_CHECK(serial.find(L'#') == std::wstring::npos);
    KX7_FUZZ_CHECK(fuzz::AsciiUpper(serial) == serial);
    // The serial is a piece of the path behind its prefix, upper-cased.
    const std::wstring body = path.size() > 4 ? fuzz::AsciiUpper(path.substr(4)) : std::wstring();
    KX7_FUZZ_CHECK(body.find(serial) != std::wstring::npos);
    const size_t marks = static_cast<size_t>(std::count(body.begin(), body.end(), L'#'));
    if (marks < 2) {
        KX7_FUZZ_CHECK(serial.empty());
    }

    test::FakeClock clock;
    NoRegistry registry;
    NoCodePage codePage;
    for (const InterfaceGuid& interfaceClass : {kGuidDevinterfaceCdrom, kGuidDevinterfaceDisk}) {
        // Lists the one path and records what discovery tries to open; nothing opens.
        test::FakeDeviceInterfaces interfaces;
        interfaces.AddForEveryClass(path);
        DiscoveryContext context{interfaces, clock, registry, codePage};
        DeviceTable table{};
        KX7_FUZZ_CHECK(DiscoverDrives(context, interfaceClass, &table) == 0);
        KX7_FUZZ_CHECK(interfaces.opened.size() <= 1);
        if (!interfaces.opened.empty()) {
            // Only a path that fits a slot whole is worth opening.
            KX7_FUZZ_CHECK(interfaces.opened[0] == path);
            KX7_FUZZ_CHECK(path.size() < kDevicePathChars);
            KX7_FUZZ_CHECK(path.find(L"usbstor") != std::wstring::npos);
        }
    }
    KX7_FUZZ_CHECK(clock.sleeps().empty());
    return 0;
}
