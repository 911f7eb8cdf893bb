// Discovery reading each drive's "Mode" from the registry that Wine provides. The key path it
// builds ends with a backslash; the in-memory registry of the native tests forgives that, so
// only the real one can show that the value is still found through it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "connector/device/device_table.h"
#include "connector/platform/reg_values.h"
#include "connector/platform/registration.h"
#include "sim/simulated_bus.h"
#include "tests/fakes/fake_clock.h"
#include "sim/seams/sim_seams.h"
#include "tests/fakes/registry_values_win.h"

namespace kx7 {
namespace {

const wchar_t kAgentKey[] = L"SOFTWARE\\Stonevault\\KX7EntryPCAgent";
// Three drives: one bound with a DWORD, one whose "Mode" is text, one without a key at all.
const char* const kIdentifiers[] = {"KX7WINE-BOUND-01", "KX7WINE-TEXT-002", "KX7WINE-NOKEY-03"};

class DiscoveryOnTheSystemRegistry : public ::testing::Test {
  protected:
    void SetUp() override { DeleteDriveKeys(); }
    void TearDown() override { DeleteDriveKeys(); }

    static std::wstring DriveKey(const char* identifier) {
        // Written the way the registration program names the key: no trailing backslash.
        return std::wstring(kAgentKey) + L"\\" +
               std::wstring(identifier, identifier + std::strlen(identifier));
    }
    static void DeleteDriveKeys() {
        for (const char* identifier : kIdentifiers) {
            RegDeleteTreeW(HKEY_CURRENT_USER, DriveKey(identifier).c_str());
        }
    }
    static void Plant(const char* identifier, DWORD type, const void* data, DWORD size) {
        test::PlantValue(HKEY_CURRENT_USER, DriveKey(identifier), L"Mode", type, data, size);
    }
};

TEST_F(DiscoveryOnTheSystemRegistry, ReadsModeThroughTheKeyPathWithItsTrailingBackslash) {
    const DWORD bound = 0x15;
    const wchar_t text[] = L"21";
    Plant(kIdentifiers[0], REG_DWORD, &bound, sizeof(bound));
    Plant(kIdentifiers[1], REG_SZ, text, sizeof(text));

    uint8_t identifier[16];
    std::memcpy(identifier, kIdentifiers[0], sizeof(identifier));
    const std::wstring built = DriveBindingKeyPath(SystemCodePage(), identifier);
    ASSERT_EQ(built, DriveKey(kIdentifiers[0]) + L"\\");
    EXPECT_EQ(ReadRegDword(SystemRegistry(), built, L"Mode"), 0x15);

    sim::SimulatedBus bus;
    char serialTail = '1';
    for (const char* id : kIdentifiers) {
        sim::SimIdentity identity;
        std::memcpy(identity.identifier.data(), id, identity.identifier.size());
        identity.serial = std::string("WINEMODE000") + serialTail++;
        ASSERT_TRUE(bus.Plug(bus.AddDrive(identity)));
    }
    sim::SimBusInterfaces interfaces(bus);
    test::FakeClock clock;
    DiscoveryContext context{interfaces, clock, SystemRegistry(), SystemCodePage()};
    auto table = std::make_unique<DeviceTable>();
    std::memset(table.get(), 0xA5, sizeof(DeviceTable));

    ASSERT_EQ(DiscoverDrives(context, kGuidDevinterfaceCdrom, table.get()), 3);
    EXPECT_EQ(table->mode[0], 0x15);
    EXPECT_EQ(table->mode[1], 0);
    EXPECT_EQ(table->mode[2], 0);
    // Reading is all discovery does: the drive without a key still has none.
    HKEY key = nullptr;
    EXPECT_EQ(
        RegOpenKeyExW(HKEY_CURRENT_USER, DriveKey(kIdentifiers[2]).c_str(), 0, KEY_READ, &key),
        ERROR_FILE_NOT_FOUND);
}

}  // namespace
}  // namespace kx7
