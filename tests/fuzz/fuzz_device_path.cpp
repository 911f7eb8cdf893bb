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
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/latin1_code_page.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kx7;
    const std::wstring path = fuzz::Utf16Text(data, size);

    // The serial is a piece of the path behind its prefix, upper-cased, without a '#'.
    const std::wstring body = path.size() > 4 ? fuzz::AsciiUpper(path.substr(4)) : std::wstring();
    const std::wstring serial = DeviceSerialFromPath(path);
    KX7_FUZZ_CHECK(body.find(serial) != std::wstring::npos);
    KX7_FUZZ_CHECK(serial.find(L'#') == std::wstring::npos);
    KX7_FUZZ_CHECK(fuzz::AsciiUpper(serial) == serial);
    const size_t marks = static_cast<size_t>(std::count(body.begin(), body.end(), L'#'));
    if (marks < 2) {
        KX7_FUZZ_CHECK(serial.empty());
    }

    test::FakeClock clock;
    test::FakeRegistry registry;  // empty, and nothing opens to be looked up in it
    Latin1CodePage codePage;
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
