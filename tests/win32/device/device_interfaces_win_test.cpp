// The SetupAPI listing and the opener as Wine provides them. Wine lists no CD-ROM, disk or USB
// storage interfaces, but under a display it lists the monitor's, which is enough to see that
// the interface details are read into whole, terminated device paths.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "connector/device/device_interfaces.h"
#include "connector/platform/setupapi_win.h"

namespace kx7 {
namespace {

// {E6F07B5F-EE97-4A90-B076-33F57BF4EAA7}: monitors.
constexpr InterfaceGuid kGuidDevinterfaceMonitor = {
    0xE6F07B5F, 0xEE97, 0x4A90, {0xB0, 0x76, 0x33, 0xF5, 0x7B, 0xF4, 0xEA, 0xA7}};

TEST(SystemDeviceInterfacesTest, ListsPresentInterfacesAsDevicePaths) {
    DeviceInterfaces& interfaces = SystemDeviceInterfaces();
    for (const InterfaceGuid& cls :
         {kGuidDevinterfaceCdrom, kGuidDevinterfaceDisk, kGuidDevinterfaceMonitor}) {
        std::vector<std::wstring> paths = {L"stale"};  // must not survive the listing
        ASSERT_TRUE(interfaces.ListPresent(cls, &paths));
        for (const std::wstring& path : paths) {
            EXPECT_EQ(path.compare(0, 4, L"\\\\?\\"), 0);
            EXPECT_LT(path.size(), 261u);
        }
        if (cls == kGuidDevinterfaceMonitor) {
            ASSERT_FALSE(paths.empty());
            // The path ends with the class, so nothing was cut off on the way.
            const std::wstring tail = L"{e6f07b5f-ee97-4a90-b076-33f57bf4eaa7}";
            ASSERT_GT(paths[0].size(), tail.size());
            EXPECT_EQ(paths[0].compare(paths[0].size() - tail.size(), tail.size(), tail), 0);
        }
    }
}

TEST(SystemDeviceInterfacesTest, SetupCallsResolveAllOrNone) {
    const SetupApi* api = SystemSetupApi();
    ASSERT_NE(api, nullptr);
    EXPECT_EQ(api, SystemSetupApi()) << "resolved once";
    HMODULE setupApi = GetModuleHandleW(L"setupapi.dll");
    ASSERT_NE(setupApi, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(api->DestroyClassImageList),
              reinterpret_cast<void*>(GetProcAddress(setupApi, "SetupDiDestroyClassImageList")));

    // A module without the calls leaves no entry behind, and says why.
    SetupApi table;
    std::memset(&table, 0xA5, sizeof(table));
    EXPECT_FALSE(ResolveSetupApi(GetModuleHandleW(L"kernel32.dll"), &table));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    const SetupApi none{};
    EXPECT_EQ(std::memcmp(&table, &none, sizeof(table)), 0);
}

TEST(SystemDeviceInterfacesTest, OpeningAMissingPathGivesNothing) {
    EXPECT_EQ(SystemDeviceInterfaces().Open(L"\\\\?\\usbstor#cdrom&ven_svi&prod_none#0#{x}"),
              nullptr);
}

}  // namespace
}  // namespace kx7
