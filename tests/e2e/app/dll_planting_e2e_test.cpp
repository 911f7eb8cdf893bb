// The elevated programs copied into a folder of their own together with DLLs under the names of
// system DLLs they use, as an attacker would leave them in a download folder: they must load the
// system's copies, never the planted ones.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/process_driver_win.h"
#include "tests/fakes/product_texts.h"

namespace kx7::e2e {
namespace {

using namespace test;

constexpr DWORD kTimeoutMs = 30000;
// The adapter list's DLL, and the device-setup DLL the connector reaches for its devices.
const wchar_t* const kPlantedNames[] = {L"iphlpapi.dll", L"setupapi.dll"};
const wchar_t* const kPrograms[] = {L"KX7AutoConnector.exe", L"KX7HostCheck.exe"};
const wchar_t kNativeFirst[] = L"native,builtin";

class DllPlanting : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(FindWindowW(nullptr, kTitle), nullptr) << "a connector is already running";
        wchar_t temp[MAX_PATH];
        ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
        folder_ = std::wstring(temp) + L"kx7-planted-" + std::to_wstring(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr)) << "a fresh folder";
        for (const wchar_t* exe : kPrograms) {
            ASSERT_TRUE(CopyFileW(ProgramPath(exe).c_str(), InFolder(exe).c_str(), TRUE));
        }
        for (const wchar_t* dll : kPlantedNames) {
            const std::wstring built = ProgramPath(L"planted\\") + dll;
            ASSERT_TRUE(CopyFileW(built.c_str(), InFolder(dll).c_str(), TRUE));
        }
        // Wine prefers its built-in copy of a system DLL to one beside the program; native
        // first, set for these programs only, makes it search the program's folder first, as
        // Windows does for any DLL that is not a known one. A child takes its Wine settings
        // from the registry, not from an environment its parent changed.
        for (const wchar_t* exe : kPrograms) {
            HKEY key = nullptr;
            ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, OverridesKey(exe).c_str(), 0, nullptr, 0,
                                      KEY_SET_VALUE, nullptr, &key, nullptr),
                      ERROR_SUCCESS);
            for (const wchar_t* dll : kPlantedNames) {
                const std::wstring name(dll, wcslen(dll) - 4);  // without ".dll"
                RegSetValueExW(key, name.c_str(), 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(kNativeFirst), sizeof(kNativeFirst));
            }
            RegCloseKey(key);
        }
    }

    void TearDown() override {
        for (const wchar_t* exe : kPrograms) {
            DeleteUserKey(OverridesKey(exe).c_str());
            DeleteFileW(InFolder(exe).c_str());
        }
        for (const wchar_t* dll : kPlantedNames) {
            DeleteFileW(InFolder(dll).c_str());
            DeleteFileW(Marker(dll).c_str());
        }
        RemoveDirectoryW(folder_.c_str());
    }

    static std::wstring OverridesKey(const wchar_t* exe) {
        return std::wstring(L"Software\\Wine\\AppDefaults\\") + exe + L"\\DllOverrides";
    }
    std::wstring InFolder(const wchar_t* name) const { return folder_ + L"\\" + name; }
    std::wstring Marker(const wchar_t* dll) const { return InFolder(dll) + L".loaded"; }

    void ExpectNoPlantedDllLoaded() const {
        for (const wchar_t* dll : kPlantedNames) {
            EXPECT_EQ(GetFileAttributesW(Marker(dll).c_str()), INVALID_FILE_ATTRIBUTES)
                << "the planted " << std::string(dll, dll + wcslen(dll)) << " was loaded";
        }
    }

    std::wstring folder_;
};

TEST_F(DllPlanting, ConnectorCollectsThisPcsIdentityWithTheSystemsDlls) {
    ChildProcess connector;
    ASSERT_TRUE(connector.Start(InFolder(L"KX7AutoConnector.exe"), L""));
    // The window's set-up collects this PC's identity before a close can be handled.
    HWND window = WaitForWindow(kClass, kTitle, connector.pid(), kTimeoutMs);
    EXPECT_NE(window, nullptr) << "the connector started";
    if (window != nullptr) {
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    DWORD code = 1234;
    if (window == nullptr || !connector.WaitExit(20000, &code)) {
        connector.Kill();
    }
    EXPECT_EQ(code, 0u);
    ExpectNoPlantedDllLoaded();
}

TEST_F(DllPlanting, HostCheckListsTheAdaptersWithTheSystemsDlls) {
    std::string output;
    DWORD code = 1234;
    ASSERT_TRUE(RunCapturingOutput(InFolder(L"KX7HostCheck.exe"), L"", kTimeoutMs, &output, &code));
    EXPECT_NE(output.find("Wired network adapters of this PC:\r\n  NIC # 0  "), std::string::npos)
        << output;
    ExpectNoPlantedDllLoaded();
}

}  // namespace
}  // namespace kx7::e2e
