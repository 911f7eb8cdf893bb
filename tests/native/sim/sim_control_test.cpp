#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "sim/sim_control.h"
#include "sim/seams/sim_device_info.h"

namespace kx7::sim {
namespace {

struct Listed {
    std::wstring id;
    std::wstring name;
};

std::vector<Listed> List(SimDeviceInfoSource& source, const wchar_t* enumerator, bool present) {
    uint32_t error = 0;
    auto set = source.GetClassDevs(enumerator, present, &error);
    std::vector<Listed> listed;
    DeviceInfoData data;
    data.cbSize = 28;
    for (uint32_t i = 0; set->EnumDeviceInfo(i, &data); ++i) {
        Listed item;
        set->GetDeviceInstanceId(data, &item.id);
        set->GetDeviceName(data, DeviceNameProperty::kFriendlyName, &item.name) ||
            set->GetDeviceName(data, DeviceNameProperty::kDeviceDescription, &item.name);
        listed.push_back(item);
    }
    return listed;
}

TEST(SimControl, ConfiguresPlugsAndReports) {
    SimulatedBus bus;
    SimControl control(bus);
    bus.SetEventListener([&](const SimDeviceEvent& e) { control.NoteEvent(e); });
    EXPECT_EQ(control.Execute("add a id=KX7A serial=SERA pid=1181 fw=1.18"), "ok");
    EXPECT_EQ(control.Execute("add b"), "ok");
    EXPECT_EQ(control.Execute("list"), "ok a b");
    const SimIdentity a = control.Drives()[0].drive->identity();
    EXPECT_EQ(std::string(a.identifier.begin(), a.identifier.begin() + 5),
              std::string("KX7A\0", 5));
    EXPECT_EQ(std::tie(a.serial, a.productId, a.firmwareMajor, a.firmwareMinor),
              std::make_tuple("SERA", 0x1181, 1, 18));
    EXPECT_NE(control.Drives()[1].drive->identity().serial, a.serial) << "distinct defaults";

    EXPECT_EQ(control.Execute("status a"),
              "ok plugged=0 unlocked=0 auth=0 error=0 calls=0 id=KX7A serial=SERA");
    // The made-up identifier is the one kx7pair needs, so status tells it.
    EXPECT_EQ(control.Execute("status b"),
              "ok plugged=0 unlocked=0 auth=0 error=0 calls=0 id=KX7SIMDRIVE00002 "
              "serial=SIMSERIAL002");
    EXPECT_EQ(control.Execute("plug a"), "ok");
    EXPECT_EQ(control.Execute("plug a"), "error already plugged in");
    EXPECT_EQ(control.Execute("status a").substr(0, 20), "ok plugged=1 unlocke");
    EXPECT_EQ(control.Execute("unplug a"), "ok");
    EXPECT_EQ(control.Execute("unplug a"), "error not plugged in");
    EXPECT_EQ(control.Execute("host a computer=PC mask=5 check=1,2,3,4,65535 expiry=2030-01-31"),
              "ok");
    EXPECT_EQ(control.Execute("fault a fail=3 stall=off check=auth:on ready=off refuse=29"), "ok");
    EXPECT_EQ(control.Execute("fault a refuse=off hostpair=off inquiry=8"), "ok");
    EXPECT_EQ(control.Execute("date 2026-12-08"), "ok");
    EXPECT_EQ(control.Execute("date 2024-02-29"), "ok") << "a leap year";
    EXPECT_EQ(control.Execute("date 2000-02-29"), "ok") << "a century divisible by 400";
    EXPECT_EQ(control.Execute("# a comment"), "ok");
}

TEST(SimControl, RefusesWhatItCannotDoWithoutChangingAnything) {
    SimulatedBus bus;
    SimControl control(bus);
    ASSERT_EQ(control.Execute("add a"), "ok");
    const SimIdentity before = control.Drives()[0].drive->identity();
    const char* const bad[] = {
        "add a",                       // exists
        "add",                         // no name
        "frobnicate a",                // no such command
        "plug nobody",                 // no such drive
        "set a id=0123456789ABCDEFG",  // 17 characters
        "set a serial=has#hash",       // would break the interface names
        "set a pid=12345",             // more than 16 bits
        "set a fw=1",                  // no minor
        "set a vid=-1",                // not a number
        "host a check=1,2,3,4",        // four values
        "host a check=1,2,3,4,65536",  // out of range
        "host a expiry=2030-13-01",    // no 13th month
        "fault a",                     // nothing to do
        "fault a refuse=0",            // 0 would accept
        "fault a check=erase:on",      // no such command kind
        "fault a stall=maybe",         //
        "date 2026-1-8",               // not YYYY-MM-DD
        "date 2024-02-30",             // no such day
        "date 2023-02-29",             // not a leap year
        "date 1900-02-29",             // a century not divisible by 400
        "host a expiry=2030-06-31",    //
    };
    for (const char* line : bad) {
        EXPECT_EQ(control.Execute(line).rfind("error ", 0), 0u) << line;
    }
    // A word the language does not know is named as such, not taken for a drive command.
    EXPECT_EQ(control.Execute("help"), "error unknown command help");
    const SimIdentity after = control.Drives()[0].drive->identity();
    EXPECT_EQ(std::tie(after.serial, after.productId, after.identifier),
              std::tie(before.serial, before.productId, before.identifier));
}

TEST(SimDeviceInfo, ListsWhatTheSystemWouldForEachEnumerator) {
    SimulatedBus bus;
    SimControl control(bus);
    bus.SetEventListener([&](const SimDeviceEvent& e) { control.NoteEvent(e); });
    SimDeviceInfoSource source(control, [](const InterfaceGuid&) { return 7; });
    ASSERT_EQ(control.Execute("add a id=KX7A serial=SERA pid=1180"), "ok");
    EXPECT_TRUE(List(source, L"USB", false).empty()) << "never plugged: unknown to the system";

    ASSERT_EQ(control.Execute("plug a"), "ok");
    auto usb = List(source, L"USB", true);
    ASSERT_EQ(usb.size(), 1u);
    EXPECT_EQ(usb[0].id, L"USB\\VID_6B2F&PID_1180\\SERA");
    EXPECT_EQ(usb[0].name, L"USB Mass Storage Device");
    auto storage = List(source, L"USBSTOR", true);
    ASSERT_EQ(storage.size(), 1u) << "the locked drive's CD-ROM";
    EXPECT_EQ(storage[0].id.rfind(L"USBSTOR\\CDROM&VEN_SVI&PROD_VIRTUAL_CD_DRIVE", 0), 0u);
    EXPECT_TRUE(List(source, L"HID", false).empty());

    ASSERT_EQ(control.Execute("unplug a"), "ok");
    EXPECT_TRUE(List(source, L"USB", true).empty()) << "gone from the present devices";
    EXPECT_EQ(List(source, L"USB", false).size(), 1u) << "but still known to the system";
    EXPECT_TRUE(List(source, L"USBSTOR", false).empty()) << "a CD-ROM is not remembered";

    std::wstring text;
    InterfaceGuid usbClass{};
    uint32_t error = 0;
    ASSERT_EQ(control.Execute("plug a"), "ok");
    auto set = source.GetClassDevs(L"USB", true, &error);
    DeviceInfoData data;
    data.cbSize = 28;
    ASSERT_TRUE(set->EnumDeviceInfo(0, &data));
    usbClass = data.ClassGuid;
    EXPECT_TRUE(source.GetClassDescription(usbClass, &text));
    EXPECT_EQ(text, L"Universal Serial Bus controllers");
    EXPECT_EQ(source.GetClassImageIndex(usbClass), 7);
    data.cbSize = 32;
    EXPECT_FALSE(set->EnumDeviceInfo(0, &data)) << "a record of the wrong size is refused";
}

}  // namespace
}  // namespace kx7::sim
